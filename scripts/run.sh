#!/usr/bin/env bash
# The main job: installs, builds everything and says where the programs are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh
echo
echo "Built:"
for f in build/win32/maker/VezovudMaker.exe build/win32/extractor/VezovudStub.exe build/native/cli/vezovud; do
  [ -e "$f" ] && echo "  $root/$f"
done
exit 0
