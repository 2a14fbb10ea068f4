// Shared by the window tests and the sample program: BMP file images built in
// memory (24-bit, bottom-up, rows padded to 4 bytes, 40-byte header) and the
// two programs' windows, opened gadget by gadget through the window layer.
#ifndef VEZOVUD_TESTS_WINDOW_SAMPLE_LAYOUTS_H
#define VEZOVUD_TESTS_WINDOW_SAMPLE_LAYOUTS_H

#include <stdint.h>

#include <vector>

#include "runtime/window.h"

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
  const uint32_t fields[][3] = {{2, (uint32_t)bmp.size(), 4}, {10, (uint32_t)pixelOffset, 4},
                                {14, 40, 4}, {18, (uint32_t)width, 4}, {22, (uint32_t)height, 4},
                                {26, 1, 2}, {28, 24, 2}, {34, (uint32_t)(rowBytes * height), 4}};
  for (const auto& f : fields) PutLittle(bmp, f[0], f[1], (int)f[2]);
  for (int y = 0; y < height; y++) {
    size_t row = pixelOffset + rowBytes * (size_t)(height - 1 - y);  // bottom-up
    for (int x = 0; x < width; x++) PutLittle(bmp, row + 3 * x, y == 0 ? topRow : colour, 3);
  }
  return bmp;
}

// Opens window 0 at (405, 334) with the gadgets of the Maker's window (Exit 6,
// Squeeze! 7, About 8) or the stub's, the picture showing image 0; the stub's
// window stays hidden until shown. Returns 1 when every object was made.
inline int OpenLayout(bool maker) {
  if (OpenWindowByNumber(0, 405, 334, 253, maker ? 161 : 125,
                         maker ? "Vezovud v1.0" : "Vezovud Archive",
                         maker ? kWindowTitleBar : kWindowInvisible | kWindowTitleBar) == 0 ||
      BeginGadgets(WindowHandleOf(0)) == 0) {
    return 0;
  }
  const intptr_t image = ImageHandleOf(0);
  if (maker) {
    return AddTextField(0, 5, 60, 180, 20, "") && AddPicture(1, 0, 0, 253, 34, image) &&
           AddLabel(2, 5, 45, 245, 15, "Choose your folder:") &&
           AddButton(3, 190, 60, 60, 20, "Browse") && AddProgressBar(4, 5, 110, 240, 15, 0, 100) &&
           AddLabel(5, 5, 90, 240, 15, "Ready...") && AddButton(6, 125, 135, 60, 20, "Exit") &&
           AddButton(7, 190, 135, 60, 20, "Squeeze!") && AddButton(8, 5, 135, 60, 20, "About");
  }
  return AddTextField(1, 5, 55, 180, 20, "") && AddPicture(2, 0, 0, 253, 34, image) &&
         AddLabel(3, 5, 40, 245, 15, "Choose your destination directory:") &&
         AddButton(4, 190, 55, 60, 20, "Browse") && AddProgressBar(5, 5, 80, 245, 15, 0, 100) &&
         AddButton(6, 105, 100, 70, 20, "Exit") && AddButton(7, 180, 100, 70, 20, "Extract") &&
         AddButton(8, 5, 100, 60, 20, "About");
}

}  // namespace window_test

#endif
