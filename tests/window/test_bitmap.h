// 24-bit bottom-up BMP file images built in memory for the window tests.
#ifndef VEZOVUD_TESTS_WINDOW_TEST_BITMAP_H
#define VEZOVUD_TESTS_WINDOW_TEST_BITMAP_H

#include <stdint.h>

#include <vector>

namespace window_test {

inline void PutLittle(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; i++) out[at + i] = (uint8_t)(value >> (8 * i));
}

// A width x height image of colour (0xRRGGBB) with its top row in topRow.
inline std::vector<uint8_t> MakeBitmap(int width, int height, uint32_t colour, uint32_t topRow) {
  const size_t rowBytes = ((size_t)width * 3 + 3) / 4 * 4, pixelOffset = 54;
  std::vector<uint8_t> bmp(pixelOffset + rowBytes * height, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  const uint32_t fields[][3] = {{2, (uint32_t)bmp.size(), 4},
                                {10, (uint32_t)pixelOffset, 4},
                                {14, 40, 4},
                                {18, (uint32_t)width, 4},
                                {22, (uint32_t)height, 4},
                                {26, 1, 2},
                                {28, 24, 2},
                                {34, (uint32_t)(rowBytes * height), 4}};
  for (const auto& f : fields) PutLittle(bmp, f[0], f[1], (int)f[2]);
  for (int y = 0; y < height; y++) {
    size_t row = pixelOffset + rowBytes * (size_t)(height - 1 - y);  // bottom-up
    for (int x = 0; x < width; x++) PutLittle(bmp, row + 3 * x, y == 0 ? topRow : colour, 3);
  }
  return bmp;
}

}  // namespace window_test

#endif
