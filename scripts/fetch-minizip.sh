#!/usr/bin/env bash
# Fetches Debian's minizip source package into DEST (default build/deps) and
# unpacks it with Debian's patches applied. The version is pinned to the one
# libminizip-dev has on Debian 12, and the .dsc must have the checksum below;
# dpkg-source then checks the tarballs against the .dsc. Skips all work when
# already there.
set -euo pipefail
version="1.1-8+deb12u1"
dsc_sha256="1a518d106083cac24385382a34e0452b5a659919206a147a6f66d85d60adf135"
dest=${1:-build/deps}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -f "$dest/minizip/zip.c" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only -qq "minizip=$version" >/dev/null 2>&1 || {
  apt-get update -qq
  apt-get source --download-only -qq "minizip=$version" >/dev/null
}
dsc=$(ls ./*.dsc | head -n 1)
if ! echo "$dsc_sha256  $dsc" | sha256sum -c --quiet -; then
  echo "minizip: $dsc does not have the pinned checksum" >&2
  exit 1
fi
# The pinned checksum stands in for the signature, whose key is not on the
# machine: dpkg-source's warning about it is kept out of sight.
if ! dpkg-source -x "$dsc" src >/dev/null 2>dpkg-source.log; then
  cat dpkg-source.log >&2
  exit 1
fi
rm -rf "$dest/minizip"
mkdir -p "$dest/minizip"
# Keep only the library sources; the package also carries the sample tools.
for f in zip.c zip.h unzip.c unzip.h ioapi.c ioapi.h crypt.h; do
  cp "src/$f" "$dest/minizip/$f"
done
cp "$dsc" "$dest/minizip/"
echo "minizip: $(basename "$dsc" .dsc) unpacked into $dest/minizip"
