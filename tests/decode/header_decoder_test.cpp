#include "decode/header_decoder.h"

#include "common/trim.h"
#include "decode/codecs.h"
#include "decode/utf8.h"

#include <gtest/gtest.h>

#include "tests/support/named_rows.h"

#include <fstream>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>

namespace brevan {
namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------- DecodeHeaderText

class DecodeHeader : public ::testing::TestWithParam<Row> {};

TEST_P(DecodeHeader, GivesDisplayText) {
  EXPECT_EQ(DecodeHeaderText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeHeader,
    ::testing::Values(
        Row{"big5_b_capital", "=?big5?B?pKSk5Q==?=", "\xA4\xA4\xA4\xE5"},
        Row{"big5_all_capitals", "=?BIG5?B?pKSk5Q==?=", "\xA4\xA4\xA4\xE5"},
        Row{"big5_q", "=?big5?q?=A4=A4?=", "\xA4\xA4"},
        Row{"gb2312_b", "=?gb2312?b?xOO6ww==?=", "\xC4\xE3\xBA\xC3"},
        Row{"gb2312_q", "=?GB2312?Q?=C4=E3?=", "\xC4\xE3"},
        Row{"utf8_q_letter_missing", "=?utf-8?q?caf=C3=A9?=", "caf?"},
        Row{"utf8_q_mixed_case", "=?Utf-8?Q?caf=c3=a9?=", "caf?"},
        Row{"utf8_b_cjk", "=?UTF-8?B?5Lit5paH?=", "\xA4\xA4\xA4\xE5"},
        Row{"utf8_q_underscore", "=?utf-8?q?a_=E4=B8=AD?=", "a \xA4\xA4"},
        Row{"iso1_q_underscore_blank", "=?iso-8859-1?q?Hello_World?=", "Hello World"},
        Row{"iso1_q_escaped_underscore", "=?iso-8859-1?q?a=5Fb?=", "a_b"},
        Row{"iso1_b_bytes_unchanged", "=?ISO-8859-1?B?Y2Fm6Q==?=", "caf\xE9"},
        Row{"iso2_b", "=?iso-8859-2?b?QUJD?=", "ABC"},
        Row{"iso2_q", "=?iso-8859-2?Q?=B1?=", "\xB1"},
        // Only the Base64 rows of Big5 and GB2312 trim what they decode.
        Row{"big5_b_trims", "[=?big5?b?ICCkpAkg?=]", "[\xA4\xA4]"},
        Row{"gb2312_b_trims", "[=?gb2312?b?DQrE4wA=?=]", "[\xC4\xE3]"},
        Row{"big5_q_keeps_blanks", "[=?big5?q?_=A4=A4_?=]", "[ \xA4\xA4 ]"},
        Row{"iso1_b_keeps_blanks", "[=?iso-8859-1?b?IGEg?=]", "[ a ]"},
        Row{"utf8_b_keeps_blanks", "[=?utf-8?b?IGEg?=]", "[ a ]"},
        // Text around and between words is copied as it stands.
        Row{"blank_between_words", "=?big5?B?pKSk5Q==?= =?big5?B?pKSk5Q==?=",
            "\xA4\xA4\xA4\xE5 \xA4\xA4\xA4\xE5"},
        Row{"text_around", "Re: =?big5?b?pKQ=?= (2)", "Re: \xA4\xA4 (2)"},
        Row{"invalid_utf8_word_adds_nothing", "before =?utf-8?b?5Lg=?= after", "before  after"},
        Row{"four_byte_utf8_adds_nothing", "x=?utf-8?q?=F0=9F=98=80?=y", "xy"},
        Row{"unknown_charset_unchanged", "one =?gbk?b?xxx?= two", "one =?gbk?b?xxx?= two"},
        Row{"utf8_without_hyphen_unchanged", "=?utf8?b?QUJD?=", "=?utf8?b?QUJD?="},
        Row{"unknown_encoding_unchanged", "=?big5?x?QUJD?=", "=?big5?x?QUJD?="},
        Row{"empty_word", "a=?big5?b?" "?=b", "ab"},
        Row{"blank_q_word", "a=?iso-8859-1?q?__?=b", "ab"},
        Row{"equals_after_prefix_does_not_close", "=?big5?q?=41?=", "A"},
        Row{"equals_after_b_prefix_is_text", "=?iso-8859-1?b?=QUJD?=", "\x01\x05\x09"},
        Row{"first_close_wins", "=?big5?q?a?=b?=", "ab?="},
        Row{"no_nesting", "=?big5?q?x=?utf-8?q?y?=z", "x=?utf-8?q?yz"},
        Row{"decoded_once_only", "=?big5?q?=3D=3Fbig5=3Fb=3FQUJD=3F=3D?=", "=?big5?b?QUJD?="},
        Row{"stray_marks_pass", "?= a =? b =?", "?= a =? b =?"},
        Row{"double_equals_before_word", "==?big5?b?QUJD?=", "=ABC"},
        Row{"nul_in_plain_text", "a\0b=?big5?b?QUJD?="s, "a\0bABC"s},
        Row{"nul_in_decoded_text", "=?iso-8859-1?q?a=00b?=", "a\0b"s},
        // A word still open at the end is kept, undecoded.
        Row{"open_at_end_kept", "=?big5?b?= tail", "=?big5?b?= tail"},
        Row{"bare_prefix_at_end", "x =?big5?b?", "x =?big5?b?"},
        Row{"question_mark_at_end", "=?big5?b?QUJD?", "=?big5?b?QUJD?"},
        Row{"open_after_closed_word", "=?big5?b?QUJD?= =?big5?q?abc", "ABC =?big5?q?abc"},
        // Fewer than nine characters cannot hold a word.
        Row{"short_value", "=?b?x?=", "=?b?x?="},
        Row{"eight_chars", "=?big5?b", "=?big5?b"},
        Row{"empty", "", ""},
        Row{"blank", " \t\r\n ", ""},
        Row{"blanks_around_kept", " =?big5?b?QUJD?= ", " ABC "}),
    RowName<Row>);

// The scanning rules written out position by position, with the prefix
// table compared on a lower-cased candidate of up to 16 characters, used as
// the reference for random input.
std::string PositionByPosition(std::string_view in) {
  struct Kind {
    std::string prefix;
    bool base64;
    int after;  // 0 nothing, 1 trim, 2 from UTF-8
  };
  static const Kind kKinds[] = {
      {"=?big5?b?", true, 1},         {"=?big5?q?", false, 0},        {"=?gb2312?b?", true, 1},
      {"=?gb2312?q?", false, 0},      {"=?utf-8?b?", true, 2},        {"=?utf-8?q?", false, 2},
      {"=?iso-8859-1?b?", true, 0},   {"=?iso-8859-1?q?", false, 0},  {"=?iso-8859-2?b?", true, 0},
      {"=?iso-8859-2?q?", false, 0},
  };
  if (IsBlank(in)) return {};
  std::string out;
  std::string pending;
  const Kind* kind = nullptr;
  size_t text_start = 0;
  for (size_t p = 1; p <= in.size(); ++p) {
    const char c = in[p - 1];
    if (kind == nullptr) {
      const std::string candidate(in.substr(p - 1, 16));
      if (candidate.size() < 9) {
        out += c;
        continue;
      }
      const std::string lower = AsciiLower(candidate);
      for (const Kind& k : kKinds) {
        if (lower.substr(0, k.prefix.size()) == k.prefix) {
          kind = &k;
          break;
        }
      }
      if (kind == nullptr) {
        out += c;
      } else {
        text_start = p + kind->prefix.size();
        pending += c;
      }
      continue;
    }
    if (p > text_start && in[p - 2] == '?' && c == '=') {
      pending += c;
      std::string encoded = pending.substr(kind->prefix.size(), pending.size() - kind->prefix.size() - 2);
      std::string decoded;
      if (kind->base64) {
        decoded = DecodeBase64Text(encoded);
      } else {
        for (char& e : encoded) {
          if (e == '_') e = ' ';
        }
        decoded = DecodeQuotedPrintableText(encoded);
      }
      if (kind->after == 1) decoded = TrimBlank(decoded);
      if (kind->after == 2) decoded = Utf8ToAnsiText(decoded);
      out += decoded;
      pending.clear();
      kind = nullptr;
    } else {
      pending += c;
    }
  }
  return out + pending;
}

TEST(DecodeHeaderOnRandomInput, FollowsTheScanningRules) {
  std::mt19937 gen(2047);
  const std::string pieces[] = {
      "=?", "?=", "?", "=", "big5", "BIG5", "gb2312", "utf-8", "UTF-8", "iso-8859-1", "iso-8859-2",
      "gbk", "b", "B", "q", "Q", "_", "pKSk5Q", "5Lit", "QUJD", "=C3=A9", "=E4=B8=AD", "=A4", " ",
      "\t", "\r\n", "\xA4\xA4", "\xFF", "\0"s, "x",
      "=?big5?b?", "=?utf-8?q?", "=?iso-8859-1?Q?", "=?GB2312?B?"};
  for (int round = 0; round < 6000; ++round) {
    std::string value;
    for (unsigned n = gen() % 16; n > 0; --n) value += pieces[gen() % std::size(pieces)];
    ASSERT_EQ(DecodeHeaderText(value), PositionByPosition(value)) << "value [" << value << "]";
  }
}

TEST(DecodeHeaderOnRandomInput, RandomBytesNeverFail) {
  std::mt19937 gen(11);
  for (int round = 0; round < 4000; ++round) {
    std::string value(gen() % 80, '\0');
    for (char& c : value) c = static_cast<char>(gen());
    if (round % 3 == 0 && value.size() > 10) value.replace(0, 9, "=?big5?b?");
    ASSERT_EQ(DecodeHeaderText(value), PositionByPosition(value));
  }
}

// Many words that never close, and many that close at once: one pass each,
// and nothing of the value is lost. (Compared with == so that a failure does
// not print megabytes.)
TEST(DecodeHeaderText, ManyOpenPrefixesKeepEverything) {
  std::string stars;
  for (int i = 0; i < 100000; ++i) stars += "=?*";
  EXPECT_TRUE(DecodeHeaderText(stars) == stars);
  // The first prefix opens a word that no "?=" ever closes.
  std::string open;
  for (int i = 0; i < 20000; ++i) open += "=?big5?b?x";
  EXPECT_TRUE(DecodeHeaderText(open) == open);
  std::string empty_words;
  for (int i = 0; i < 20000; ++i) empty_words += "=?utf-8?q?" "?=";
  EXPECT_EQ(DecodeHeaderText(empty_words), "");
  std::string words;
  for (int i = 0; i < 20000; ++i) words += "=?big5?b?pKQ=?=";
  std::string expected;
  for (int i = 0; i < 20000; ++i) expected += "\xA4\xA4";
  EXPECT_TRUE(DecodeHeaderText(words) == expected);
}

// Sender and subject values as mailers write them; the expected bytes were
// made by make_header_samples.py with Python's own codecs.
TEST(DecodeHeaderText, MailerSamples) {
  std::ifstream file(BREVAN_TEST_DATA "/decode/headers.txt", std::ios::binary);
  ASSERT_TRUE(file) << "missing test data";
  std::string line;
  int rows = 0;
  // Lines come in pairs: the raw value, then its decoded form in hexadecimal.
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    std::string hex;
    ASSERT_TRUE(std::getline(file, hex));
    if (!hex.empty() && hex.back() == '\r') hex.pop_back();
    std::string expected;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
      expected += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    std::ostringstream got;
    for (unsigned char c : DecodeHeaderText(line)) {
      got << "0123456789ABCDEF"[c >> 4] << "0123456789ABCDEF"[c & 15];
    }
    EXPECT_EQ(got.str(), hex) << line;
    ++rows;
  }
  EXPECT_GT(rows, 0);
}

// ---------------------------------------------------------------- CleanSubjectText

class CleanSubject : public ::testing::TestWithParam<Row> {};

TEST_P(CleanSubject, GivesTheCleanText) {
  EXPECT_EQ(CleanSubjectText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CleanSubject,
    ::testing::Values(
        Row{"ten_blanks", "a" + std::string(10, ' ') + "b", "a b"},
        Row{"twenty_three_blanks", "a" + std::string(23, ' ') + "b", "a b"},
        Row{"two_blanks", "a  b", "a b"},
        Row{"long_run", "a" + std::string(5000, ' ') + "b", "a b"},
        Row{"hyphen_removed", "Jean-Luc", "JeanLuc"},
        Row{"quotes_and_blanks",
            "Re: re-send \"price list\"  now", "Re: resend price list now"},
        Row{"removal_before_shortening", "a - b", "a b"},
        Row{"ends_shortened_not_removed", "   x   ", " x "},
        Row{"tabs_untouched", "a\t\tb \t c", "a\t\tb \t c"},
        Row{"nothing_to_do", "Meeting at 10:00", "Meeting at 10:00"},
        Row{"big5_kept", "\xA4\xA4 - \xA4\xE5", "\xA4\xA4 \xA4\xE5"},
        // The byte after a lead byte belongs to its character.
        Row{"lead_byte_pairs_with_next", "\xA4-x", "\xA4-x"},
        Row{"lead_byte_at_end", "x-\xA4", "x\xA4"},
        Row{"empty", "", ""},
        Row{"blank", "   ", ""},
        Row{"blank_after_removals", " - ", " "},
        Row{"only_removals", "--\"\"", ""}),
    RowName<Row>);

}  // namespace
}  // namespace brevan
