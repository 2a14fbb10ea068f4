#!/usr/bin/env bash
# Fetches Debian's minizip source package into DEST (default build/deps): the
# library sources only (the package also carries the sample tools), pinned
# to the version libminizip-dev has on Debian 12 and checksum-checked.
set -euo pipefail
exec bash "$(dirname "$0")/fetch-source.sh" minizip "1.1-8+deb12u1" \
  1a518d106083cac24385382a34e0452b5a659919206a147a6f66d85d60adf135 "${1:-build/deps}" \
  zip.c zip.h unzip.c unzip.h ioapi.c ioapi.h crypt.h
