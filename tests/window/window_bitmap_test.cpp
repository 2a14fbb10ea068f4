// Tests of the BMP file image check that both window back ends run before
// decoding: a table of damaged and hostile headers, each with the expected
// verdict, and the programs' own banners.
#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/window_bitmap.h"
#include "window/bitmap_maker.h"

#ifdef VEZOVUD_HAVE_BANNERS
#include "resources/embedded.h"
VEZOVUD_DECLARE_EMBEDDED(window_test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(window_test_stub_banner);
#endif

namespace {

using window_test::MakeSolidBitmap;
using window_test::PutLittle;

std::vector<uint8_t> Banner() { return MakeSolidBitmap(253, 34, 0x80C0FF); }

struct Case {
  const char* label;
  std::function<void(std::vector<uint8_t>&)> damage;
  bool accepted;
};

TEST(BitmapLayoutTest, CraftedHeadersGetTheExpectedVerdict) {
  const Case cases[] = {
      {"untouched banner", [](std::vector<uint8_t>&) {}, true},
      {"no BM signature", [](std::vector<uint8_t>& b) { b[1] = 'N'; }, false},
      {"last pixel byte missing", [](std::vector<uint8_t>& b) { b.pop_back(); }, false},
      {"only the file header", [](std::vector<uint8_t>& b) { b.resize(14); }, false},
      {"headers one byte short", [](std::vector<uint8_t>& b) { b.resize(53); }, false},
      {"pixel offset past the end",
       [](std::vector<uint8_t>& b) { PutLittle(b, 10, 0xFFFFFFF0u, 4); }, false},
      {"pixel offset inside the headers", [](std::vector<uint8_t>& b) { PutLittle(b, 10, 20, 4); },
       false},
      {"header size below 40", [](std::vector<uint8_t>& b) { PutLittle(b, 14, 12, 4); }, false},
      {"header size beyond the data",
       [](std::vector<uint8_t>& b) { PutLittle(b, 14, 0x7FFFFFFF, 4); }, false},
      {"width zero", [](std::vector<uint8_t>& b) { PutLittle(b, 18, 0, 4); }, false},
      {"negative width", [](std::vector<uint8_t>& b) { PutLittle(b, 18, 0xFFFFFF03u, 4); }, false},
      {"height zero", [](std::vector<uint8_t>& b) { PutLittle(b, 22, 0, 4); }, false},
      {"height of INT_MIN", [](std::vector<uint8_t>& b) { PutLittle(b, 22, 0x80000000u, 4); },
       false},
      {"top-down rows (negative height)",
       [](std::vector<uint8_t>& b) { PutLittle(b, 22, (uint32_t)-34, 4); }, true},
      {"height one row more than the data",
       [](std::vector<uint8_t>& b) { PutLittle(b, 22, 35, 4); }, false},
      {"huge width overflowing a 32-bit row size",
       [](std::vector<uint8_t>& b) { PutLittle(b, 18, 0x40000000u, 4); }, false},
      {"7 bits per pixel", [](std::vector<uint8_t>& b) { PutLittle(b, 28, 7, 2); }, false},
      {"RLE compressed", [](std::vector<uint8_t>& b) { PutLittle(b, 30, 1, 4); }, false},
      {"8 bits with a 1000-entry palette",
       [](std::vector<uint8_t>& b) {
         PutLittle(b, 28, 8, 2);
         PutLittle(b, 46, 1000, 4);
       },
       false},
      {"8 bits with a palette that fits",
       [](std::vector<uint8_t>& b) {
         PutLittle(b, 28, 8, 2);
         PutLittle(b, 46, 16, 4);
       },
       true},
      {"32 bits: rows now longer than the data",
       [](std::vector<uint8_t>& b) { PutLittle(b, 28, 32, 2); }, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bmp = Banner();
    c.damage(bmp);
    BitmapLayout layout{-1, -1, -1, -1, 0};
    int32_t result = ReadBitmapLayout(bmp.data(), (int32_t)bmp.size(), &layout);
    EXPECT_EQ(result, c.accepted ? 1 : 0) << c.label;
    if (!c.accepted) {
      EXPECT_EQ(layout.width, -1) << c.label << ": layout touched on refusal";
    }
  }
}

TEST(BitmapLayoutTest, ReportsWhereThePartsLie) {
  std::vector<uint8_t> bmp = Banner();
  ASSERT_EQ(bmp.size(), 25894u);  // the banners' documented size
  BitmapLayout layout{};
  ASSERT_EQ(ReadBitmapLayout(bmp.data(), (int32_t)bmp.size(), &layout), 1);
  EXPECT_EQ(layout.width, 253);
  EXPECT_EQ(layout.height, 34);
  EXPECT_EQ(layout.rows, 34);
  EXPECT_EQ(layout.bitsPerPixel, 24);
  EXPECT_EQ(layout.pixelOffset, 54u);
  EXPECT_EQ(ReadBitmapLayout(nullptr, 100, &layout), 0);
  EXPECT_EQ(ReadBitmapLayout(bmp.data(), -1, &layout), 0);
  EXPECT_EQ(ReadBitmapLayout(bmp.data(), (int32_t)bmp.size(), nullptr), 0);
}

#ifdef VEZOVUD_HAVE_BANNERS
TEST(BitmapLayoutTest, TheProgramsBannersAre253By34At24Bits) {
  const unsigned char* banners[] = {window_test_maker_banner, window_test_stub_banner};
  const unsigned int sizes[] = {window_test_maker_banner_size, window_test_stub_banner_size};
  for (int i = 0; i < 2; i++) {
    BitmapLayout layout{};
    EXPECT_EQ(sizes[i], 25894u) << i;
    ASSERT_EQ(ReadBitmapLayout(banners[i], (int32_t)sizes[i], &layout), 1) << i;
    EXPECT_EQ(layout.width, 253) << i;
    EXPECT_EQ(layout.height, 34) << i;
    EXPECT_EQ(layout.bitsPerPixel, 24) << i;
  }
}
#endif

}  // namespace
