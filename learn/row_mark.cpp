#include "learn/row_mark.h"

#include <cstdio>

#include "common/codepage.h"

namespace brevan {

namespace {

std::string Score(double score) {
  char text[16];
  std::snprintf(text, sizeof text, "%.3f", score);
  return text;
}

}  // namespace

std::string LearnedReasonText(const LearnedJudgement& learned) {
  std::string text = "學習判斷: ";
  text += learned.Verdict == LearnedVerdict::Junk ? "垃圾信" : learned.Verdict == LearnedVerdict::Good ? "正常信" : "不確定";
  text += " (分數 " + Score(learned.Score);
  for (size_t i = 0; i < learned.Strongest.size(); ++i) {
    text += i == 0 ? "; " : ", ";
    text += learned.Strongest[i].Token;
  }
  text += ")";
  return Utf8ToAnsi(text);
}

RowMark DecideRowMark(const JunkVerdict& subjectVerdict, const JunkVerdict& ruleVerdict, bool learnedOn,
                      const LearnedJudgement& learned) {
  RowMark mark;
  if (!learnedOn) {
    mark.Tick = subjectVerdict.IsJunk();
    mark.SubjectReason = subjectVerdict;
    return mark;
  }
  const bool confidentlyGood = learned.Verdict == LearnedVerdict::Good;
  if (subjectVerdict.What == JunkVerdict::Kind::Rule) {
    mark.Tick = true;
    mark.SubjectReason = subjectVerdict;
    return mark;
  }
  if (subjectVerdict.What == JunkVerdict::Kind::DisguisedWord) {
    if (!confidentlyGood) {
      mark.Tick = true;
      mark.SubjectReason = subjectVerdict;
      return mark;
    }
    // The word alone does not outweigh what was learned; a rule still does.
    if (ruleVerdict.What == JunkVerdict::Kind::Rule) {
      mark.Tick = true;
      mark.SubjectReason = ruleVerdict;
      return mark;
    }
    mark.LearnedNote = Utf8ToAnsi("未標記: 偽裝字 ") + subjectVerdict.Word + Utf8ToAnsi(", 但") + LearnedReasonText(learned);
    return mark;
  }
  if (learned.Verdict == LearnedVerdict::Junk) {
    mark.Tick = true;
    mark.LearnedNote = Utf8ToAnsi("原因: ") + LearnedReasonText(learned);
  }
  return mark;
}

}  // namespace brevan
