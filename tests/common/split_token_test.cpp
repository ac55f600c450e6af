#include "common/split_token.h"

#include <gtest/gtest.h>

#include <string>

namespace brevan {
namespace {

using namespace std::string_literals;

struct SplitCase {
  const char* name;
  std::string source;
  std::string separator;
  bool remove;
  std::string token;
  std::string rest;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class SplitTokenTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTokenTest, TokenAndRest) {
  const SplitCase& c = GetParam();
  std::string source = c.source;
  EXPECT_EQ(SplitToken(source, c.separator, c.remove), c.token);
  EXPECT_EQ(source, c.rest);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitTokenTest,
    ::testing::Values(
        SplitCase{"first_field", "a;b;c", ";", true, "a", "b;c"},
        SplitCase{"keep_source", "a;b;c", ";", false, "a", "a;b;c"},
        SplitCase{"leading_separator", ";b", ";", true, "", "b"},
        SplitCase{"not_found_takes_all", "abc", ";", true, "abc", ""},
        SplitCase{"not_found_keeps", "abc", ";", false, "abc", "abc"},
        SplitCase{"empty_separator_never_found", "a;b", "", true, "a;b", ""},
        SplitCase{"empty_source", "", ";", true, "", ""},
        SplitCase{"long_separator", "ab--cd--ef", "--", true, "ab", "cd--ef"},
        SplitCase{"case_sensitive", "aXbxc", "x", true, "aXb", "c"},
        SplitCase{"nul_separator_plain_search", "ab\0cd"s, "\0"s, true, "ab", "cd"},
        SplitCase{"nul_separator_after_lead", "\xA4\0x"s, "\0"s, true, "\xA4", "x"},
        SplitCase{"search_stops_at_nul", "ab\0c;d"s, ";", true, "ab\0c;d"s, ""},
        SplitCase{"found_before_nul", "a;b\0c"s, ";", true, "a", "b\0c"s},
        SplitCase{"trail_bar_skipped", "\xA5|x|y", "|", true, "\xA5|x", "y"},
        SplitCase{"trail_backslash_skipped", "\xB3\\\\tail", "\\", true, "\xB3\\", "tail"},
        SplitCase{"trail_space_not_taken", "\xA4 b c", " ", true, "\xA4 b", "c"},
        SplitCase{"lead_at_end_is_just_a_byte", "ab\xA4", "\xA4", true, "ab", ""},
        SplitCase{"double_byte_separator", "x\xA4\xA4y\xA4\xA4z", "\xA4\xA4", true, "x", "y\xA4\xA4z"},
        SplitCase{"separator_straddling_characters", "\xA4\xA4\xA4\xA4", "\xA4\xA4", true, "", "\xA4\xA4"},
        SplitCase{"match_after_single_byte", "a\xA4\xA4\xA4", "\xA4\xA4", true, "a", "\xA4"},
        SplitCase{"match_on_trail_skipped_to_next_boundary", "\xA5\xA4\xA4\xA4", "\xA4\xA4", true, "\xA5\xA4", ""}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(SplitToken, WalksAListFieldByField) {
  std::string line = "pop.example.com;110;alice;c2VjcmV0";
  std::vector<std::string> fields;
  for (int i = 0; i < 5; ++i) fields.push_back(SplitToken(line, ";", true));
  EXPECT_EQ(fields, (std::vector<std::string>{"pop.example.com", "110", "alice", "c2VjcmV0", ""}));
}

TEST(FindCharAware, SkipsEveryTrailStartedMatchInALongText) {
  // 1000 Big5 characters whose trail byte is "|", then one real bar.
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "\xA5|";
  text += "|";
  EXPECT_EQ(FindCharAware(text, "|"), 2000u);
}

}  // namespace
}  // namespace brevan
