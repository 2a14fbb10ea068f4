// Unpacking the stub's gzip-packed banner: a banner-sized BMP packed as the
// build packs it comes back byte for byte and loads as an image; damaged,
// cut or padded streams and lying length fields give null and allocate
// nothing near what they claim.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "extractor/packed_banner.h"
#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/system.h"
#include "runtime/window.h"
#include "window/bitmap_maker.h"

namespace {

const int kBannerWidthPixels = 253;
const int kBannerHeightPixels = 34;
const size_t kBannerBmpBytes = 25894;

// A banner-sized picture: white, an orange band and a gradient, so that it
// packs about as well as the real one.
std::vector<uint8_t> BannerBmp() {
  return window_test::MakeBitmap(kBannerWidthPixels, kBannerHeightPixels, [](int x, int y) {
    if (y > 8 && y < 26 && x > 10 && x < 200) return (uint32_t)0xF08020;
    return (uint32_t)(0xFFFFFF - (uint32_t)x * 0x000101 / 4);
  });
}

// gzip format, level 9, no name and no time: what "gzip -9 -n" writes.
std::vector<uint8_t> Gzip(const std::vector<uint8_t>& data) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&stream, data.size()) + 32);
  stream.next_in = (Bytef*)data.data();
  stream.avail_in = (uInt)data.size();
  stream.next_out = out.data();
  stream.avail_out = (uInt)out.size();
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

void PutLength(std::vector<uint8_t>* packed, uint32_t length) {
  size_t at = packed->size() - 4;
  for (int i = 0; i < 4; ++i) (*packed)[at + i] = (uint8_t)(length >> (8 * i));
}

class PackedBannerTest : public ::testing::Test {
 protected:
  void SetUp() override { InitRuntime(); }
};

TEST_F(PackedBannerTest, BannerComesBackWholeAndLoads) {
  std::vector<uint8_t> bmp = BannerBmp();
  ASSERT_EQ(kBannerBmpBytes, bmp.size());
  std::vector<uint8_t> packed = Gzip(bmp);
  EXPECT_LT(packed.size(), bmp.size() / 4) << "packing must pay for the unpacking code";
  int32_t bytes = -1;
  void* image = UnpackBanner(packed.data(), (int32_t)packed.size(), &bytes);
  ASSERT_NE(nullptr, image);
  ASSERT_EQ((int32_t)bmp.size(), bytes);
  EXPECT_EQ(0, memcmp(bmp.data(), image, bmp.size()));
  InitWindows();
  EXPECT_NE(0, ImageFromMemory(0, image, bytes)) << "the window layer takes the unpacked BMP";
  FreeBlock(image);
}

#ifndef _WIN32
// The build packs with the gzip program; its stream must unpack too.
TEST_F(PackedBannerTest, GzipProgramOutputUnpacks) {
  std::vector<uint8_t> bmp = BannerBmp();
  std::string path = std::string(TempDirectory().c_str()) + "vezovud-banner-test.bmp";
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(nullptr, file);
  fwrite(bmp.data(), 1, bmp.size(), file);
  fclose(file);
  FILE* pipe = popen(("gzip -9 -n -c '" + path + "'").c_str(), "r");
  ASSERT_NE(nullptr, pipe);
  std::vector<uint8_t> packed;
  int c;
  while ((c = fgetc(pipe)) != EOF) packed.push_back((uint8_t)c);
  pclose(pipe);
  remove(path.c_str());
  int32_t bytes = 0;
  void* image = UnpackBanner(packed.data(), (int32_t)packed.size(), &bytes);
  ASSERT_NE(nullptr, image);
  EXPECT_EQ((int32_t)bmp.size(), bytes);
  EXPECT_EQ(0, memcmp(bmp.data(), image, bmp.size()));
  FreeBlock(image);
}
#endif

TEST_F(PackedBannerTest, DamagedStreamsGiveNull) {
  const std::vector<uint8_t> bmp = BannerBmp();
  const std::vector<uint8_t> good = Gzip(bmp);
  struct Case {
    const char* label;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"shorter than any gzip stream", std::vector<uint8_t>(good.begin(),
                                                                        good.begin() + 17)});
  cases.push_back({"cut by one byte", std::vector<uint8_t>(good.begin(), good.end() - 1)});
  cases.push_back({"cut in the middle", std::vector<uint8_t>(good.begin(),
                                                             good.begin() + good.size() / 2)});
  std::vector<uint8_t> padded = good;
  padded.push_back(0);
  cases.push_back({"bytes behind the stream", padded});
  std::vector<uint8_t> crc = good;
  crc[crc.size() - 8] ^= 0x01;
  cases.push_back({"CRC-32 off", crc});
  std::vector<uint8_t> data = good;
  data[good.size() / 2] ^= 0x55;
  cases.push_back({"data damaged", data});
  std::vector<uint8_t> shorter = good;
  PutLength(&shorter, (uint32_t)bmp.size() - 1);
  cases.push_back({"length one short", shorter});
  std::vector<uint8_t> longer = good;
  PutLength(&longer, (uint32_t)bmp.size() + 1);
  cases.push_back({"length one long", longer});
  std::vector<uint8_t> zero = good;
  PutLength(&zero, 0);
  cases.push_back({"length 0", zero});
  std::vector<uint8_t> huge = good;
  PutLength(&huge, 0x7FFFFFFF);
  cases.push_back({"length 2 GB (no such block is asked for)", huge});
  std::vector<uint8_t> over = good;
  PutLength(&over, (uint32_t)kBannerLimitBytes + 1);
  cases.push_back({"length just over the limit", over});
  cases.push_back({"a raw BMP, not packed", bmp});
  std::vector<uint8_t> raw = good;
  raw[0] = 0x78;  // a zlib header instead of gzip's
  cases.push_back({"not gzip", raw});

  for (const Case& c : cases) {
    int32_t bytes = -1;
    void* image = UnpackBanner(c.bytes.empty() ? nullptr : c.bytes.data(),
                               (int32_t)c.bytes.size(), &bytes);
    EXPECT_EQ(nullptr, image) << c.label;
    EXPECT_EQ(0, bytes) << c.label;
    FreeBlock(image);
  }
}

}  // namespace
