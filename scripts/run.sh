#!/usr/bin/env bash
# The main job: installs and builds what is missing, then packs a folder into
# a self-extracting archive and lists it.
#   bash scripts/run.sh                 packs examples/demo into out/demo.exe
#   bash scripts/run.sh FOLDER [OUTPUT] packs FOLDER (OUTPUT: out/<name>.exe)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh
out=${VEZOVUD_BUILD:-build}

vezovud="$out/native/cli/vezovud"

echo
echo "Built:"
for f in "$out/win32/maker/VezovudMaker.exe" "$out/win32/extractor/VezovudStub.exe" "$vezovud"; do
  [ -e "$f" ] && echo "  $f"
done

if [ $# -ge 1 ]; then
  folder=$1
  output=${2:-out/$(basename "$(cd "$folder" && pwd)").exe}
else
  folder=examples/demo
  output=out/demo.exe
  # git keeps no empty folders; the demo's empty folder is made here.
  mkdir -p examples/demo/empty
fi
mkdir -p "$(dirname "$output")"
echo
echo "Packing $folder into $output"
"$vezovud" pack "$folder" "$output"
echo
"$vezovud" list "$output"
