#!/usr/bin/env bash
# Fetches Debian's zlib source package into DEST (default build/deps): the
# library's own sources and headers, pinned and checksum-checked.
#
# The pin is zlib 1.2.13, the release of Debian 12's zlib1g and of
# libz-mingw-w64-dev, so the Windows programs deflate exactly as before.
set -euo pipefail
exec bash "$(dirname "$0")/fetch-source.sh" zlib "1:1.2.13.dfsg-1" \
  3fa1e6b2fc525062aa88207dda52fed8e045373c809d362fe8a2bfbf7cf515a8 "${1:-build/deps}" \
  inflate.c adler32.c compress.c crc32.c crc32.h deflate.c deflate.h gzguts.h inffast.c \
  inffast.h inffixed.h inflate.h inftrees.c inftrees.h trees.c trees.h uncompr.c zconf.h \
  zlib.h zutil.c zutil.h
