#!/usr/bin/env bash
# Fetches Debian's minizip source package into DEST (default build/deps) and
# unpacks it with Debian's patches applied. Skips all work when already there.
set -euo pipefail
dest=${1:-build/deps}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -f "$dest/minizip/zip.c" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only -qq minizip >/dev/null 2>&1 || {
  apt-get update -qq
  apt-get source --download-only -qq minizip >/dev/null
}
dsc=$(ls ./*.dsc | head -n 1)
dpkg-source --no-check -x "$dsc" src >/dev/null
rm -rf "$dest/minizip"
mkdir -p "$dest/minizip"
# Keep only the library sources; the package also carries the sample tools.
for f in zip.c zip.h unzip.c unzip.h ioapi.c ioapi.h crypt.h; do
  cp "src/$f" "$dest/minizip/$f"
done
cp "$dsc" "$dest/minizip/"
echo "minizip: $(basename "$dsc" .dsc) unpacked into $dest/minizip"
