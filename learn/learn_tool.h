#pragma once
// brevan-learn: teaches the learned judgement from message files, and asks
// it, from the command line.
//   brevan-learn [--db FILE] junk|good FILE...
//   brevan-learn [--db FILE] forget junk|good FILE...
//   brevan-learn [--db FILE] judge FILE...
// judge prints "SCORE VERDICT PATH" per file: the score with three decimals,
// junk exactly when the window would tick that header with no rules, good
// when the learned verdict is confidently good, unsure otherwise.
// Exit status: 0; 1 when a file could not be read (the rest are still done)
// or the store could not be used; 2 for a usage error.
#include <iosfwd>
#include <string>
#include <vector>

namespace brevan {

class LearnedStore;

// judge's answer for one header block: the learned score, and "junk" exactly
// when the window would tick the row with an empty rule file, "good" when the
// learned verdict is on and confidently good, "unsure" otherwise.
struct BlockJudgement {
  double Score = 0.5;
  const char* Verdict = "unsure";
};
BlockJudgement JudgeHeaderBlock(LearnedStore& store, const std::string& headerBlock);

// args: the arguments after the program's name. defaultDb: the store the
// window uses.
int RunLearnTool(const std::vector<std::string>& args, const std::string& defaultDb, std::ostream& out,
                 std::ostream& err);

}  // namespace brevan
