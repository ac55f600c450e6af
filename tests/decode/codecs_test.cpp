#include "decode/codecs.h"

#include <gtest/gtest.h>

#include "tests/support/named_rows.h"

#include <ostream>
#include <random>
#include <string>
#include <string_view>

namespace brevan {
namespace {

using namespace std::string_literals;

// ---------------------------------------------------------------- Base64 decoding

class Base64Decode : public ::testing::TestWithParam<Row> {};

TEST_P(Base64Decode, GivesTheBytes) {
  EXPECT_EQ(DecodeBase64Text(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Base64Decode,
    ::testing::Values(
        Row{"three_bytes", "QUJD", "ABC"},
        Row{"padded", "QUJDRA==", "ABCD"},
        Row{"padding_missing", "QUJDRA", "ABCD"},
        Row{"one_pad", "QUI=", "AB"},
        Row{"one_pad_missing", "QUI", "AB"},
        Row{"crlf_lines", "QUJD\r\nRA==\r\n", "ABCD"},
        Row{"lf_lines", "QU\nJD\nRA==", "ABCD"},
        Row{"break_inside_group", "Q\r\nUJDRA==", "ABCD"},
        Row{"empty", "", ""},
        Row{"blanks_only", " \t \r\n ", ""},
        Row{"nul_only_is_blank", "\0\0"s, ""},
        Row{"binary_out", "AP8A/w==", "\0\xFF\0\xFF"s},
        Row{"all_padding", "====", ""},
        Row{"padding_run_after_group", "QUJD====", "ABC"},
        // A character outside the alphabet sets the lowest bit of the one before
        // it: "QU-D" decodes as "QVAD" would.
        Row{"stray_sets_low_bit", "QU-D", "\x41\x50\x03"},
        Row{"stray_matches_next_letter", "QVAD", "\x41\x50\x03"},
        // In the first place that bit falls outside the three bytes.
        Row{"stray_in_first_place", "-UJD", "\x01\x42\x43"},
        Row{"high_byte_is_stray", "QU\xA4" "D", "\x41\x50\x03"},
        // An "=" that is not part of the final run is a stray character.
        Row{"inner_padding", "QUI=QUJD", "AB@ABC"},
        Row{"padding_group_not_last", "QUJDRA=====", "ABCD\x10@"},
        // Leading and trailing blanks are decoded, not trimmed.
        Row{"leading_blank", " UJD", "\x01\x42\x43"},
        Row{"trailing_blank_single_final", "QUJD ", "ABC"},
        Row{"trailing_blank_after_pad", "QUI= ", "AB@"},
        // Bits that padding would have cleared still give a byte.
        Row{"short_group_extra_byte_2", "QR", "\x41\x10"},
        Row{"short_group_extra_byte_3", "QUJ", "AB@"},
        Row{"short_group_clean_2", "QQ", "A"},
        // One character cannot make a byte.
        Row{"single_char_final", "QUJDQ", "ABC"},
        Row{"single_char_only", "Q", ""}),
    RowName<Row>);

// ---------------------------------------------------------------- Base64 encoding

class Base64Encode : public ::testing::TestWithParam<Row> {};

TEST_P(Base64Encode, GivesTheText) {
  EXPECT_EQ(EncodeBase64Text(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Base64Encode,
    ::testing::Values(
        Row{"four_bytes", "ABCD", "QUJDRA=="},
        Row{"three_bytes", "ABC", "QUJD"},
        Row{"two_bytes", "AB", "QUI="},
        Row{"one_byte", "A", "QQ=="},
        Row{"empty", "", ""},
        Row{"blank", " \t ", ""},
        Row{"blank_edges_kept", " a ", "IGEg"},
        Row{"high_and_nul", "\xFF\xFE\0"s, "//4A"},
        Row{"every_sixth_bit", "\xFB\xEF\xBE", "++++"},
        Row{"slash", "\xFF\xFF\xFF", "////"}),
    RowName<Row>);

TEST(Base64Encode, LongInputStaysOnOneLine) {
  const std::string text(100, 'x');
  const std::string encoded = EncodeBase64Text(text);
  EXPECT_EQ(encoded.size(), 136u);
  EXPECT_EQ(encoded.find_first_of("\r\n"), std::string::npos);
}

// ---------------------------------------------------------------- quoted-printable

class QuotedPrintableDecode : public ::testing::TestWithParam<Row> {};

TEST_P(QuotedPrintableDecode, GivesTheBytes) {
  EXPECT_EQ(DecodeQuotedPrintableText(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, QuotedPrintableDecode,
    ::testing::Values(
        Row{"upper_hex", "caf=C3=A9", "caf\xC3\xA9"},
        Row{"lower_hex", "caf=c3=a9", "caf\xC3\xA9"},
        Row{"mixed_case_hex", "=c3=A9=Ab", "\xC3\xA9\xAB"},
        Row{"soft_break", "first=\r\nsecond", "firstsecond"},
        Row{"hard_break_kept", "first\r\nsecond", "first\r\nsecond"},
        Row{"not_hex", "a=ZZb", "a=ZZb"},
        Row{"half_hex", "a=4g", "a=4g"},
        Row{"blank_after_escape", "a= b", "a= b"},
        Row{"bare_lf_is_no_soft_break", "a=\nbc", "a=\nbc"},
        Row{"escape_starts_escape_text", "x==41", "x==41"},
        Row{"cut_off_after_equals", "abc=", "abc"},
        Row{"cut_off_after_one_digit", "abc=4", "abc4"},
        Row{"underscore_is_plain", "a_b", "a_b"},
        Row{"nul_byte_out", "a=00b", "a\0b"s},
        Row{"encoded_line_break", "=0D=0A", "\r\n"},
        Row{"blank_edges_decoded", " =41 ", " A "},
        Row{"empty", "", ""},
        Row{"blank", "  \r\n\t", ""},
        Row{"only_equals", "=", ""},
        Row{"nul_passes", "a\0b"s, "a\0b"s}),
    RowName<Row>);

// ---------------------------------------------------------------- random input

// The decoders take whatever a server sends; they must never fail, and they
// can only shrink their input.
TEST(CodecsOnRandomBytes, NeverFailAndStayInBounds) {
  std::mt19937 gen(20261208);
  const std::string alphabet = "QUJDRAa+/=\r\n -_\x80\xFF\0"s;
  for (int round = 0; round < 4000; ++round) {
    std::string text(gen() % 64, '\0');
    const bool skewed = round % 2 == 0;
    for (char& c : text) {
      c = skewed ? alphabet[gen() % alphabet.size()] : static_cast<char>(gen());
    }
    const std::string b64 = DecodeBase64Text(text);
    EXPECT_LE(b64.size(), text.size() / 4 * 3 + 3);
    const std::string qp = DecodeQuotedPrintableText(text);
    EXPECT_LE(qp.size(), text.size());
    const std::string enc = EncodeBase64Text(text);
    EXPECT_EQ(enc.size() % 4, 0u);
  }
}

TEST(CodecsOnRandomBytes, Base64RoundTrip) {
  std::mt19937 gen(7);
  for (int round = 0; round < 3000; ++round) {
    std::string text(1 + gen() % 80, '\0');
    for (char& c : text) c = static_cast<char>(gen());
    const std::string encoded = EncodeBase64Text(text);
    if (encoded.empty()) {
      // Only blank text encodes to nothing.
      for (char c : text) ASSERT_LE(static_cast<unsigned char>(c), 32u);
      continue;
    }
    ASSERT_EQ(DecodeBase64Text(encoded), text) << "round " << round;
    // Padding dropped or lines broken anywhere: the same bytes.
    std::string unpadded = encoded;
    while (!unpadded.empty() && unpadded.back() == '=') unpadded.pop_back();
    ASSERT_EQ(DecodeBase64Text(unpadded), text) << "round " << round;
    std::string broken = encoded;
    broken.insert(gen() % (broken.size() + 1), gen() % 2 ? "\r\n" : "\n");
    ASSERT_EQ(DecodeBase64Text(broken), text) << "round " << round;
  }
}

// A literal rendering of the group rules (CR and LF out, groups of four while
// more than four remain, the trailing "=" run off the final group), written
// for clarity, against which the table-driven decoder is compared.
std::string SlowBase64(std::string_view input) {
  static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s;
  for (char c : input) {
    if (c != '\r' && c != '\n') s += c;
  }
  auto value = [&](char c) -> unsigned {
    const size_t at = kAlphabet.find(c);
    return at == std::string::npos ? 64u : static_cast<unsigned>(at);
  };
  std::string out;
  while (s.size() > 4) {
    const unsigned n = value(s[0]) << 18 | value(s[1]) << 12 | value(s[2]) << 6 | value(s[3]);
    out += static_cast<char>((n >> 16) & 0xFF);
    out += static_cast<char>((n >> 8) & 0xFF);
    out += static_cast<char>(n & 0xFF);
    s.erase(0, 4);
  }
  while (!s.empty() && s.back() == '=') s.pop_back();
  unsigned x[4] = {};
  for (size_t i = 0; i < s.size(); ++i) x[i] = value(s[i]);
  const unsigned n = x[0] << 18 | x[1] << 12 | x[2] << 6 | x[3];
  if (s.size() >= 2) out += static_cast<char>((n >> 16) & 0xFF);
  if (s.size() == 2 && (x[1] & 0x0F)) out += static_cast<char>((x[1] & 0x0F) * 16);
  if (s.size() >= 3) out += static_cast<char>((n >> 8) & 0xFF);
  if (s.size() == 3 && (x[2] & 0x03)) out += static_cast<char>((x[2] & 0x03) * 64);
  if (s.size() == 4) out += static_cast<char>(n & 0xFF);
  return out;
}

TEST(CodecsOnRandomBytes, Base64MatchesTheGroupRules) {
  std::mt19937 gen(99);
  const std::string alphabet = "QUJDRAZz09+/==\r\n -\xA4";
  for (int round = 0; round < 5000; ++round) {
    std::string text(1 + gen() % 24, '\0');
    for (char& c : text) c = alphabet[gen() % alphabet.size()];
    bool blank = true;
    for (char c : text) blank = blank && static_cast<unsigned char>(c) <= 32;
    const std::string expected = blank ? std::string() : SlowBase64(text);
    ASSERT_EQ(DecodeBase64Text(text), expected) << "input [" << text << "]";
  }
}

}  // namespace
}  // namespace brevan
