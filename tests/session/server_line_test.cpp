// Server lines on their way to a message box: no control byte gets through,
// whatever stands before it, and a long line is cut at a character boundary.
#include "session/server_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "tests/support/named_rows.h"

namespace brevan {
namespace {

using namespace std::string_literals;

// "許" is B3 5C: its trail byte is a backslash. A4 A4 is "中".
const std::string kXu = "\xB3\x5C";
const std::string kZhong = "\xA4\xA4";

// ---- control bytes, after a single-byte character and after a lead byte ----

std::vector<Row> ControlByteRows() {
  static std::vector<std::string> names;  // row names must outlive the rows
  std::vector<Row> rows;
  std::vector<int> controls;
  for (int c = 0; c < 0x20; ++c) controls.push_back(c);
  controls.push_back(0x7F);
  names.reserve(controls.size() * 3);
  for (int c : controls) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%02X", c);
    const std::string control(1, static_cast<char>(c));
    names.push_back("after_ascii_0x"s + hex);
    rows.push_back({names.back().c_str(), "-ERR a" + control + "b", "-ERR a?b"});
    // The lead byte has no trail byte after it: both go, each as "?".
    names.push_back("after_lead_byte_0x"s + hex);
    rows.push_back({names.back().c_str(), "-ERR \xB3" + control + "b", "-ERR ??b"});
    names.push_back("after_whole_character_0x"s + hex);
    rows.push_back({names.back().c_str(), "-ERR " + kXu + control, "-ERR " + kXu + "?"});
  }
  return rows;
}

class ServerLineControlBytes : public ::testing::TestWithParam<Row> {};

TEST_P(ServerLineControlBytes, NeverShown) { EXPECT_EQ(SanitizeServerLine(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Rows, ServerLineControlBytes, ::testing::ValuesIn(ControlByteRows()), RowName<Row>);

class ServerLineCharacters : public ::testing::TestWithParam<Row> {};

TEST_P(ServerLineCharacters, KeptOrMasked) { EXPECT_EQ(SanitizeServerLine(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerLineCharacters,
    ::testing::Values(Row{"plain_refusal_unchanged", "-ERR [AUTH] Authentication failed.",
                          "-ERR [AUTH] Authentication failed."},
                      Row{"big5_with_backslash_trail_kept", "-ERR " + kXu + kZhong, "-ERR " + kXu + kZhong},
                      Row{"lead_byte_at_the_end_masked", "-ERR \xB3", "-ERR ?"},
                      Row{"lead_byte_before_a_blank_masked", "-ERR \xB3 x", "-ERR ? x"},
                      Row{"lead_byte_before_del_masked", "-ERR \xB3\x7F", "-ERR ??"},
                      Row{"two_lead_bytes_make_one_character", "\xA4\xA4\xA4", "\xA4\xA4?"},
                      Row{"high_byte_that_leads_nothing_kept", "a\x80z", "a\x80z"},
                      Row{"nul_in_the_middle_masked", "-ERR a\0b"s, "-ERR a?b"},
                      Row{"empty_line", "", ""}),
    RowName<Row>);

// ---- length: at most 512 bytes of the line, never half a character ----

struct LengthRow {
  const char* name;
  std::string line;
  std::string expected;
};
void PrintTo(const LengthRow& row, std::ostream* os) { *os << row.name; }

class ServerLineLength : public ::testing::TestWithParam<LengthRow> {};

TEST_P(ServerLineLength, CutAtACharacterBoundary) {
  const std::string shown = SanitizeServerLine(GetParam().line);
  EXPECT_EQ(shown, GetParam().expected);
  EXPECT_LE(shown.size(), kMaxShownServerBytes + 3);
}

std::string Xs(size_t n) { return std::string(n, 'x'); }
std::string Zhongs(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += kZhong;
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerLineLength,
    ::testing::Values(LengthRow{"ascii_511_whole", Xs(511), Xs(511)},
                      LengthRow{"ascii_512_whole", Xs(512), Xs(512)},
                      LengthRow{"ascii_513_cut", Xs(513), Xs(512) + "..."},
                      LengthRow{"ascii_2000_cut", Xs(2000), Xs(512) + "..."},
                      LengthRow{"big5_512_whole", Zhongs(256), Zhongs(256)},
                      LengthRow{"big5_1000_cut_between_characters", Zhongs(500), Zhongs(256) + "..."},
                      // The character at bytes 512 and 513 would be halved: it goes whole.
                      LengthRow{"character_across_the_limit_left_out", Xs(511) + kXu + "tail", Xs(511) + "..."},
                      LengthRow{"character_ending_at_the_limit_kept", Xs(510) + kXu + "tail", Xs(510) + kXu + "..."},
                      // Control bytes count as the one "?" they become.
                      LengthRow{"masked_bytes_count_once", std::string(600, '\r'), std::string(512, '?') + "..."},
                      LengthRow{"masked_lead_byte_at_the_limit", Xs(511) + "\xB3\r", Xs(511) + "?..."}),
    [](const ::testing::TestParamInfo<LengthRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
