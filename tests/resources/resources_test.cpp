// Tests of the constant data the build embeds: the banner bitmaps' layout,
// every byte value, and an empty file.
#include <gtest/gtest.h>

#include <cstdint>

#include "resources/embedded.h"

VEZOVUD_DECLARE_EMBEDDED(test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(test_stub_banner);
VEZOVUD_DECLARE_EMBEDDED(test_all_bytes);
VEZOVUD_DECLARE_EMBEDDED(test_empty);

namespace {

const unsigned kBannerFileBytes = 25894;
const unsigned kBannerHeightPixels = 34;
const unsigned kBannerRowBytes = 760;
const unsigned kPixelOffsetBytes = 54;

uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}

// 253 x 34 pixels, 24 bits, bottom-up, rows padded to 760 bytes with a zero,
// a 40-byte information header and no colour table.
TEST(BannerBitmap, HeadersDescribeThe253By34Bottom24BitLayout) {
  const struct {
    const char* name;
    const unsigned char* data;
    unsigned size;
  } banners[] = {{"maker", test_maker_banner, test_maker_banner_size},
                 {"stub", test_stub_banner, test_stub_banner_size}};
  const struct {
    unsigned offset, bytes, expected;
    const char* field;
  } fields[] = {{0, 2, 0x4D42, "\"BM\""},
                {2, 4, kBannerFileBytes, "file size"},
                {10, 4, kPixelOffsetBytes, "pixel offset"},
                {14, 4, 40, "information header size"},
                {18, 4, 253, "width"},
                {22, 4, kBannerHeightPixels, "height"},
                {26, 2, 1, "planes"},
                {28, 2, 24, "bits per pixel"},
                {30, 4, 0, "uncompressed"},
                {46, 4, 0, "colours used"}};
  for (const auto& banner : banners) {
    SCOPED_TRACE(banner.name);
    ASSERT_EQ(kBannerFileBytes, banner.size) << "the window layer expects exactly this size";
    for (const auto& f : fields)
      EXPECT_EQ(f.expected, U32(banner.data + f.offset) & (f.bytes == 2 ? 0xFFFFu : 0xFFFFFFFFu))
          << f.field;
    uint32_t imageBytes = U32(banner.data + 34);
    EXPECT_TRUE(imageBytes == 0 || imageBytes == kBannerHeightPixels * kBannerRowBytes)
        << imageBytes;
    for (unsigned row = 0; row < kBannerHeightPixels; ++row)
      EXPECT_EQ(0, banner.data[kPixelOffsetBytes + (row + 1) * kBannerRowBytes - 1])
          << "padding, row " << row;
  }
}

TEST(Embedding, EveryByteValueSurvivesAndAnEmptyFileGivesSizeZero) {
  ASSERT_EQ(257u, test_all_bytes_size);
  for (unsigned i = 0; i < 257; ++i) EXPECT_EQ(i & 0xFF, test_all_bytes[i]) << "at " << i;
  EXPECT_EQ(0u, test_empty_size);
}

}  // namespace
