// Whether a row is ticked once the learned verdict joins the subject tests.
#include <gtest/gtest.h>

#include <string>

#include "common/codepage.h"
#include "learn/row_mark.h"
#include "named_rows.h"

namespace brevan {
namespace {

JunkVerdict None() { return {}; }
JunkVerdict Word(const char* word) {
  JunkVerdict verdict;
  verdict.What = JunkVerdict::Kind::DisguisedWord;
  verdict.Word = word;
  return verdict;
}
JunkVerdict Rule(const char* rule) {
  JunkVerdict verdict;
  verdict.What = JunkVerdict::Kind::Rule;
  verdict.Rule = rule;
  verdict.Line = 2;
  return verdict;
}
LearnedJudgement Learned(double score, LearnedVerdict verdict) {
  LearnedJudgement learned;
  learned.Score = score;
  learned.Verdict = verdict;
  learned.Strongest = {{"subject:pills", 0.99}, {"from:domain:spam.example", 0.97}};
  return learned;
}

enum class Reason { None, Subject, Rules, LearnedTick, Note };

struct MarkRow {
  const char* name;
  JunkVerdict subject;
  JunkVerdict rules;
  bool on;
  LearnedJudgement learned;
  bool tick;
  Reason reason;
};
void PrintTo(const MarkRow& row, std::ostream* os) { *os << row.name; }

class RowMarkTest : public ::testing::TestWithParam<MarkRow> {};

TEST_P(RowMarkTest, TickAndReason) {
  const MarkRow& row = GetParam();
  const RowMark mark = DecideRowMark(row.subject, row.rules, row.on, row.learned);
  EXPECT_EQ(mark.Tick, row.tick);
  switch (row.reason) {
    case Reason::None:
      EXPECT_FALSE(mark.SubjectReason.IsJunk());
      EXPECT_TRUE(mark.LearnedNote.empty());
      break;
    case Reason::Subject:
      EXPECT_EQ(mark.SubjectReason.What, row.subject.What);
      EXPECT_TRUE(mark.LearnedNote.empty());
      break;
    case Reason::Rules:
      EXPECT_EQ(mark.SubjectReason.What, JunkVerdict::Kind::Rule);
      EXPECT_EQ(mark.SubjectReason.Rule, row.rules.Rule);
      break;
    case Reason::LearnedTick:
      EXPECT_FALSE(mark.SubjectReason.IsJunk());
      // The score with three decimals and the strongest tokens.
      EXPECT_NE(mark.LearnedNote.find("0.987"), std::string::npos) << mark.LearnedNote;
      EXPECT_NE(mark.LearnedNote.find("subject:pills, from:domain:spam.example"), std::string::npos);
      break;
    case Reason::Note:
      // Both the word and the learned score.
      EXPECT_FALSE(mark.SubjectReason.IsJunk());
      EXPECT_NE(mark.LearnedNote.find(Utf8ToAnsi("偽裝字 ") + row.subject.Word), std::string::npos);
      EXPECT_NE(mark.LearnedNote.find("0.020"), std::string::npos) << mark.LearnedNote;
      break;
  }
}

const LearnedJudgement kJunk = Learned(0.98654, LearnedVerdict::Junk);
const LearnedJudgement kUnsure = Learned(0.4, LearnedVerdict::Unsure);
const LearnedJudgement kGood = Learned(0.02, LearnedVerdict::Good);

INSTANTIATE_TEST_SUITE_P(
    Rows, RowMarkTest,
    ::testing::Values(
        // Off: exactly the subject tests, whatever the learned judgement says.
        MarkRow{"off_word_ticks", Word("l0an"), None(), false, kGood, true, Reason::Subject},
        MarkRow{"off_rule_ticks", Rule("pills"), None(), false, kGood, true, Reason::Subject},
        MarkRow{"off_learned_junk_silent", None(), None(), false, kJunk, false, Reason::None},
        // On.
        MarkRow{"rule_ticks_even_if_good", Rule("pills"), Rule("pills"), true, kGood, true, Reason::Subject},
        MarkRow{"word_ticks_when_unsure", Word("MP3"), None(), true, kUnsure, true, Reason::Subject},
        MarkRow{"word_ticks_when_junk", Word("l0an"), None(), true, kJunk, true, Reason::Subject},
        MarkRow{"word_overruled_when_good", Word("MP3"), None(), true, kGood, false, Reason::Note},
        MarkRow{"word_overruled_but_a_rule_ticks", Word("MP3"), Rule("mp3"), true, kGood, true, Reason::Rules},
        MarkRow{"learned_junk_ticks", None(), None(), true, kJunk, true, Reason::LearnedTick},
        MarkRow{"unsure_never_ticks", None(), None(), true, kUnsure, false, Reason::None},
        MarkRow{"good_stays", None(), None(), true, kGood, false, Reason::None}),
    RowName<MarkRow>);

}  // namespace
}  // namespace brevan
