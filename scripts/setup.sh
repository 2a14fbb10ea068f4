#!/usr/bin/env bash
# Installs what the build needs on Debian 12, as root; with "test", also what
# the tests need.
#   bash scripts/setup.sh        the native tool and the Windows programs:
#                                compilers, zlib, minizip, cmake (no Wine,
#                                no i386, no clang, no ImageMagick)
#   bash scripts/setup.sh test   and Wine (with i386 for wine32), Xvfb, the
#                                foreign archivers, clang, the signing tools
# Idempotent: when every package is already present, no apt command runs.
set -euo pipefail

packages=(
  build-essential cmake pkg-config dpkg-dev file
  googletest libgtest-dev
  zlib1g-dev libminizip-dev
  g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
)
test_packages=(
  g++-mingw-w64-x86-64 gcc-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  wine wine32 wine64 xvfb xdotool x11-utils
  unzip zip p7zip-full python3 icoutils imagemagick
  osslsigncode openssl
  clang libclang-rt-14-dev
)
case "${1:-build}" in
  build) ;;
  test) packages+=("${test_packages[@]}") ;;
  *) echo "usage: bash scripts/setup.sh [test]" >&2; exit 2 ;;
esac

need_update=0

# 32-bit Wine needs the i386 architecture.
if [ "${1:-build}" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

# apt's source download needs a deb-src entry for the main archive.
has_src() {
  grep -rhsE '^\s*(Types:.*deb-src|deb-src\s)' /etc/apt/sources.list /etc/apt/sources.list.d/ >/dev/null
}
if ! has_src; then
  src=/etc/apt/sources.list.d/debian-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # Copy the first (main archive) stanza, with deb-src as its type.
    awk 'BEGIN{RS=""; ORS="\n\n"} NR==1 {sub(/Types: *deb/, "Types: deb-src"); print}' \
      /etc/apt/sources.list.d/debian.sources > "$src"
  else
    line=$(grep -m1 -E '^\s*deb\s' /etc/apt/sources.list)
    echo "${line/deb /deb-src }" > /etc/apt/sources.list.d/debian-src.list
  fi
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  case "$p" in wine32) q="wine32:i386" ;; *) q="$p" ;; esac
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ] || [ $need_update -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
fi
