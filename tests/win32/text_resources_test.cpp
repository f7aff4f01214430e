// platform::LoadText keeps LoadStringA's rules: at most capacity - 1 bytes,
// always terminated, empty for a missing string.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/text_resources.h"

namespace {

TEST(TextResources, CopiesWholeTextsAndCutsLongOnesAtCapacityLessOne) {
  char buffer[16];
  EXPECT_EQ(platform::LoadText(901, buffer, sizeof buffer), 6);
  EXPECT_STREQ(buffer, "abcdef");
  EXPECT_EQ(platform::LoadText(901, buffer, 7), 6);  // exactly fits
  EXPECT_STREQ(buffer, "abcdef");
  EXPECT_EQ(platform::LoadText(901, buffer, 6), 5);  // one byte short
  EXPECT_STREQ(buffer, "abcde");
  EXPECT_EQ(platform::LoadText(902, buffer, sizeof buffer), 14);
  EXPECT_STREQ(buffer, " leading blank");
}

TEST(TextResources, MissingStringLeavesTheBufferEmpty) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(platform::LoadText(999, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, "");
}

}  // namespace
