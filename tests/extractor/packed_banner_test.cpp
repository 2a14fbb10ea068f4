// The stub's gzip-packed banner comes back byte for byte; a damaged or lying stream gives null.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <vector>

#include "extractor/packed_banner.h"
#include "runtime/memory.h"
#include "runtime/system.h"
#include "window/test_bitmap.h"

namespace {

typedef std::vector<uint8_t> Bytes;

// gzip format, level 9, no name and no time: what the build's "gzip -9 -n" writes.
Bytes Gzip(const Bytes& data) {
  z_stream stream = {};
  deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&stream, data.size()) + 32);
  stream.next_in = (Bytef*)data.data();
  stream.avail_in = (uInt)data.size();
  stream.next_out = out.data();
  stream.avail_out = (uInt)out.size();
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

TEST(PackedBannerTest, WholeStreamsComeBackDamagedOnesGiveNull) {
  InitRuntime();
  const Bytes bmp = window_test::MakeBitmap(253, 34, 0x3366CC, 0x00FF00), good = Gzip(bmp);
  int32_t bytes = -1;
  void* image = UnpackBanner(good.data(), (int32_t)good.size(), &bytes);
  ASSERT_NE(nullptr, image);
  ASSERT_EQ((int32_t)bmp.size(), bytes);
  EXPECT_EQ(0, memcmp(bmp.data(), image, bmp.size()));
  FreeBlock(image);
  auto cut = [&](size_t n) { return Bytes(good.begin(), good.begin() + n); };
  auto flip = [&](size_t at, uint8_t mask) {
    Bytes b = good;
    b[at] ^= mask;
    return b;
  };
  auto length = [&](uint32_t n) {  // the trailer's length field says n
    Bytes b = good;
    for (int i = 0; i < 4; ++i) b[b.size() - 4 + i] = (uint8_t)(n >> (8 * i));
    return b;
  };
  Bytes padded = good;
  padded.push_back(0);
  const uint32_t size = (uint32_t)bmp.size();
  const struct {
    const char* label;
    Bytes bytes;
  } cases[] = {{"empty", {}},
               {"shorter than any gzip stream", cut(17)},
               {"cut by one byte", cut(good.size() - 1)},
               {"cut in the middle", cut(good.size() / 2)},
               {"a byte behind the stream", padded},
               {"CRC-32 off", flip(good.size() - 8, 0x01)},
               {"data damaged", flip(good.size() / 2, 0x55)},
               {"zlib header", flip(0, 0x1F ^ 0x78)},
               {"not packed", bmp},
               {"length one short", length(size - 1)},
               {"length one long", length(size + 1)},
               {"length 0", length(0)},
               {"length 2 GB", length(0x7FFFFFFF)},
               {"over the limit", length(kBannerLimitBytes + 1)}};
  for (const auto& c : cases) {
    bytes = -1;
    const uint8_t* data = c.bytes.empty() ? nullptr : c.bytes.data();
    image = UnpackBanner(data, (int32_t)c.bytes.size(), &bytes);
    EXPECT_EQ(nullptr, image) << c.label;
    EXPECT_EQ(0, bytes) << c.label;
    FreeBlock(image);
  }
}

}  // namespace
