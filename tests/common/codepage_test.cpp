#include "common/codepage.h"

#include <gtest/gtest.h>

namespace brevan {
namespace {

using namespace std::string_literals;

TEST(CodePage, LeadBytesAreTheBig5Range) {
  EXPECT_FALSE(IsLeadByte('A'));
  EXPECT_FALSE(IsLeadByte('|'));
  EXPECT_FALSE(IsLeadByte(0x80));
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xA4));
  EXPECT_TRUE(IsLeadByte(0xFE));
  EXPECT_FALSE(IsLeadByte(0xFF));
}

struct WideCase {
  const char* name;
  std::u16string wide;
  std::string ansi;
};

void PrintTo(const WideCase& c, std::ostream* os) { *os << c.name; }

class WideToAnsiTest : public ::testing::TestWithParam<WideCase> {};

TEST_P(WideToAnsiTest, Converts) { EXPECT_EQ(WideToAnsi(GetParam().wide), GetParam().ansi); }

INSTANTIATE_TEST_SUITE_P(
    Cases, WideToAnsiTest,
    ::testing::Values(WideCase{"ascii", u"Hello", "Hello"},
                      WideCase{"empty", u"", ""},
                      WideCase{"cjk", u"\u4E2D\u6587", "\xA4\xA4\xA4\xE5"},
                      WideCase{"missing_letter_becomes_question_mark", u"caf\u00E9", "caf?"},
                      WideCase{"emoji_pair_is_one_question_mark", u"a\U0001F600b", "a?b"},
                      WideCase{"lone_surrogate", std::u16string(u"x") + char16_t(0xD800) + u"y", "x?y"},
                      WideCase{"nul_unit_kept", std::u16string(u"a\0b", 3), "a\0b"s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodePage, RoundTripsBig5) {
  std::string big5 = "\xA4\xA4\xA4\xE5 abc \xB3\\";
  EXPECT_EQ(WideToAnsi(AnsiToWide(big5)), big5);
  EXPECT_EQ(AnsiToWide("\xB3\\"), u"\u8A31");
}

TEST(CodePage, Utf8PathsBothWays) {
  EXPECT_EQ(AnsiToUtf8("\xA4\xA4"), "\xE4\xB8\xAD");
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD/x"), "\xA4\xA4/x");
  EXPECT_EQ(AnsiToUtf8("plain"), "plain");
}

TEST(CodePage, FitsCodePageTellsWhatWouldBeLost) {
  EXPECT_TRUE(FitsCodePage(u"\u4E2D abc"));
  EXPECT_FALSE(FitsCodePage(u"caf\u00E9"));
  // The check leaves the converter substituting again.
  EXPECT_EQ(WideToAnsi(u"\u00E9"), "?");
}

}  // namespace
}  // namespace brevan
