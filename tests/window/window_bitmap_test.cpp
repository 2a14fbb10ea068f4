// The BMP check both window back ends run: the programs' banners, damaged and hostile headers.
#include <stdint.h>

#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "resources/embedded.h"
#include "runtime/window_bitmap.h"
#include "window/test_bitmap.h"

VEZOVUD_DECLARE_EMBEDDED(test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(test_stub_banner);

namespace {

// Both banners are 253 x 34 pixels at 24 bits, the pixels right behind the 54 bytes of headers.
TEST(BitmapLayoutTest, TheProgramsBannersPass) {
  for (const auto& banner : {std::make_pair(test_maker_banner, test_maker_banner_size),
                             std::make_pair(test_stub_banner, test_stub_banner_size)}) {
    BitmapLayout layout{};
    ASSERT_EQ(25894u, banner.second);
    ASSERT_EQ(1, ReadBitmapLayout(banner.first, (int32_t)banner.second, &layout));
    EXPECT_EQ(253, layout.width);
    EXPECT_EQ(34, layout.rows);
    EXPECT_EQ(54u, layout.pixelOffset);
  }
}

using Damage = std::function<void(std::vector<uint8_t>&)>;

// Writes value (little-endian, bytes long) at offset at.
Damage Put(size_t at, uint32_t value, int bytes = 4) {
  return [=](std::vector<uint8_t>& b) { window_test::PutLittle(b, at, value, bytes); };
}
Damage Cut(size_t size) {
  return [=](std::vector<uint8_t>& b) { b.resize(size); };
}
Damage Both(Damage a, Damage b) {
  return [=](std::vector<uint8_t>& bmp) {
    a(bmp);
    b(bmp);
  };
}

TEST(BitmapLayoutTest, CraftedHeadersGetTheExpectedVerdict) {
  struct Case {
    const char* label;
    Damage damage;
    bool accepted;
  };
  const Case cases[] = {
      {"untouched banner", Cut(25894), true},
      {"no BM signature", Put(1, 'N', 1), false},
      {"last pixel byte missing", Cut(25893), false},
      {"headers one byte short", Cut(53), false},
      {"pixel offset past the end", Put(10, 0xFFFFFFF0u), false},
      {"pixel offset inside the headers", Put(10, 20), false},
      {"header size below 40", Put(14, 12), false},
      {"header size beyond the data", Put(14, 0x7FFFFFFF), false},
      {"width zero", Put(18, 0), false},
      {"negative width", Put(18, 0xFFFFFF03u), false},
      {"height zero", Put(22, 0), false},
      {"height of INT_MIN", Put(22, 0x80000000u), false},
      {"top-down rows (negative height)", Put(22, (uint32_t)-34), true},
      {"height one row more than the data", Put(22, 35), false},
      {"huge width overflowing a 32-bit row size", Put(18, 0x40000000u), false},
      {"7 bits per pixel", Put(28, 7, 2), false},
      {"RLE compressed", Put(30, 1), false},
      {"8 bits with a 1000-entry palette", Both(Put(28, 8, 2), Put(46, 1000)), false},
      {"8 bits with a palette that fits", Both(Put(28, 8, 2), Put(46, 16)), true},
      {"32 bits: rows now longer than the data", Put(28, 32, 2), false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bmp = window_test::MakeBitmap(253, 34, 0x80C0FF, 0x80C0FF);
    c.damage(bmp);
    BitmapLayout layout{-1, -1, -1, -1, 0};
    EXPECT_EQ(ReadBitmapLayout(bmp.data(), (int32_t)bmp.size(), &layout), c.accepted ? 1 : 0)
        << c.label;
    // Refused: layout untouched. Accepted: where the parts lie.
    EXPECT_EQ(layout.width, c.accepted ? 253 : -1) << c.label;
    EXPECT_EQ(layout.rows, c.accepted ? 34 : -1) << c.label;
    EXPECT_EQ(layout.pixelOffset, c.accepted ? 54u : 0u) << c.label;
  }
  std::vector<uint8_t> bmp = window_test::MakeBitmap(253, 34, 0, 0);
  BitmapLayout layout{};
  EXPECT_EQ(ReadBitmapLayout(nullptr, 100, &layout), 0);
  EXPECT_EQ(ReadBitmapLayout(bmp.data(), -1, &layout), 0);
  EXPECT_EQ(ReadBitmapLayout(bmp.data(), (int32_t)bmp.size(), nullptr), 0);
}

}  // namespace
