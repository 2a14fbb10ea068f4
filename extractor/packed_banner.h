// The stub's banner travels gzip-packed inside the executable (the build
// packs the BMP with gzip -9 -n) and is unpacked once at start-up with the
// zlib that the archive reader links anyway; the window layer then receives
// an ordinary BMP file image.
#ifndef VEZOVUD_EXTRACTOR_PACKED_BANNER_H
#define VEZOVUD_EXTRACTOR_PACKED_BANNER_H

#include <stdint.h>

// The largest unpacked image accepted; a damaged size field never asks for more.
const int32_t kBannerLimitBytes = 1024 * 1024;

// Unpacks the gzip stream at packed (packedBytes long) into a new block
// (free it with FreeBlock) and stores its length in *bytes. The stream must
// be whole: it must end where packed ends, come out at exactly the length
// its trailer states (1 to kBannerLimitBytes bytes) and pass its CRC-32.
// Returns null, with *bytes 0, for anything else or when memory is short.
void* UnpackBanner(const void* packed, int32_t packedBytes, int32_t* bytes);

#endif
