#include "common/text_lines.h"

#include <gtest/gtest.h>

namespace brevan {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

TEST(TextLines, EveryLineEndCounts) {
  EXPECT_EQ(SplitTextLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitTextLines("a\r\n"), (Lines{"a"}));
  EXPECT_EQ(SplitTextLines("a\r\n\r\n"), (Lines{"a", ""}));
  EXPECT_EQ(SplitTextLines("\n\nx"), (Lines{"", "", "x"}));
  EXPECT_EQ(SplitTextLines("a\r\r\nb"), (Lines{"a", "", "b"}));
  EXPECT_EQ(SplitTextLines(""), (Lines{}));
  EXPECT_EQ(SplitTextLines("  keep blanks  "), (Lines{"  keep blanks  "}));
}

TEST(TextLines, NulEndsTheText) {
  EXPECT_EQ(SplitTextLinesToNul("a\r\nb\0c\r\nd"s), (Lines{"a", "b"}));
  EXPECT_EQ(SplitTextLines("a\0b"s), (Lines{"a\0b"s}));
}

TEST(TextLines, JoinWritesCrLfAfterEveryLine) {
  EXPECT_EQ(JoinLinesCrLf({"a", "", "b"}), "a\r\n\r\nb\r\n");
  EXPECT_EQ(JoinLinesCrLf({}), "");
  EXPECT_EQ(SplitTextLines(JoinLinesCrLf({"x", "", "y"})), (Lines{"x", "", "y"}));
}

}  // namespace
}  // namespace brevan
