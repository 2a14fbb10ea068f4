#!/usr/bin/env bash
# Fetches one of Debian's source packages, pinned to a version whose .dsc
# must have the given checksum, unpacks it with Debian's patches applied
# (dpkg-source checks the tarballs against the .dsc), and keeps only the
# named files in DEST/NAME. Skips all work when the first of them is there.
#   bash scripts/fetch-source.sh NAME VERSION DSC_SHA256 DEST FILE...
set -euo pipefail
name=$1 version=$2 dsc_sha256=$3 dest=$4
shift 4
mkdir -p "$dest"
dest=$(cd "$dest" && pwd)
if [ -f "$dest/$name/$1" ]; then
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source --download-only -qq "$name=$version" >/dev/null 2>&1 || {
  apt-get update -qq
  apt-get source --download-only -qq "$name=$version" >/dev/null
}
dsc=$(ls ./*.dsc | head -n 1)
if ! echo "$dsc_sha256  $dsc" | sha256sum -c --quiet -; then
  echo "$name: $dsc does not have the pinned checksum" >&2
  exit 1
fi
# The pinned checksum stands in for the signature, whose key is not on the
# machine: dpkg-source's warning about it is kept out of sight.
if ! dpkg-source -x "$dsc" src >/dev/null 2>dpkg-source.log; then
  cat dpkg-source.log >&2
  exit 1
fi
rm -rf "${dest:?}/$name"
mkdir -p "$dest/$name"
for f in "$@"; do
  cp "src/$f" "$dest/$name/$f"
done
cp "$dsc" "$dest/$name/"
echo "$name: $(basename "$dsc" .dsc) unpacked into $dest/$name"
