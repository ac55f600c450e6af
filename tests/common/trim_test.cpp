#include "common/trim.h"

#include <gtest/gtest.h>

namespace brevan {
namespace {

using namespace std::string_literals;

TEST(Trim, RemovesEveryByteUpTo32AtBothEnds) {
  EXPECT_EQ(TrimBlank(" \t\r\n\0\x1F" "a b\x01 "s), "a b");
  EXPECT_EQ(TrimBlank("\xA4\xA4 "), "\xA4\xA4");
  EXPECT_TRUE(IsBlank(""));
  EXPECT_TRUE(IsBlank(" \t\0"s));
  EXPECT_FALSE(IsBlank(" x "));
}

TEST(AsciiLower, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(AsciiLower("FROM: \xA4Z@["), "from: \xA4z@[");
}

}  // namespace
}  // namespace brevan
