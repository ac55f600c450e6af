#include "filter/regex.h"

#include <gtest/gtest.h>
#include <pcre.h>

#include <clocale>
#include <string>
#include <vector>

namespace brevan {
namespace {

using namespace std::string_literals;

// --- option sets --------------------------------------------------------------

TEST(RegexOptions, EachMemberMapsToItsLibraryBit) {
  const std::vector<std::pair<unsigned, int>> compile = {
      {kRegexAnchored, PCRE_ANCHORED},         {kRegexCaseless, PCRE_CASELESS},
      {kRegexDollarEndOnly, PCRE_DOLLAR_ENDONLY}, {kRegexDotAll, PCRE_DOTALL},
      {kRegexExtended, PCRE_EXTENDED},         {kRegexExtra, PCRE_EXTRA},
      {kRegexMultiLine, PCRE_MULTILINE},       {kRegexUngreedy, PCRE_UNGREEDY},
      {kRegexNoAutoCapture, PCRE_NO_AUTO_CAPTURE}};
  unsigned all = 0;
  int allPcre = 0;
  for (size_t k = 0; k < compile.size(); ++k) {
    EXPECT_EQ(compile[k].first, 1u << k);
    EXPECT_EQ(CompileOptionsToPcre(compile[k].first), compile[k].second);
    EXPECT_EQ(PcreToCompileOptions(compile[k].second), compile[k].first);
    all |= compile[k].first;
    allPcre |= compile[k].second;
  }
  EXPECT_EQ(CompileOptionsToPcre(all), allPcre);
  EXPECT_EQ(PcreToCompileOptions(allPcre | PCRE_UTF8), all);  // bits outside the table dropped
  EXPECT_EQ(CompileOptionsToPcre(1u << 9), 0);

  EXPECT_EQ(MatchOptionsToPcre(kMatchAnchored), PCRE_ANCHORED);
  EXPECT_EQ(MatchOptionsToPcre(kMatchNotBol), PCRE_NOTBOL);
  EXPECT_EQ(MatchOptionsToPcre(kMatchNotEol), PCRE_NOTEOL);
  EXPECT_EQ(MatchOptionsToPcre(kMatchNotEmpty), PCRE_NOTEMPTY);
  EXPECT_EQ(MatchOptionsToPcre(1u << 4), 0);
}

TEST(RegexOptions, CompiledOptionsReadBack) {
  const unsigned options = kRegexCaseless | kRegexMultiLine | kRegexUngreedy;
  EXPECT_EQ(NewRegex("a", options)->Options(), options);
  EXPECT_EQ(NewRegex("a", 0)->Options(), 0u);
}

// --- matching -------------------------------------------------------------------

struct MatchRow {
  const char* name;
  std::string pattern;
  unsigned options;
  std::string subject;
  int offset;
  unsigned matchOptions;
  int index;  // -1: no match
  std::string value;
};

void PrintTo(const MatchRow& row, std::ostream* os) { *os << row.name; }

class RegexMatchTest : public ::testing::TestWithParam<MatchRow> {};

TEST_P(RegexMatchTest, IndexAndValue) {
  const MatchRow& row = GetParam();
  const auto regex = NewRegex(row.pattern, row.options);
  const auto match = regex->Match(row.subject, row.offset, row.matchOptions);
  EXPECT_EQ(match->Success(), row.index != -1);
  EXPECT_EQ(match->Index(), row.index);
  EXPECT_EQ(match->Value(), row.value);
  EXPECT_EQ(match->Length(), row.index == -1 ? 0 : static_cast<int>(row.value.size()));
  EXPECT_EQ(regex->IsMatch(row.subject, row.offset, row.matchOptions), row.index != -1);
  if (row.offset == 0 && row.matchOptions == 0) {
    EXPECT_EQ(regex->IsMatch(row.subject), row.index != -1);
    EXPECT_EQ(regex->Match(row.subject)->Index(), row.index);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RegexMatchTest,
    ::testing::Values(
        MatchRow{"empty_pattern_matches_at_zero", "", 0, "abc", 0, 0, 0, ""},
        MatchRow{"empty_pattern_empty_subject", "", 0, "", 0, 0, 0, ""},
        MatchRow{"offset_at_end_is_searched", "", 0, "abc", 3, 0, 3, ""},
        MatchRow{"offset_at_end_dollar", "$", 0, "abc", 3, 0, 3, ""},
        MatchRow{"offset_beyond_end_no_match", "", 0, "abc", 4, 0, -1, ""},
        MatchRow{"negative_offset_no_match", "", 0, "abc", -1, 0, -1, ""},
        MatchRow{"offset_skips_earlier_match", "a", 0, "aba", 1, 0, 2, "a"},
        MatchRow{"plain_no_match", "x", 0, "abc", 0, 0, -1, ""},
        MatchRow{"case_sensitive_by_default", "ABC", 0, "xabc", 0, 0, -1, ""},
        MatchRow{"caseless", "ABC", kRegexCaseless, "xabc", 0, 0, 1, "abc"},
        MatchRow{"caseless_high_bytes_unfolded", "\xC1", kRegexCaseless, "\xE1", 0, 0, -1, ""},
        MatchRow{"compile_anchored", "b", kRegexAnchored, "ab", 0, 0, -1, ""},
        MatchRow{"match_anchored_at_offset", "b", 0, "ab", 1, kMatchAnchored, 1, "b"},
        MatchRow{"match_anchored_fails", "b", 0, "ab", 0, kMatchAnchored, -1, ""},
        MatchRow{"not_bol", "^a", 0, "a", 0, kMatchNotBol, -1, ""},
        MatchRow{"not_eol", "a$", 0, "a", 0, kMatchNotEol, -1, ""},
        MatchRow{"not_empty_skips_empty", "x*", 0, "axc", 0, kMatchNotEmpty, 1, "x"},
        MatchRow{"not_empty_no_match", "x*", 0, "abc", 0, kMatchNotEmpty, -1, ""},
        MatchRow{"single_line_by_default", "^b", 0, "a\nb", 0, 0, -1, ""},
        MatchRow{"multi_line", "^b", kRegexMultiLine, "a\nb", 0, 0, 2, "b"},
        MatchRow{"dot_stops_at_newline", "a.b", 0, "a\nb", 0, 0, -1, ""},
        MatchRow{"dot_all", "a.b", kRegexDotAll, "a\nb", 0, 0, 0, "a\nb"},
        MatchRow{"extended", "a b # comment", kRegexExtended, "xab", 0, 0, 1, "ab"},
        MatchRow{"ungreedy", "a+", kRegexUngreedy, "aaa", 0, 0, 0, "a"},
        MatchRow{"dollar_before_final_newline", "a$", 0, "a\n", 0, 0, 0, "a"},
        MatchRow{"dollar_end_only", "a$", kRegexDollarEndOnly, "a\n", 0, 0, -1, ""},
        MatchRow{"empty_subject_anchors", "^$", 0, "", 0, 0, 0, ""},
        MatchRow{"nul_in_subject", "b", 0, "a\0b"s, 0, 0, 2, "b"},
        MatchRow{"bytes_not_utf8", "^.$", 0, "\xA4", 0, 0, 0, "\xA4"},
        MatchRow{"big5_as_two_bytes", "^..$", 0, "\xA4\x40", 0, 0, 0, "\xA4\x40"}),
    [](const ::testing::TestParamInfo<MatchRow>& info) { return std::string(info.param.name); });

TEST(RegexMatch, EmptyViewWithoutStorage) {
  // A default view has no pointer at all; it is still the empty subject.
  const std::string_view nothing;
  EXPECT_TRUE(NewRegex("^$", 0)->IsMatch(nothing));
  EXPECT_EQ(NewRegex("", 0)->Match(nothing)->Index(), 0);
  EXPECT_EQ(NewRegex("", 0)->Replace(nothing, "-"), "-");
  EXPECT_EQ(NewRegex("x", 0)->Split(nothing)->Count(), 1);
}

// --- groups ---------------------------------------------------------------------

struct GroupRow {
  const char* name;
  int group;
  int index;
  int length;
  std::string value;
};

void PrintTo(const GroupRow& row, std::ostream* os) { *os << row.name; }

class RegexGroupTest : public ::testing::TestWithParam<GroupRow> {};

TEST_P(RegexGroupTest, ReadingRules) {
  const GroupRow& row = GetParam();
  const auto groups = NewRegex("(a)(x)?(c)", 0)->Match("zacz")->Groups();
  ASSERT_EQ(groups->Count(), 4);
  const auto group = groups->Items(row.group);
  EXPECT_EQ(group->Success(), row.index != -1);
  EXPECT_EQ(group->Index(), row.index);
  EXPECT_EQ(group->Length(), row.length);
  EXPECT_EQ(group->Value(), row.value);
}

INSTANTIATE_TEST_SUITE_P(
    Groups, RegexGroupTest,
    ::testing::Values(GroupRow{"whole_match", 0, 1, 2, "ac"}, GroupRow{"first", 1, 1, 1, "a"},
                      GroupRow{"not_taking_part", 2, -1, 0, ""}, GroupRow{"third", 3, 2, 1, "c"},
                      GroupRow{"before_match", -1, 0, 1, "z"}, GroupRow{"after_match", -2, 3, 1, "z"},
                      GroupRow{"past_last_group", 4, -1, 0, ""}, GroupRow{"below_minus_two", -3, -1, 0, ""}),
    [](const ::testing::TestParamInfo<GroupRow>& info) { return std::string(info.param.name); });

TEST(RegexGroups, NoMatchReadsUnset) {
  const auto match = NewRegex("(a)", 0)->Match("xyz");
  EXPECT_FALSE(match->Success());
  EXPECT_EQ(match->Index(), -1);
  EXPECT_EQ(match->Length(), 0);
  EXPECT_EQ(match->Groups()->Count(), 0);
  for (int g : {0, 1, -1, -2}) {
    EXPECT_FALSE(match->Groups()->Items(g)->Success()) << g;
    EXPECT_EQ(match->Groups()->Items(g)->Value(), "") << g;
  }
}

TEST(RegexGroups, GroupOutlivesItsMatch) {
  std::shared_ptr<ICaptureGroup> group;
  {
    auto match = NewRegex("b(c)", 0)->Match(std::string("abcd"));
    group = match->Groups()->Items(1);
  }
  // Match and subject are gone on the caller's side; the group still reads.
  EXPECT_EQ(group->Value(), "c");
  EXPECT_EQ(group->Index(), 2);
}

TEST(RegexGroups, MatchChecksItsOffsets) {
  auto subject = std::make_shared<const std::string>("ab");
  EXPECT_THROW(TRegexMatch(subject, 1, {}), std::invalid_argument);
  EXPECT_THROW(TRegexMatch(subject, 0, {0, 1, 0}), std::invalid_argument);
  EXPECT_THROW(TRegexMatch(subject, 1, {0, 1}), std::invalid_argument);
  EXPECT_NO_THROW(TRegexMatch(subject, 1, {0, 1, 0}));
}

// --- failures ---------------------------------------------------------------------

std::string LibraryCompileError(const std::string& pattern) {
  const char* error = nullptr;
  int offset = 0;
  pcre* code = pcre_compile(pattern.c_str(), 0, &error, &offset, nullptr);
  if (code != nullptr) {
    pcre_free(code);
    return "compiled";
  }
  return "Invalid Pattern '" + pattern + "': error at position " + std::to_string(offset) + ": " + error;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ERegexException& e) {
    return e.what();
  }
  return "no error";
}

TEST(RegexErrors, InvalidPatternMessage) {
  EXPECT_EQ(ErrorOf([] { NewRegex("(", 0); }), "Invalid Pattern '(': error at position 1: missing )");
  for (const std::string pattern : {"a)", "[a", "abc\\", "x{2,1}", "(?<n>", "100%s%d("}) {
    EXPECT_EQ(ErrorOf([&] { NewRegex(pattern, 0); }), LibraryCompileError(pattern)) << pattern;
  }
  // The library would read only up to the NUL and compile a different pattern.
  EXPECT_EQ(ErrorOf([] { NewRegex("a\0)"s, 0); }),
            "Invalid Pattern 'a\\x00)': error at position 1: NUL byte in pattern");
}

TEST(RegexErrors, LibraryCodeNames) {
  const std::vector<std::pair<int, std::string>> rows = {
      {-1, "PCRE_ERROR_NOMATCH"},     {-2, "PCRE_ERROR_NULL"},
      {-3, "PCRE_ERROR_BADOPTION"},   {-4, "PCRE_ERROR_BADMAGIC"},
      {-5, "PCRE_ERROR_UNKNOWN_NODE"}, {-6, "PCRE_ERROR_NOMEMORY"},
      {-7, "PCRE_ERROR_NOSUBSTRING"}, {-8, "Unknown PCRE error code -8"},
      {-33, "Unknown PCRE error code -33"}, {-1000, "Unknown PCRE error code -1000"}};
  for (const auto& [code, text] : rows) EXPECT_EQ(PcreErrorText(code), text) << code;
}

TEST(RegexErrors, MatcherErrorRaised) {
  const auto regex = NewRegex("(*LIMIT_MATCH=10)(a+)+$", 0);
  EXPECT_EQ(ErrorOf([&] { regex->IsMatch("aaaaaaaaaa!"); }), "Unknown PCRE error code -8");
  EXPECT_EQ(ErrorOf([&] { regex->Match("aaaaaaaaaa!"); }), "Unknown PCRE error code -8");
  EXPECT_TRUE(regex->IsMatch("aa"));
}

// --- locales --------------------------------------------------------------------------

TEST(RegexLocale, BuiltInTablesForC) {
  TRegexLocale locale("C", 0);
  EXPECT_EQ(locale.Tables(), nullptr);
  EXPECT_FALSE(locale.OwnsTables());
  EXPECT_EQ(locale.Name(), "C");
  const auto info = std::dynamic_pointer_cast<IRegexInfo>(NewRegex("a", 0));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->LocaleName(), "C");
}

TEST(RegexLocale, InvalidLocaleOrCategory) {
  EXPECT_EQ(ErrorOf([] { NewRegex("a", 0, "no_such_locale", 0); }),
            "Invalid locale string no_such_locale or invalid locale category 0");
  EXPECT_EQ(ErrorOf([] { NewRegex("a", 0, "C", 999); }),
            "Invalid locale string C or invalid locale category 999");
  EXPECT_THROW(NewRegex("a", 0, "C", -1), EBadRegexLocale);
  EXPECT_THROW(NewRegex("a", 0, "C\0x"s, LC_ALL), EBadRegexLocale);
}

TEST(RegexLocale, OwnTablesLeaveTheProcessLocaleAlone) {
  const std::string before = std::setlocale(LC_ALL, nullptr);
  {
    TRegexLocale locale("C", LC_ALL);
    EXPECT_NE(locale.Tables(), nullptr);
    EXPECT_TRUE(locale.OwnsTables());
    EXPECT_EQ(locale.Name(), "C");
  }
  const auto regex = NewRegex("ABC", kRegexCaseless, "POSIX", LC_CTYPE);
  EXPECT_TRUE(regex->IsMatch("xabc"));
  EXPECT_EQ(std::dynamic_pointer_cast<IRegexInfo>(regex)->LocaleName(), "C");
  EXPECT_EQ(std::setlocale(LC_ALL, nullptr), before);
}

// --- pattern information ----------------------------------------------------------------

TEST(RegexInfo, LibraryItems) {
  const auto info = std::dynamic_pointer_cast<IRegexInfo>(NewRegex("(a)(b)\\1c", 0));
  ASSERT_NE(info, nullptr);
  EXPECT_GT(info->Size(), 0u);
  EXPECT_EQ(info->CaptureCount(), 2);
  EXPECT_EQ(info->BackrefMax(), 1);
  EXPECT_EQ(info->FirstByte(), 'a');
  EXPECT_EQ(info->LastLiteral(), 'c');
  EXPECT_EQ(info->Pattern(), "(a)(b)\\1c");
  EXPECT_EQ(info->Options(), 0u);

  // No fixed first byte: the pattern is studied and has a start table.
  const auto studied = std::dynamic_pointer_cast<IRegexInfo>(NewRegex("x?[ab]", 0));
  EXPECT_LT(studied->FirstByte(), 0);
  const unsigned char* table = studied->FirstTable();
  ASSERT_NE(table, nullptr);
  EXPECT_TRUE(table['a' / 8] & (1 << ('a' % 8)));
  EXPECT_FALSE(table['c' / 8] & (1 << ('c' % 8)));
  EXPECT_EQ(studied->LastLiteral(), -1);
}

// --- walks: Matches, Split, Replace -----------------------------------------------------------

struct WalkRow {
  const char* name;
  std::string pattern;
  std::string subject;
  unsigned matchOptions;
  std::vector<int> indexes;
  std::vector<std::string> values;
};

void PrintTo(const WalkRow& row, std::ostream* os) { *os << row.name; }

class RegexMatchesTest : public ::testing::TestWithParam<WalkRow> {};

TEST_P(RegexMatchesTest, CollectionAndCallbackAgree) {
  const WalkRow& row = GetParam();
  const auto regex = NewRegex(row.pattern, 0);
  const auto all = regex->Matches(row.subject, row.matchOptions);
  std::vector<int> indexes;
  std::vector<std::string> values;
  for (int i = 0; i < all->Count(); ++i) {
    indexes.push_back(all->Items(i)->Index());
    values.push_back(all->Items(i)->Value());
  }
  EXPECT_EQ(indexes, row.indexes);
  EXPECT_EQ(values, row.values);

  std::vector<int> seen;
  regex->Matches(row.subject, row.matchOptions,
                 [&](const std::shared_ptr<IMatch>& m) { seen.push_back(m->Index()); });
  EXPECT_EQ(seen, row.indexes);
  if (row.matchOptions == 0) {
    EXPECT_EQ(regex->Matches(row.subject)->Count(), all->Count());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Walks, RegexMatchesTest,
    ::testing::Values(
        WalkRow{"empty_matches_every_position", "", "abc", 0, {0, 1, 2, 3}, {"", "", "", ""}},
        WalkRow{"empty_and_non_empty", "a*", "baaac", 0, {0, 1, 4, 5}, {"", "aaa", "", ""}},
        WalkRow{"not_empty_option", "a*", "baaac", kMatchNotEmpty, {1}, {"aaa"}},
        WalkRow{"digits", "\\d+", "a12b3", 0, {1, 4}, {"12", "3"}},
        WalkRow{"no_match", "x", "abc", 0, {}, {}},
        WalkRow{"empty_subject", "", "", 0, {0}, {""}},
        WalkRow{"adjacent", "ab", "ababab", 0, {0, 2, 4}, {"ab", "ab", "ab"}}),
    [](const ::testing::TestParamInfo<WalkRow>& info) { return std::string(info.param.name); });

struct SplitRow {
  const char* name;
  std::string pattern;
  std::string subject;
  bool includeMatches;
  std::vector<std::string> parts;
};

void PrintTo(const SplitRow& row, std::ostream* os) { *os << row.name; }

class RegexSplitTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(RegexSplitTest, Parts) {
  const SplitRow& row = GetParam();
  const auto parts = NewRegex(row.pattern, 0)->Split(row.subject, row.includeMatches);
  std::vector<std::string> got;
  for (int i = 0; i < parts->Count(); ++i) got.push_back(parts->Items(i));
  EXPECT_EQ(got, row.parts);
}

INSTANTIATE_TEST_SUITE_P(
    Splits, RegexSplitTest,
    ::testing::Values(
        SplitRow{"plain", ",", "a,b,,c", false, {"a", "b", "", "c"}},
        SplitRow{"include_matches", ",", "a,b", true, {"a", ",", "b"}},
        SplitRow{"groups_added", "(,)", "a,b", false, {"a", ",", "b"}},
        SplitRow{"groups_and_matches", "(-)(-)?", "a--b-c", true, {"a", "--", "-", "-", "b", "-", "-", "c"}},
        SplitRow{"unset_group_left_out", "(x)|,", "a,bxc", false, {"a", "b", "x", "c"}},
        SplitRow{"separators_at_ends", "-", "-a-", false, {"", "a", ""}},
        SplitRow{"empty_pattern", "", "abc", false, {"", "a", "b", "c", ""}},
        SplitRow{"no_match", "x", "abc", false, {"abc"}},
        SplitRow{"empty_subject", ",", "", false, {""}}),
    [](const ::testing::TestParamInfo<SplitRow>& info) { return std::string(info.param.name); });

struct ReplaceRow {
  const char* name;
  std::string pattern;
  std::string subject;
  std::string replacement;
  std::string result;
};

void PrintTo(const ReplaceRow& row, std::ostream* os) { *os << row.name; }

class RegexReplaceTest : public ::testing::TestWithParam<ReplaceRow> {};

TEST_P(RegexReplaceTest, Result) {
  const ReplaceRow& row = GetParam();
  EXPECT_EQ(NewRegex(row.pattern, 0)->Replace(row.subject, row.replacement), row.result);
}

INSTANTIATE_TEST_SUITE_P(
    Replacements, RegexReplaceTest,
    ::testing::Values(
        ReplaceRow{"empty_matches_insert_four_times", "", "abc", "-", "-a-b-c-"},
        ReplaceRow{"plain_text", "b+", "abbbcb", "X", "aXcX"},
        ReplaceRow{"no_match_unchanged", "x", "abc", "X", "abc"},
        ReplaceRow{"groups_swapped", "(\\w+)@(\\w+)", "mail bob@host now", "$2 at $1", "mail host at bob now"},
        ReplaceRow{"group_zero", "b+", "abbc", "<$0>", "a<bb>c"},
        ReplaceRow{"leading_zero_digits", "(b)", "abc", "<$01>", "a<b>c"},
        ReplaceRow{"unset_group_empty", "(x)?b", "abc", "[$1]", "a[]c"},
        ReplaceRow{"whole_match", "b+", "abbbc", "[$&]", "a[bbb]c"},
        ReplaceRow{"before_match", "b", "abc", "<$`>", "a<a>c"},
        ReplaceRow{"after_match", "b", "abc", "<$'>", "a<c>c"},
        ReplaceRow{"highest_group", "(a)(b)", "xab", "$+", "xb"},
        ReplaceRow{"highest_group_without_groups", "ab", "xab", "[$+]", "x[ab]"},
        ReplaceRow{"whole_subject", "b", "abc", "[$_]", "a[abc]c"},
        ReplaceRow{"dollar_dollar", "b", "abc", "$$", "a$c"},
        ReplaceRow{"dollar_dollar_then_digit", "(b)", "abc", "$$1", "a$1c"},
        ReplaceRow{"unknown_reference_copied", "b", "abc", "$x", "a$xc"},
        ReplaceRow{"dollar_at_end_copied", "b", "abc", "$", "a$c"},
        ReplaceRow{"replacement_holds_dollar_pattern_text", "b", "abc", "\\$", "a\\$c"}),
    [](const ::testing::TestParamInfo<ReplaceRow>& info) { return std::string(info.param.name); });

TEST(RegexReplace, GroupBeyondCountRaises) {
  const auto regex = NewRegex("(b)", 0);
  EXPECT_EQ(ErrorOf([&] { regex->Replace("abc", "$2"); }), "Invalid substitution variable $2");
  EXPECT_THROW(regex->Replace("abc", "$2"), ERegexInvalidSubstitutionGroup);
  EXPECT_EQ(ErrorOf([&] { regex->Replace("abc", "$99999999999"); }),
            "Invalid substitution variable $99999999999");
  // Without a match nothing is expanded, so nothing is raised.
  EXPECT_EQ(regex->Replace("xyz", "$2"), "xyz");
}

TEST(RegexReplace, CallbackAndOptions) {
  const auto regex = NewRegex("\\d", 0);
  EXPECT_EQ(regex->Replace("a1b2", [](const std::shared_ptr<IMatch>& m) { return "<" + m->Value() + ">"; }),
            "a<1>b<2>");
  EXPECT_EQ(regex->Replace("a1b2", ReplaceCallback()), "a1b2");
  const auto stars = NewRegex("x*", 0);
  EXPECT_EQ(stars->Replace("axc", "-", kMatchNotEmpty), "a-c");
  EXPECT_EQ(stars->Replace("axc", [](const std::shared_ptr<IMatch>&) { return std::string("-"); },
                           kMatchNotEmpty),
            "a-c");
}

TEST(RegexCollections, BoundsAndNulls) {
  TRegexMatchCollection matches;
  EXPECT_THROW(matches.Add(nullptr), std::invalid_argument);
  EXPECT_THROW(matches.Items(0), std::out_of_range);
  TRegexStringCollection strings;
  strings.Add("a");
  EXPECT_EQ(strings.Items(0), "a");
  EXPECT_THROW(strings.Items(1), std::out_of_range);
  EXPECT_THROW(strings.Items(-1), std::out_of_range);
}

}  // namespace
}  // namespace brevan
