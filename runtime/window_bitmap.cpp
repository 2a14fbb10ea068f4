// The BMP file image check of window_bitmap.h. It reads the 14-byte file
// header and the information header that follows, little-endian, and trusts
// no offset or size until it has been held against the data's length.
#include "runtime/window_bitmap.h"

namespace {

const uint32_t kCompressionNone = 0;       // BI_RGB
const uint32_t kCompressionBitfields = 3;  // BI_BITFIELDS
const int32_t kBitfieldMaskBytes = 12;
const int32_t kColourEntryBytes = 4;

uint32_t ReadLittle32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t ReadLittle16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

int32_t ReadBitmapLayout(const void* bmp, int32_t bytes, BitmapLayout* layout) {
  if (bmp == nullptr || layout == nullptr || bytes < kBmpFileHeaderBytes + kBmpInfoHeaderBytes)
    return 0;
  const uint8_t* file = (const uint8_t*)bmp;
  if (file[0] != 'B' || file[1] != 'M') return 0;
  uint32_t pixelOffset = ReadLittle32(file + 10);
  uint32_t headerBytes = ReadLittle32(file + 14);
  int32_t width = static_cast<int32_t>(ReadLittle32(file + 18));
  int32_t height = static_cast<int32_t>(ReadLittle32(file + 22));
  uint16_t bitsPerPixel = ReadLittle16(file + 28);
  uint32_t compression = ReadLittle32(file + 30);
  uint32_t coloursUsed = ReadLittle32(file + 46);

  // The information header must lie inside the data.
  if (headerBytes < static_cast<uint32_t>(kBmpInfoHeaderBytes) ||
      headerBytes > static_cast<uint32_t>(bytes - kBmpFileHeaderBytes))
    return 0;
  // Sides are bounded so that no size below can overflow.
  if (width <= 0 || width > kMaxImageSidePixels || height == 0 || height < -kMaxImageSidePixels ||
      height > kMaxImageSidePixels)
    return 0;

  // The colour table (or bit-field masks) follows the header and must fit too.
  int64_t tableBytes = 0;
  if (bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8) {
    uint32_t maxColours = 1u << bitsPerPixel;
    if (compression != kCompressionNone || coloursUsed > maxColours) return 0;
    tableBytes =
        static_cast<int64_t>(kColourEntryBytes) * (coloursUsed != 0 ? coloursUsed : maxColours);
  } else if (bitsPerPixel == 16 || bitsPerPixel == 32) {
    if (compression == kCompressionBitfields) {
      if (headerBytes == static_cast<uint32_t>(kBmpInfoHeaderBytes))
        tableBytes = kBitfieldMaskBytes;
    } else if (compression != kCompressionNone) {
      return 0;
    }
  } else if (bitsPerPixel == 24) {
    if (compression != kCompressionNone) return 0;
  } else {
    return 0;
  }
  if (static_cast<int64_t>(kBmpFileHeaderBytes) + headerBytes + tableBytes > bytes) return 0;

  // Every pixel row, each padded to 4 bytes, must lie inside the data.
  int32_t rows = height < 0 ? -height : height;
  int64_t rowBytes = ((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32) * 4;
  if (pixelOffset < static_cast<uint32_t>(kBmpFileHeaderBytes) + headerBytes) return 0;
  if (static_cast<int64_t>(pixelOffset) + rowBytes * rows > bytes) return 0;

  layout->width = width;
  layout->height = height;
  layout->rows = rows;
  layout->bitsPerPixel = bitsPerPixel;
  layout->pixelOffset = pixelOffset;
  return 1;
}
