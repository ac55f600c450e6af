#include "decode/utf8.h"

#include "common/codepage.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace brevan {
namespace {

using namespace std::string_literals;

struct WideRow {
  const char* name;
  std::string input;
  std::optional<std::u16string> units;  // nullopt: malformed
};

void PrintTo(const WideRow& row, std::ostream* os) { *os << row.name; }

class Utf8ToWide : public ::testing::TestWithParam<WideRow> {};

TEST_P(Utf8ToWide, ConvertsOrRejectsTheWholeText) {
  const WideRow& row = GetParam();
  const auto* bytes = reinterpret_cast<const unsigned char*>(row.input.data());
  const unsigned length = static_cast<unsigned>(row.input.size());
  std::vector<char16_t> buffer(row.input.size() + 1, u'\xFFFF');
  const unsigned count = Utf8ToWideBuffer(buffer.data(), length + 1, bytes, length);
  if (row.units) {
    ASSERT_EQ(count, row.units->size() + 1);
    EXPECT_EQ(std::u16string(buffer.data(), count - 1), *row.units);
    EXPECT_EQ(buffer[count - 1], u'\0');
    EXPECT_EQ(Utf8ToWideText(row.input), *row.units);
  } else {
    EXPECT_EQ(count, kUtf8Malformed);
    EXPECT_EQ(Utf8ToWideText(row.input), u"");
    EXPECT_EQ(Utf8ToAnsiText(row.input), "");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf8ToWide,
    ::testing::Values(
        WideRow{"ascii", "Hello, world", u"Hello, world"},
        WideRow{"cjk", "\xE4\xB8\xAD", u"\u4E2D"},
        WideRow{"two_byte", "\xC3\xA9", u"\u00E9"},
        WideRow{"mixed", "a\xE4\xB8\xAD" "b\xC3\xA9", u"a\u4E2Db\u00E9"},
        WideRow{"highest_bmp", "\xEF\xBF\xBF", u"\uFFFF"},
        WideRow{"nul_kept", "a\0b"s, u"a\0b"s},
        // Ranges are not checked: overlong forms and surrogates pass by their bits.
        WideRow{"overlong_nul_2", "\xC0\x80", std::u16string(1, u'\0')},
        WideRow{"overlong_nul_3", "\xE0\x80\x80", std::u16string(1, u'\0')},
        WideRow{"overlong_7f", "\xC1\xBF", u"\x7F"},
        WideRow{"lone_surrogate", "\xED\xA0\x80", std::u16string(1, char16_t{0xD800})},
        // Structure is checked: any fault rejects the whole text.
        WideRow{"truncated_3", "abc\xE4\xB8", std::nullopt},
        WideRow{"truncated_2", "abc\xC3", std::nullopt},
        WideRow{"four_byte", "ok \xF0\x9F\x98\x80", std::nullopt},
        WideRow{"stray_continuation", "a\x80" "b", std::nullopt},
        WideRow{"continuation_missing_2", "\xC3" "A", std::nullopt},
        WideRow{"continuation_missing_3_second", "\xE4\xB8" "A", std::nullopt},
        WideRow{"continuation_missing_3_first", "\xE4" "A\xAD", std::nullopt},
        WideRow{"lead_f8", "\xF8\x88\x80\x80\x80", std::nullopt},
        WideRow{"byte_ff", "\xFF", std::nullopt}),
    [](const ::testing::TestParamInfo<WideRow>& info) { return std::string(info.param.name); });

struct AnsiRow {
  const char* name;
  std::string input;
  std::string expected;
};

void PrintTo(const AnsiRow& row, std::ostream* os) { *os << row.name; }

class Utf8ToAnsi : public ::testing::TestWithParam<AnsiRow> {};

TEST_P(Utf8ToAnsi, GivesCodePageBytes) {
  EXPECT_EQ(Utf8ToAnsiText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Utf8ToAnsi,
    ::testing::Values(
        AnsiRow{"ascii_unchanged", "Re: price list", "Re: price list"},
        AnsiRow{"cjk_to_big5", "\xE4\xB8\xAD", "\xA4\xA4"},
        AnsiRow{"two_cjk", "\xE4\xB8\xAD\xE6\x96\x87", "\xA4\xA4\xA4\xE5"},
        AnsiRow{"missing_letter_replaced", "caf\xC3\xA9", "caf?"},
        AnsiRow{"zero_unit_is_nul_byte", "\xC0\x80", "\0"s},
        AnsiRow{"nul_inside_kept", "a\0b"s, "a\0b"s},
        AnsiRow{"lone_surrogate_replaced", "\xED\xA0\x80", "?"},
        AnsiRow{"empty", "", ""},
        AnsiRow{"malformed", "\xE4\xB8", ""}),
    [](const ::testing::TestParamInfo<AnsiRow>& info) { return std::string(info.param.name); });

TEST(Utf8ToWideBuffer, NoSourceGivesZero) {
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(Utf8ToWideBuffer(buffer, 4, nullptr, 3), 0u);
  EXPECT_EQ(buffer[0], u'x');
}

TEST(Utf8ToWideBuffer, EmptySourceWritesTheTerminator) {
  char16_t buffer[2] = {u'x', u'x'};
  const unsigned char byte = 'a';
  EXPECT_EQ(Utf8ToWideBuffer(buffer, 2, &byte, 0), 1u);
  EXPECT_EQ(buffer[0], u'\0');
}

TEST(Utf8ToWideBuffer, NoRoomWritesNothing) {
  const unsigned char text[] = "abc";
  char16_t guard[2] = {u'x', u'x'};
  EXPECT_EQ(Utf8ToWideBuffer(guard + 1, 0, text, 3), 0u);
  EXPECT_EQ(guard[0], u'x');
  EXPECT_EQ(guard[1], u'x');
  EXPECT_EQ(Utf8ToWideBuffer(nullptr, 4, text, 3), 0u);
}

TEST(Utf8ToWideBuffer, SmallCapacityCutsShortAndTerminates) {
  const unsigned char text[] = "abcdef";
  char16_t buffer[4] = {u'x', u'x', u'x', u'x'};
  // Three units fit; the last place holds the terminator.
  EXPECT_EQ(Utf8ToWideBuffer(buffer, 3, text, 6), 3u);
  EXPECT_EQ(std::u16string(buffer, 3), std::u16string(u"ab\0", 3));
  EXPECT_EQ(buffer[3], u'x');
}

// Independent UTF-8 encoder for units of the BMP, surrogates included.
std::string EncodeUnit(char16_t u) {
  std::string s;
  if (u < 0x80) {
    s += static_cast<char>(u);
  } else if (u < 0x800) {
    s += static_cast<char>(0xC0 | (u >> 6));
    s += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (u >> 12));
    s += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (u & 0x3F));
  }
  return s;
}

TEST(Utf8RoundTrip, EveryBmpUnitComesBack) {
  std::mt19937 gen(4242);
  for (int round = 0; round < 3000; ++round) {
    std::u16string units(1 + gen() % 40, u'\0');
    std::string bytes;
    for (char16_t& u : units) {
      // Mostly ASCII and CJK, sometimes anything up to U+FFFF.
      const unsigned pick = gen() % 4;
      u = static_cast<char16_t>(pick == 0 ? gen() % 0x80 : pick == 1 ? 0x4E00 + gen() % 0x5200 : gen() % 0x10000);
      bytes += EncodeUnit(u);
    }
    ASSERT_EQ(Utf8ToWideText(bytes), units) << "round " << round;
  }
}

TEST(Utf8RoundTrip, Big5TextComesBackThroughUtf8) {
  std::mt19937 gen(950);
  int checked = 0;
  for (int round = 0; round < 2000; ++round) {
    std::string big5;
    for (unsigned n = 1 + gen() % 20; n > 0; --n) {
      if (gen() % 3 == 0) {
        big5 += static_cast<char>(0x20 + gen() % 0x5F);
      } else {
        // The frequent and less frequent hanzi: lead A4..C6, trail 40..7E or A1..FE.
        const unsigned lead = 0xA4 + gen() % 0x22;
        const unsigned t = gen() % (0x3F + 0x5E);
        const unsigned trail = t < 0x3F ? 0x40 + t : 0xA1 + (t - 0x3F);
        if (lead == 0xC6 && trail > 0x7E) continue;
        big5 += static_cast<char>(lead);
        big5 += static_cast<char>(trail);
      }
    }
    const std::string utf8 = AnsiToUtf8(big5);
    if (utf8.find("\xEF\xBF\xBD") != std::string::npos) continue;  // an unassigned code
    ASSERT_EQ(Utf8ToAnsiText(utf8), big5) << "round " << round;
    ++checked;
  }
  EXPECT_GT(checked, 1000);
}

TEST(Utf8OnRandomBytes, NeverFails) {
  std::mt19937 gen(1);
  for (int round = 0; round < 5000; ++round) {
    std::string bytes(gen() % 48, '\0');
    for (char& c : bytes) {
      // Bias toward the bytes that start and continue sequences.
      const unsigned r = gen();
      c = static_cast<char>(r % 3 == 0 ? 0x80 + (r >> 8) % 0x80 : r >> 8);
    }
    const std::u16string wide = Utf8ToWideText(bytes);
    EXPECT_LE(wide.size(), bytes.size());
    (void)Utf8ToAnsiText(bytes);
  }
}

}  // namespace
}  // namespace brevan
