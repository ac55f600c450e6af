#include "filter/filter_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/codepage.h"
#include "filter/obfuscated.h"

namespace brevan {
namespace {

using namespace std::string_literals;

// --- MatchWildcard -------------------------------------------------------------

struct WildcardRow {
  const char* name;
  std::string pattern;
  std::string text;
  int position;
};

void PrintTo(const WildcardRow& row, std::ostream* os) { *os << row.name; }

class MatchWildcardTest : public ::testing::TestWithParam<WildcardRow> {};

TEST_P(MatchWildcardTest, Position) {
  const WildcardRow& row = GetParam();
  EXPECT_EQ(MatchWildcard(row.pattern, row.text), row.position)
      << "pattern '" << row.pattern << "' text '" << row.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, MatchWildcardTest,
    ::testing::Values(
        WildcardRow{"empty_pattern", "", "abc", 0},
        WildcardRow{"empty_pattern_empty_text", "", "", 0},
        WildcardRow{"empty_text", "abc", "", 0},
        WildcardRow{"substring_position", "abc", "xxabc", 3},
        WildcardRow{"whole_text", "abc", "abc", 1},
        WildcardRow{"pattern_folded", "ABC", "xabcx", 2},
        WildcardRow{"text_folded", "lottery", "Win the LOTTERY now", 9},
        WildcardRow{"substring_inside_word", "lottery", "xlotteryx", 2},
        WildcardRow{"text_shorter_than_piece", "abcd", "abc", 0},
        WildcardRow{"star_needs_a_byte", "a*b", "ab", 0},
        WildcardRow{"star_takes_one_byte", "a*b", "axb", 1},
        WildcardRow{"star_takes_many_bytes", "a*b", "a---b", 1},
        WildcardRow{"double_star_like_single", "a**b", "axb", 1},
        WildcardRow{"double_star_needs_a_byte", "a**b", "ab", 0},
        WildcardRow{"leading_star_adds_nothing", "*abc", "xabc", 2},
        WildcardRow{"leading_star_at_start", "*abc", "abc", 1},
        WildcardRow{"trailing_star_adds_nothing", "abc*", "xabc", 2},
        WildcardRow{"star_alone", "*", "anything", 0},
        WildcardRow{"stars_only", "***", "anything", 0},
        WildcardRow{"free_money_blank_between", "free*money", "FREE easy money", 1},
        WildcardRow{"free_money_one_byte_between", "free*money", "freexmoney", 1},
        WildcardRow{"free_money_adjacent", "free*money", "freemoney", 0},
        WildcardRow{"position_of_first_piece", "b*d", "abcd", 2},
        WildcardRow{"leftmost_then_skip", "a*a", "aaa", 1},
        WildcardRow{"skip_past_end", "a*a", "aa", 0},
        WildcardRow{"piece_at_text_end_then_more", "ab*c", "abc", 0},
        WildcardRow{"order_matters", "b*a", "a-b", 0},
        WildcardRow{"three_pieces", "a*b*c", "a-b-c", 1},
        WildcardRow{"blank_run", "  ", "a  b", 2},
        WildcardRow{"star_after_lead_byte_is_trail", "\xA4*", "\xA4*", 1},
        WildcardRow{"star_after_lead_byte_not_a_cut", "\xA4*", "\xA4x", 0},
        WildcardRow{"star_after_double_byte_cuts", "\xA4\x40*x", "\xA4\x40-x", 1},
        WildcardRow{"trail_byte_folded_in_pattern", "\xA4" "A", "\xA4" "a", 1},
        WildcardRow{"trail_byte_folded_in_text", "\xA4" "a", "\xA4" "A", 1},
        WildcardRow{"piece_on_trail_byte", "A", "\xA4" "A", 2},
        WildcardRow{"high_bytes_not_folded", "\xC1", "\xE1", 0},
        WildcardRow{"nul_is_a_byte", "a\0b"s, "xa\0b"s, 2}),
    [](const ::testing::TestParamInfo<WildcardRow>& info) { return std::string(info.param.name); });

// --- MatchFilterRules ---------------------------------------------------------

struct RulesRow {
  const char* name;
  std::vector<std::string> rules;
  std::string subject;
  std::string hit;  // the rule line expected back, empty for none
};

void PrintTo(const RulesRow& row, std::ostream* os) { *os << row.name; }

class MatchFilterRulesTest : public ::testing::TestWithParam<RulesRow> {
 protected:
  void TearDown() override { SetRegexCacheEnabled(true); }
};

// Every row must give the same answer with compiled patterns cached and with a
// fresh compile, and the same again when the cache is already warm.
TEST_P(MatchFilterRulesTest, FirstHit) {
  const RulesRow& row = GetParam();
  SetRegexCacheEnabled(false);
  EXPECT_EQ(MatchFilterRules(row.rules, row.subject), row.hit) << "fresh compile";
  SetRegexCacheEnabled(true);
  EXPECT_EQ(MatchFilterRules(row.rules, row.subject), row.hit) << "cache cold";
  EXPECT_EQ(MatchFilterRules(row.rules, row.subject), row.hit) << "cache warm";
}

// The verdict with its reason is the verdict without: on every row of the
// table, the junk answer equals IsJunkSubject's, and a rule reason names the
// rule MatchFilterRules returns, at its own line.
TEST_P(MatchFilterRulesTest, ReasonKeepsTheVerdict) {
  const RulesRow& row = GetParam();
  for (bool cached : {false, true}) {
    SetRegexCacheEnabled(cached);
    const JunkVerdict verdict = JudgeSubject(row.rules, row.subject);
    EXPECT_EQ(verdict.IsJunk(), IsJunkSubject(row.rules, row.subject)) << "cached " << cached;
    const std::string disguise(FirstObfuscatedWord(row.subject));
    if (!disguise.empty()) {
      EXPECT_EQ(verdict.What, JunkVerdict::Kind::DisguisedWord);
      EXPECT_EQ(verdict.Word, disguise);
      continue;
    }
    if (row.hit.empty()) {
      EXPECT_EQ(verdict.What, JunkVerdict::Kind::None);
      continue;
    }
    ASSERT_EQ(verdict.What, JunkVerdict::Kind::Rule);
    EXPECT_EQ(verdict.Rule, row.hit);
    ASSERT_GE(verdict.Line, 1);
    ASSERT_LE(verdict.Line, static_cast<int>(row.rules.size()));
    EXPECT_EQ(row.rules[static_cast<size_t>(verdict.Line - 1)], row.hit);
    EXPECT_EQ(FirstFilterRuleHit(row.rules, row.subject), verdict.Line - 1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MatchFilterRulesTest,
    ::testing::Values(
        RulesRow{"no_rules", {}, "anything", ""},
        RulesRow{"empty_line_never_hits", {""}, "anything", ""},
        RulesRow{"star_line_never_hits", {"*"}, "anything", ""},
        RulesRow{"wildcard_hit_folded", {"lottery"}, "Win the LOTTERY now", "lottery"},
        RulesRow{"wildcard_inside_word", {"lottery"}, "xlotteryx", "lottery"},
        RulesRow{"wildcard_miss", {"lottery"}, "Meeting", ""},
        RulesRow{"wildcard_star_hit", {"free*money"}, "FREE easy money", "free*money"},
        RulesRow{"wildcard_star_one_byte", {"free*money"}, "freexmoney", "free*money"},
        RulesRow{"wildcard_star_adjacent_miss", {"free*money"}, "freemoney", ""},
        RulesRow{"stored_line_returned_as_is", {"LOTTERY"}, "lottery", "LOTTERY"},
        RulesRow{"blank_line_looks_for_blanks", {"  "}, "a  b", "  "},
        RulesRow{"blank_line_misses_single_blank", {"  "}, "a b", ""},
        RulesRow{"negated_wildcard_hits_without", {"[!]invoice"}, "Hello", "[!]invoice"},
        RulesRow{"negated_wildcard_misses_with", {"[!]invoice"}, "Your INVOICE", ""},
        RulesRow{"negation_alone_hits_everything", {"[!]"}, "anything", "[!]"},
        RulesRow{"negation_alone_hits_empty", {"[!]"}, "", "[!]"},
        RulesRow{"negated_star_hits", {"[!]*"}, "anything", "[!]*"},
        RulesRow{"regex_anchored_caseless", {"[PCRE]^re:"}, "RE: hello", "[PCRE]^re:"},
        RulesRow{"regex_anchored_leading_blank", {"[PCRE]^re:"}, " RE: hello", ""},
        RulesRow{"negated_regex_opposite", {"[!][PCRE]^re:"}, " RE: hello", "[!][PCRE]^re:"},
        RulesRow{"negated_regex_opposite_miss", {"[!][PCRE]^re:"}, "RE: hello", ""},
        RulesRow{"regex_alone_hits_everything", {"[PCRE]"}, "anything", "[PCRE]"},
        RulesRow{"regex_alone_hits_empty", {"[PCRE]"}, "", "[PCRE]"},
        RulesRow{"negated_empty_regex_hits_none", {"[!][PCRE]"}, "anything", ""},
        RulesRow{"regex_empty_subject", {"[PCRE]^$"}, "", "[PCRE]^$"},
        RulesRow{"regex_empty_subject_miss", {"[PCRE]^$"}, "x", ""},
        RulesRow{"wildcard_misses_empty_subject", {"a", "*", ""}, "", ""},
        RulesRow{"malformed_regex_silent", {"[PCRE]("}, "(", ""},
        RulesRow{"malformed_regex_later_rules_apply", {"[PCRE](", "[!][PCRE][", "spam"}, "spam", "spam"},
        RulesRow{"match_error_skipped",
                 {"[PCRE](*LIMIT_MATCH=10)(a+)+$", "tail"}, "aaaaaaaaaa! tail", "tail"},
        RulesRow{"negated_match_error_is_not_a_hit",
                 {"[!][PCRE](*LIMIT_MATCH=10)(a+)+$"}, "aaaaaaaaaa!", ""},
        RulesRow{"first_hit_wins", {"hello", "[PCRE]hel", "[!]x"}, "hello", "hello"},
        RulesRow{"first_hit_wins_later", {"nope", "[PCRE]hel", "hello"}, "hello", "[PCRE]hel"},
        RulesRow{"lower_case_prefix_is_wildcard", {"[pcre]abc"}, "x[PCRE]ABCx", "[pcre]abc"},
        RulesRow{"lower_case_prefix_not_regex", {"[pcre]a.c"}, "abc", ""},
        RulesRow{"prefix_after_blank_is_wildcard", {" [PCRE]abc"}, "abc", ""},
        RulesRow{"prefix_after_blank_literal", {" [PCRE]abc"}, "x [pcre]ABC", " [PCRE]abc"},
        RulesRow{"negation_after_regex_is_class", {"[PCRE][!]x"}, "abc", ""},
        RulesRow{"negation_after_regex_class_hit", {"[PCRE][!]x"}, "a!X", "[PCRE][!]x"},
        RulesRow{"regex_byte_semantics", {"[PCRE]^..$"}, "\xA4\x40", "[PCRE]^..$"},
        RulesRow{"regex_high_bytes_not_folded", {"[PCRE]\\xC1"}, "\xE1", ""},
        RulesRow{"regex_class_caseless", {"[PCRE]^[A-Z]+$"}, "abc", "[PCRE]^[A-Z]+$"},
        RulesRow{"regex_case_sensitive_inline", {"[PCRE](?-i)^[A-Z]+$"}, "abc", ""},
        RulesRow{"big5_trail_folding",
                 {Utf8ToAnsi("功") /* A5 5C */, "\xA4" "A"}, "x\xA4" "ax", "\xA4" "A"},
        RulesRow{"big5_rule_hit", {Utf8ToAnsi("免費")}, Utf8ToAnsi("限時免費!"), Utf8ToAnsi("免費")}),
    [](const ::testing::TestParamInfo<RulesRow>& info) { return std::string(info.param.name); });

TEST(RegexCache, KeyedByPatternText) {
  SetRegexCacheEnabled(true);
  ClearRegexCache();
  EXPECT_EQ(MatchFilterRules({"[PCRE]^abc"}, "xyz"), "");
  // A new rule list must not get the answers of the old one.
  EXPECT_EQ(MatchFilterRules({"[PCRE]^xyz"}, "xyz"), "[PCRE]^xyz");
  EXPECT_EQ(MatchFilterRules({"[!][PCRE]^xyz"}, "xyz"), "");
  EXPECT_EQ(MatchFilterRules({"[PCRE]^abc"}, "abcd"), "[PCRE]^abc");
}

TEST(RegexCache, FailureStaysSilentForEverySubject) {
  SetRegexCacheEnabled(true);
  ClearRegexCache();
  const std::vector<std::string> rules = {"[PCRE](", "[!][PCRE](", "[PCRE]ok"};
  for (const char* subject : {"(", "ok", "", "(ok)"}) {
    const std::string expected = std::string(subject).find("ok") != std::string::npos ? "[PCRE]ok" : "";
    EXPECT_EQ(MatchFilterRules(rules, subject), expected) << subject;
  }
}

// --- junk test and rule file ---------------------------------------------------------

// --- the reason of a verdict -----------------------------------------------------

struct ReasonRow {
  const char* name;
  std::vector<std::string> rules;
  std::string subject;
  JunkVerdict::Kind what;
  std::string word;
  std::string rule;
  int line;
};

void PrintTo(const ReasonRow& row, std::ostream* os) { *os << row.name; }

class JudgeSubjectTest : public ::testing::TestWithParam<ReasonRow> {};

TEST_P(JudgeSubjectTest, GivesTheReason) {
  const ReasonRow& row = GetParam();
  const JunkVerdict verdict = JudgeSubject(row.rules, row.subject);
  EXPECT_EQ(verdict.What, row.what);
  EXPECT_EQ(verdict.Word, row.word);
  EXPECT_EQ(verdict.Rule, row.rule);
  EXPECT_EQ(verdict.Line, row.line);
  EXPECT_EQ(verdict.IsJunk(), IsJunkSubject(row.rules, row.subject));
}

using K = JunkVerdict::Kind;
const std::vector<std::string> kRuleFile = {"# not a comment, a wildcard", "", "*lottery*winner*", "[!]*",
                                            "[PCRE]^re:\\s*\\d+", "[!][PCRE].", "*lottery*winner*"};

INSTANTIATE_TEST_SUITE_P(
    Reasons, JudgeSubjectTest,
    ::testing::Values(
        ReasonRow{"none", {"lottery"}, "Meeting at noon", K::None, "", "", 0},
        ReasonRow{"disguise_first_word_flagged", {}, "cheap l0an and m0ney", K::DisguisedWord, "l0an", "", 0},
        ReasonRow{"disguise_before_any_rule", {"cheap"}, "cheap m0ney", K::DisguisedWord, "m0ney", "", 0},
        ReasonRow{"disguise_deliberate_utf8", {}, "Re: UTF8 text", K::DisguisedWord, "UTF8", "", 0},
        ReasonRow{"disguise_deliberate_mp3", {}, "new MP3 player", K::DisguisedWord, "MP3", "", 0},
        ReasonRow{"disguise_deliberate_a4", {}, "A4 paper", K::DisguisedWord, "A4", "", 0},
        ReasonRow{"disguise_bar", {}, "buy | now", K::DisguisedWord, "|", "", 0},
        ReasonRow{"disguise_capital_o", {}, "I lOve you", K::DisguisedWord, "lOve", "", 0},
        ReasonRow{"punctuated_disguise_is_no_word", {"x"}, "m0ney! x", K::Rule, "", "x", 1},
        ReasonRow{"wildcard_after_empty_lines", kRuleFile, "the lottery big winner", K::Rule, "",
                  "*lottery*winner*", 3},
        ReasonRow{"negation_line", {"lottery", "[!]*"}, "", K::Rule, "", "[!]*", 2},
        ReasonRow{"regex_line", {"lottery", "[PCRE]^re:\\s*\\d+"}, "RE: 42", K::Rule, "",
                  "[PCRE]^re:\\s*\\d+", 2},
        ReasonRow{"negated_regex_line", {"a", "b", "[!][PCRE]."}, "", K::Rule, "", "[!][PCRE].", 3},
        ReasonRow{"duplicate_rule_first_line", {"spam", "x", "spam"}, "spam", K::Rule, "", "spam", 1},
        ReasonRow{"failed_regex_skipped_line_counted", {"[PCRE](", "spam"}, "spam", K::Rule, "", "spam", 2},
        ReasonRow{"big5_rule", {"x", Utf8ToAnsi("免費")}, Utf8ToAnsi("限時免費!"), K::Rule, "",
                  Utf8ToAnsi("免費"), 2}),
    [](const ::testing::TestParamInfo<ReasonRow>& info) { return std::string(info.param.name); });

TEST(IsJunkSubject, DisguisedWordFirstThenRules) {
  EXPECT_TRUE(IsJunkSubject({}, "cheap l0an"));
  // No rule can clear what the disguised-word test flags.
  EXPECT_TRUE(IsJunkSubject({"[!][PCRE]"}, "cheap l0an"));
  EXPECT_TRUE(IsJunkSubject({"lottery"}, "Win the LOTTERY now"));
  EXPECT_FALSE(IsJunkSubject({"lottery"}, "Meeting at noon"));
  EXPECT_FALSE(IsJunkSubject({}, "Meeting at noon"));
  EXPECT_FALSE(IsJunkSubject({}, ""));
}

struct LinesRow {
  const char* name;
  std::string bytes;
  std::vector<std::string> lines;
};

void PrintTo(const LinesRow& row, std::ostream* os) { *os << row.name; }

class ReadRuleLinesTest : public ::testing::TestWithParam<LinesRow> {};

TEST_P(ReadRuleLinesTest, Lines) { EXPECT_EQ(ReadRuleLines(GetParam().bytes), GetParam().lines); }

INSTANTIATE_TEST_SUITE_P(
    Files, ReadRuleLinesTest,
    ::testing::Values(
        LinesRow{"empty_file", "", {}},
        LinesRow{"three_line_ends", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
        LinesRow{"final_line_end_adds_nothing", "a\r\n", {"a"}},
        LinesRow{"empty_lines_kept", "a\r\n\r\n\nb", {"a", "", "", "b"}},
        LinesRow{"cr_cr_lf", "a\r\r\nb", {"a", "", "b"}},
        LinesRow{"nothing_trimmed", "  x \t\r\n [PCRE]y", {"  x \t", " [PCRE]y"}},
        LinesRow{"nul_ends_text", "a\r\nb\0c\r\nd"s, {"a", "b"}},
        LinesRow{"nul_first", "\0a"s, {}}),
    [](const ::testing::TestParamInfo<LinesRow>& info) { return std::string(info.param.name); });

TEST(ReadRuleLines, FileFromDisk) {
  // The sample file mixes line ends and ends in a NUL followed by junk.
  FILE* f = std::fopen(BREVAN_TEST_DATA "/filter/subjectfilter.cfg", "rb");
  ASSERT_NE(f, nullptr);
  std::string bytes;
  char buffer[4096];
  size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.append(buffer, n);
  std::fclose(f);
  const std::vector<std::string> rules = ReadRuleLines(bytes);
  ASSERT_EQ(rules.size(), 6u);
  EXPECT_EQ(MatchFilterRules(rules, "RE: hello"), "[PCRE]^re:");
  EXPECT_EQ(MatchFilterRules(rules, "cheap FREE easy money"), "free*money");
  EXPECT_EQ(MatchFilterRules(rules, Utf8ToAnsi("免費贈品")), Utf8ToAnsi("免費"));
  EXPECT_EQ(MatchFilterRules(rules, "quarterly invoice"), "");
  EXPECT_EQ(MatchFilterRules(rules, "quarterly report"), "[!]invoice");
  EXPECT_EQ(MatchFilterRules(rules, "after the nul"), "[!][PCRE]invoice|report");
}

}  // namespace
}  // namespace brevan
