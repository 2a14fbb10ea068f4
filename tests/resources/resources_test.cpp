// Tests of the programs' constant pictures: the banner bitmaps as the build
// embeds them (layout, picture, byte-for-byte copies of the files), the icon
// files' layout, and the embedding of awkward inputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "resources/embedded.h"

VEZOVUD_DECLARE_EMBEDDED(test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(test_stub_banner);
VEZOVUD_DECLARE_EMBEDDED(test_all_bytes);
VEZOVUD_DECLARE_EMBEDDED(test_empty);

namespace {

constexpr unsigned kBannerFileBytes = 25894;
constexpr unsigned kBannerWidthPixels = 253;
constexpr unsigned kBannerHeightPixels = 34;
constexpr unsigned kBannerRowBytes = 760;
constexpr unsigned kPixelOffsetBytes = 54;

std::vector<unsigned char> ReadWholeFile(const std::string& path) {
  std::vector<unsigned char> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  unsigned char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  std::fclose(f);
  return bytes;
}

std::string ResourcePath(const char* name) {
  return std::string(VEZOVUD_TEST_RESOURCES_DIR) + "/" + name;
}

uint32_t U32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24);
}
uint16_t U16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }
int32_t S32(const unsigned char* p) { return int32_t(U32(p)); }

struct Rgb {
  int r, g, b;
};

// Pixel (x, y) with y counted from the top of the picture, as the user sees
// it; rows are stored bottom-up.
Rgb PixelAt(const unsigned char* bmp, unsigned x, unsigned y) {
  const unsigned char* p =
      bmp + kPixelOffsetBytes + (kBannerHeightPixels - 1 - y) * kBannerRowBytes + x * 3;
  return Rgb{p[2], p[1], p[0]};
}

struct Banner {
  const char* file;
  const unsigned char* data;
  unsigned size;
};

const Banner kBanners[] = {
    {"maker_banner.bmp", test_maker_banner, test_maker_banner_size},
    {"stub_banner.bmp", test_stub_banner, test_stub_banner_size},
};

TEST(BannerBitmap, HeadersDescribeThe253By34Bottom24BitLayout) {
  for (const Banner& banner : kBanners) {
    SCOPED_TRACE(banner.file);
    ASSERT_EQ(banner.size, kBannerFileBytes) << "the window layer expects exactly this size";
    const unsigned char* b = banner.data;
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(U32(b + 2), kBannerFileBytes) << "file size field";
    EXPECT_EQ(U32(b + 10), kPixelOffsetBytes) << "pixel data offset";
    EXPECT_EQ(U32(b + 14), 40u) << "BITMAPINFOHEADER size";
    EXPECT_EQ(S32(b + 18), int32_t(kBannerWidthPixels));
    // A positive height means bottom-up rows; negative would be top-down.
    EXPECT_EQ(S32(b + 22), int32_t(kBannerHeightPixels));
    EXPECT_EQ(U16(b + 26), 1u) << "planes";
    EXPECT_EQ(U16(b + 28), 24u) << "bits per pixel";
    EXPECT_EQ(U32(b + 30), 0u) << "BI_RGB, uncompressed";
    uint32_t image_bytes = U32(b + 34);
    EXPECT_TRUE(image_bytes == 0 || image_bytes == kBannerHeightPixels * kBannerRowBytes) << image_bytes;
    EXPECT_EQ(U32(b + 46), 0u) << "no colour table";
    EXPECT_EQ(kPixelOffsetBytes + kBannerHeightPixels * kBannerRowBytes, kBannerFileBytes);
  }
}

TEST(BannerBitmap, RowPaddingBytesAreZero) {
  // 253 pixels take 759 bytes; the 760th byte of each row is padding.
  for (const Banner& banner : kBanners) {
    SCOPED_TRACE(banner.file);
    ASSERT_EQ(banner.size, kBannerFileBytes);
    for (unsigned row = 0; row < kBannerHeightPixels; ++row) {
      unsigned at = kPixelOffsetBytes + row * kBannerRowBytes + kBannerWidthPixels * 3;
      EXPECT_EQ(banner.data[at], 0) << "row " << row;
    }
  }
}

TEST(BannerBitmap, EmbeddedBytesEqualTheFileByteForByte) {
  for (const Banner& banner : kBanners) {
    SCOPED_TRACE(banner.file);
    std::vector<unsigned char> on_disk = ReadWholeFile(ResourcePath(banner.file));
    ASSERT_EQ(on_disk.size(), banner.size);
    size_t first_difference = on_disk.size();
    for (size_t i = 0; i < on_disk.size(); ++i) {
      if (on_disk[i] != banner.data[i]) {
        first_difference = i;
        break;
      }
    }
    EXPECT_EQ(first_difference, on_disk.size()) << "first differing byte";
  }
}

TEST(BannerBitmap, MakerBannerIsALightBlueGradientWithPaleName) {
  const unsigned char* b = test_maker_banner;
  ASSERT_EQ(test_maker_banner_size, kBannerFileBytes);
  // Background along the top edge: blue dominates and lightens to the right.
  Rgb left = PixelAt(b, 1, 1);
  Rgb right = PixelAt(b, 251, 1);
  EXPECT_GT(left.b, left.r);
  EXPECT_GT(right.b, right.r);
  EXPECT_GT(right.r + right.g + right.b, left.r + left.g + left.b + 150);
  // The name on the left third has pale, nearly white pixels.
  int pale = 0;
  for (unsigned y = 0; y < kBannerHeightPixels; ++y)
    for (unsigned x = 0; x < 100; ++x) {
      Rgb p = PixelAt(b, x, y);
      if (p.r > 220 && p.g > 230 && p.b > 240) ++pale;
    }
  EXPECT_GT(pale, 150);
}

TEST(BannerBitmap, StubBannerHasOrangeLetteringOnWhite) {
  const unsigned char* b = test_stub_banner;
  ASSERT_EQ(test_stub_banner_size, kBannerFileBytes);
  Rgb corner = PixelAt(b, 0, 0);
  EXPECT_EQ(corner.r + corner.g + corner.b, 3 * 255);
  int orange = 0;
  for (unsigned y = 0; y < kBannerHeightPixels; ++y)
    for (unsigned x = 0; x < 200; ++x) {
      Rgb p = PixelAt(b, x, y);
      if (p.r > 220 && p.g > 100 && p.g < 160 && p.b < 60) ++orange;
    }
  EXPECT_GT(orange, 200);
  // The thin rule under the lettering lies near the bottom of the picture,
  // which checks that rows are read bottom-up.
  Rgb near_bottom = PixelAt(b, 100, kBannerHeightPixels - 4);
  Rgb near_top = PixelAt(b, 100, 2);
  EXPECT_LT(near_bottom.b, 200);
  EXPECT_EQ(near_top.r + near_top.g + near_top.b, 3 * 255);
}

TEST(Embedding, EveryByteValueSurvivesIncludingZeroAndAnOddLength) {
  ASSERT_EQ(test_all_bytes_size, 257u);
  for (unsigned i = 0; i < 257; ++i) EXPECT_EQ(test_all_bytes[i], i & 0xFF) << "at " << i;
}

TEST(Embedding, EmptyFileGivesSizeZero) {
  EXPECT_EQ(test_empty_size, 0u);
}

// The icon files that windres compiles: three 8-bit images with AND masks.
TEST(IconFile, ThreePalettizedImagesOf16_32_48WithMasks) {
  const unsigned kSizesPixels[] = {16, 32, 48};
  for (const char* name : {"maker.ico", "stub.ico"}) {
    SCOPED_TRACE(name);
    std::vector<unsigned char> ico = ReadWholeFile(ResourcePath(name));
    ASSERT_GE(ico.size(), 6u + 3 * 16u);
    EXPECT_EQ(U16(&ico[0]), 0u) << "reserved";
    EXPECT_EQ(U16(&ico[2]), 1u) << "type icon";
    ASSERT_EQ(U16(&ico[4]), 3u) << "image count";
    uint32_t expected_offset = 6 + 3 * 16;
    for (unsigned i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const unsigned char* entry = &ico[6 + i * 16];
      unsigned size = kSizesPixels[i];
      EXPECT_EQ(entry[0], size);
      EXPECT_EQ(entry[1], size);
      EXPECT_EQ(entry[2], 0) << "0 stands for 256 colours";
      EXPECT_EQ(U16(entry + 4), 1u) << "planes";
      EXPECT_EQ(U16(entry + 6), 8u) << "bits per pixel";
      uint32_t bytes = U32(entry + 8);
      uint32_t offset = U32(entry + 12);
      EXPECT_EQ(offset, expected_offset) << "images follow each other without gaps";
      ASSERT_LE(uint64_t(offset) + bytes, ico.size()) << "image runs past the end of the file";
      unsigned xor_row = (size + 3) / 4 * 4;
      unsigned and_row = (size + 31) / 32 * 4;
      ASSERT_EQ(bytes, 40 + 256 * 4 + size * xor_row + size * and_row);
      const unsigned char* h = &ico[offset];
      EXPECT_EQ(U32(h), 40u);
      EXPECT_EQ(S32(h + 4), int32_t(size));
      EXPECT_EQ(S32(h + 8), int32_t(2 * size)) << "height counts image and mask";
      EXPECT_EQ(U16(h + 12), 1u);
      EXPECT_EQ(U16(h + 14), 8u);
      EXPECT_EQ(U32(h + 16), 0u);
      const unsigned char* palette = h + 40;
      const unsigned char* xor_bits = palette + 256 * 4;
      const unsigned char* and_bits = xor_bits + size * xor_row;
      unsigned transparent = 0;
      for (unsigned y = 0; y < size; ++y)
        for (unsigned x = 0; x < size; ++x) {
          if (!(and_bits[y * and_row + x / 8] & (0x80 >> (x % 8)))) continue;
          ++transparent;
          // Masked-out pixels must be black, or they tint what lies behind.
          const unsigned char* colour = palette + 4 * xor_bits[y * xor_row + x];
          ASSERT_EQ(colour[0] | colour[1] | colour[2], 0) << "pixel " << x << "," << y;
        }
      EXPECT_GT(transparent, 0u);
      EXPECT_LT(transparent, size * size / 2) << "the picture covers most of the square";
      expected_offset = offset + bytes;
    }
    EXPECT_EQ(expected_offset, ico.size());
  }
}

}  // namespace
