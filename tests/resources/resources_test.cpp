// The embedding of files into programs: every byte value, and an empty file.
#include <gtest/gtest.h>

#include "resources/embedded.h"

VEZOVUD_DECLARE_EMBEDDED(test_all_bytes);
VEZOVUD_DECLARE_EMBEDDED(test_empty);

namespace {

TEST(Embedding, EveryByteValueSurvivesAndAnEmptyFileGivesSizeZero) {
  ASSERT_EQ(257u, test_all_bytes_size);
  for (unsigned i = 0; i < 257; ++i) EXPECT_EQ(i & 0xFF, test_all_bytes[i]) << "at " << i;
  EXPECT_EQ(0u, test_empty_size);
}

}  // namespace
