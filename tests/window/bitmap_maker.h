// Builds BMP file images in memory for the window tests and the sample
// windows: 24-bit, bottom-up, rows padded to 4 bytes, 40-byte information
// header, each pixel from a colour function. Also the programs' banners.
#ifndef VEZOVUD_TESTS_WINDOW_BITMAP_MAKER_H
#define VEZOVUD_TESTS_WINDOW_BITMAP_MAKER_H

#include <stdint.h>

#include <functional>
#include <vector>

namespace window_test {

// Colour of pixel (x, y), y counted from the top, as 0xRRGGBB.
using PixelColour = std::function<uint32_t(int x, int y)>;

inline void PutLittle(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out[at + i] = (uint8_t)(value >> (8 * i));
}

inline std::vector<uint8_t> MakeBitmap(int width, int height, const PixelColour& colour) {
  const size_t rowBytes = ((size_t)width * 3 + 3) / 4 * 4;
  const size_t pixelOffset = 14 + 40;
  std::vector<uint8_t> bmp(pixelOffset + rowBytes * height, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutLittle(bmp, 2, (uint32_t)bmp.size(), 4);
  PutLittle(bmp, 10, (uint32_t)pixelOffset, 4);
  PutLittle(bmp, 14, 40, 4);
  PutLittle(bmp, 18, (uint32_t)width, 4);
  PutLittle(bmp, 22, (uint32_t)height, 4);
  PutLittle(bmp, 26, 1, 2);
  PutLittle(bmp, 28, 24, 2);
  PutLittle(bmp, 34, (uint32_t)(rowBytes * height), 4);
  for (int y = 0; y < height; y++) {
    // Bottom-up: the file's first row is the picture's last.
    size_t row = pixelOffset + rowBytes * (size_t)(height - 1 - y);
    for (int x = 0; x < width; x++) {
      uint32_t c = colour(x, y);
      bmp[row + 3 * x + 0] = (uint8_t)c;          // blue
      bmp[row + 3 * x + 1] = (uint8_t)(c >> 8);   // green
      bmp[row + 3 * x + 2] = (uint8_t)(c >> 16);  // red
    }
  }
  return bmp;
}

inline std::vector<uint8_t> MakeSolidBitmap(int width, int height, uint32_t colour) {
  return MakeBitmap(width, height, [colour](int, int) { return colour; });
}

}  // namespace window_test

#endif
