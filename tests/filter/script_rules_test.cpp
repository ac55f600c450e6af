// Rules meet subjects in either Chinese script, and a subject added as a rule
// always hits the subject it came from.
#include "common/codepage.h"
#include "filter/filter_rules.h"
#include "filter/subject_rule.h"
#include "filter/traditional_form.h"

#include <gtest/gtest.h>

#include "tests/support/named_rows.h"

#include <optional>
#include <string>
#include <vector>

namespace brevan {
namespace {

struct ScriptRow {
  const char* name;
  std::vector<const char*> rules;  // UTF-8 here; the rule file holds them in the code page
  const char* subject;             // UTF-8, as the list shows it
  int line;                        // the rule that hits (1-based), 0 for none
};
void PrintTo(const ScriptRow& row, std::ostream* os) { *os << row.name; }

class ScriptRules : public ::testing::TestWithParam<ScriptRow> {};

TEST_P(ScriptRules, HitInEitherScript) {
  std::vector<std::string> rules;
  for (const char* rule : GetParam().rules) rules.push_back(Utf8ToAnsi(rule));
  const JunkVerdict verdict = JudgeSubject(rules, CodePageForms(GetParam().subject));
  EXPECT_EQ(verdict.What == JunkVerdict::Kind::Rule ? verdict.Line : 0, GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ScriptRules,
    ::testing::Values(
        ScriptRow{"traditional_rule_simplified_subject", {"*發票*"}, "免费发票 100元", 1},
        ScriptRow{"traditional_rule_traditional_subject", {"*發票*"}, "免費發票 100元", 1},
        ScriptRow{"meeting_in_simplified", {"lottery", "*會議*"}, "会议通知", 2},
        ScriptRow{"other_words_no_hit", {"*發票*"}, "会议通知", 0},
        ScriptRow{"negated_found_in_traditional_form", {"[!]發票"}, "发票", 0},
        ScriptRow{"negated_found_in_neither", {"[!]發票"}, "会议", 1},
        ScriptRow{"regex_on_traditional_form", {"[PCRE]^會議"}, "会议通知", 1},
        ScriptRow{"negated_regex_found_in_traditional_form", {"[!][PCRE]^會議"}, "会议通知", 0},
        ScriptRow{"emoji_beside_rule_words", {"午餐*吃"}, "午餐 🍱 吃什麼", 1},
        ScriptRow{"latin_rule_unchanged", {"*INVOICE*"}, "Your invoice — Jørgen", 1}),
    RowName<ScriptRow>);

TEST(TraditionalForm, SimplifiedBecomesTraditionalOtherTextStays) {
  EXPECT_EQ(TraditionalForm("发票 会议 Jørgen 🍱"), "發票 會議 Jørgen 🍱");
  EXPECT_EQ(TraditionalForm("會議"), "會議");
}

struct AddRow {
  const char* name;
  const char* subject;                  // UTF-8
  std::optional<std::string> rule;      // UTF-8 of the code-page rule, or none
};
void PrintTo(const AddRow& row, std::ostream* os) { *os << row.name; }

class AddSubjectAsRule : public ::testing::TestWithParam<AddRow> {};

TEST_P(AddSubjectAsRule, WritesARuleThatHitsItsSubject) {
  const std::optional<std::string> rule = RuleFromSubject(GetParam().subject);
  ASSERT_EQ(rule.has_value(), GetParam().rule.has_value());
  if (!rule) return;
  EXPECT_EQ(*rule, Utf8ToAnsi(*GetParam().rule));
  // Written to the rule file, the rule hits the very subject it came from.
  const JunkVerdict verdict = JudgeSubject({"lottery", *rule}, CodePageForms(GetParam().subject));
  EXPECT_EQ(verdict.What, JunkVerdict::Kind::Rule);
  EXPECT_EQ(verdict.Line, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AddSubjectAsRule,
    ::testing::Values(AddRow{"big5_subject_as_is", "會議通知 明天", "會議通知 明天"},
                      AddRow{"simplified_written_traditional", "免费发票 100元", "免費發票 100元"},
                      AddRow{"ascii_subject", "Re: lunch?", "Re: lunch?"},
                      AddRow{"line_break_becomes_star", "a\nb", "a*b"},
                      AddRow{"emoji_cannot_be_written", "午餐 🍱", std::nullopt},
                      AddRow{"korean_cannot_be_written", "안녕하세요", std::nullopt}),
    RowName<AddRow>);

}  // namespace
}  // namespace brevan
