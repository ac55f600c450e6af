#pragma once
// Whether a listed message's row is ticked for deletion, and why, once the
// learned judgement joins the subject tests:
//   - a rule match ticks, as it always did;
//   - a disguised word ticks, unless the learned verdict is confidently good:
//     then the row stays unticked and its hint names both the word and the
//     learned score;
//   - a learned junk verdict ticks, its hint giving the score and the
//     strongest tokens;
//   - an unsure learned verdict never ticks;
//   - while the learned verdict is off (too few lessons, a broken store),
//     every row is marked exactly as by the subject tests alone.
#include <string>

#include "filter/filter_rules.h"
#include "learn/token_combiner.h"

namespace brevan {

struct RowMark {
  bool Tick = false;
  // The subject test's verdict whose reason the row shows (as before the
  // learned verdict existed); None when the learned verdict is the reason.
  JunkVerdict SubjectReason;
  // Code page: the learned reason of a tick, or the note on a row that the
  // learned verdict kept unticked; empty otherwise.
  std::string LearnedNote;
};

// subjectVerdict: the subject tests in their order (the disguised word
// first); ruleVerdict: the rules alone (asked for when a disguised word may
// be overruled). learnedOn: the learned verdict may speak.
RowMark DecideRowMark(const JunkVerdict& subjectVerdict, const JunkVerdict& ruleVerdict, bool learnedOn,
                      const LearnedJudgement& learned);

// "學習判斷: 垃圾信 (分數 0.998; subject:free, ...)" in the code page.
std::string LearnedReasonText(const LearnedJudgement& learned);

}  // namespace brevan
