#!/usr/bin/env bash
# Fetches Debian's zlib source package into DEST (default build/deps) and
# unpacks it with Debian's patches applied. The version is pinned, and the
# .dsc must have the checksum below; dpkg-source then checks the tarballs
# against the .dsc. Skips all work when already there.
#
# The pin is zlib 1.2.13, the release of Debian 12's zlib1g and of
# libz-mingw-w64-dev, so the Windows programs deflate exactly as before.
set -euo pipefail
version="1:1.2.13.dfsg-1"
dsc_sha256="3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8"
dest=${1:-build/deps}
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -f "$dest/zlib/inflate.c" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only -qq "zlib=$version" >/dev/null 2>&1 || {
  apt-get update -qq
  apt-get source --download-only -qq "zlib=$version" >/dev/null
}
dsc=$(ls ./*.dsc | head -n 1)
if ! echo "$dsc_sha256  $dsc" | sha256sum -c --quiet -; then
  echo "zlib: $dsc does not have the pinned checksum" >&2
  exit 1
fi
# The pinned checksum stands in for the signature, whose key is not on the
# machine: dpkg-source's warning about it is kept out of sight.
if ! dpkg-source -x "$dsc" src >/dev/null 2>dpkg-source.log; then
  cat dpkg-source.log >&2
  exit 1
fi
rm -rf "$dest/zlib"
mkdir -p "$dest/zlib"
# Keep only the library's own sources and headers.
for f in adler32.c compress.c crc32.c crc32.h deflate.c deflate.h gzguts.h inffast.c inffast.h \
         inffixed.h inflate.c inflate.h inftrees.c inftrees.h trees.c trees.h uncompr.c \
         zconf.h zlib.h zutil.c zutil.h; do
  cp "src/$f" "$dest/zlib/$f"
done
cp "$dsc" "$dest/zlib/"
echo "zlib: $(basename "$dsc" .dsc) unpacked into $dest/zlib"
