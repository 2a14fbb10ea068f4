// Checks a BMP file image in memory before a window back end decodes it:
// shared by the Win32 and the headless back end so both refuse the same
// damaged or hostile data. Internal to the window layer.
#ifndef VEZOVUD_RUNTIME_WINDOW_BITMAP_H
#define VEZOVUD_RUNTIME_WINDOW_BITMAP_H

#include <stdint.h>

const int32_t kBmpFileHeaderBytes = 14;
const int32_t kBmpInfoHeaderBytes = 40;
const int32_t kMaxImageSidePixels = 16384;

// Where the parts of a BMP file image lie.
struct BitmapLayout {
  int32_t width;         // pixels, 1 .. kMaxImageSidePixels
  int32_t height;        // as stored: positive bottom-up, negative top-down
  int32_t rows;          // |height|
  int32_t bitsPerPixel;  // 1, 4, 8, 16, 24 or 32
  uint32_t pixelOffset;  // file offset of the first pixel row
};

// Returns 1 and fills layout when bmp, bytes long, starts with "BM", has an
// information header of at least 40 bytes, an uncompressed (or bit-field)
// format, sides within the limit, and its header, colour table and every
// pixel row inside the data. Returns 0 otherwise (layout untouched).
int32_t ReadBitmapLayout(const void* bmp, int32_t bytes, BitmapLayout* layout);

#endif
