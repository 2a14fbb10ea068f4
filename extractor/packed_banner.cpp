// Unpacking the gzip-packed banner: one inflate call into a block of the
// size that the gzip trailer states, checked against what came out.
#include "extractor/packed_banner.h"

#include <zlib.h>

#include "runtime/memory.h"

namespace {

// A gzip stream ends with its CRC-32 and its unpacked length, 4 bytes each.
const int32_t kGzipLengthBytes = 4;
// Header and trailer of the smallest gzip stream.
const int32_t kGzipMinimumBytes = 18;
// zlib's window bits for a 32 KiB window, plus 16 to expect the gzip wrapper.
const int kGzipWindowBits = 15 + 16;

}  // namespace

void* UnpackBanner(const void* packed, int32_t packedBytes, int32_t* bytes) {
  *bytes = 0;
  if (packed == nullptr || packedBytes < kGzipMinimumBytes) return nullptr;
  const unsigned char* tail = (const unsigned char*)packed + packedBytes - kGzipLengthBytes;
  uint32_t declared = static_cast<uint32_t>(tail[0]) | static_cast<uint32_t>(tail[1]) << 8 |
                      static_cast<uint32_t>(tail[2]) << 16 | static_cast<uint32_t>(tail[3]) << 24;
  // The trailer's length decides the block: keep a damaged one in bounds.
  if (declared == 0 || declared > static_cast<uint32_t>(kBannerLimitBytes)) return nullptr;
  unsigned char* image = (unsigned char*)AllocateBlock(declared);
  if (image == nullptr) return nullptr;

  z_stream stream = {};
  if (inflateInit2(&stream, kGzipWindowBits) != Z_OK) {
    FreeBlock(image);
    return nullptr;
  }
  stream.next_in = (Bytef*)packed;
  stream.avail_in = (uInt)packedBytes;
  stream.next_out = image;
  stream.avail_out = (uInt)declared;
  // Z_STREAM_END comes only after zlib has checked the CRC-32 and length.
  int result = inflate(&stream, Z_FINISH);
  int whole = result == Z_STREAM_END && stream.total_out == declared && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!whole) {
    FreeBlock(image);
    return nullptr;
  }
  *bytes = static_cast<int32_t>(declared);
  return image;
}
