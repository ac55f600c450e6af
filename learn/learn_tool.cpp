#include "learn/learn_tool.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "learn/header_tokens.h"
#include "learn/learned_store.h"
#include "learn/session_learning.h"
#include "session/pop3_exchanges.h"

namespace brevan {

namespace {

constexpr const char* kUsage =
    "usage: brevan-learn [--db FILE] junk|good FILE...\n"
    "       brevan-learn [--db FILE] forget junk|good FILE...\n"
    "       brevan-learn [--db FILE] judge FILE...\n";

int Usage(std::ostream& err, const std::string& why) {
  err << "brevan-learn: " << why << "\n" << kUsage;
  return 2;
}

// The subject tests as the listing applies them to the block's lines, with
// no rules: the disguised-word verdict of any Subject line, and the subject
// the row would show.
ListedHeaders ListedOf(const std::string& block) {
  ListedHeaders headers;
  const std::vector<std::string> noRules;
  size_t at = 0;
  while (at < block.size()) {
    size_t end = block.find_first_of("\r\n", at);
    if (end == std::string::npos) end = block.size();
    TakeHeaderLine(std::string_view(block).substr(at, end - at), noRules, headers);
    at = end;
    if (at < block.size() && block[at] == '\r') ++at;
    if (at < block.size() && block[at] == '\n') ++at;
  }
  return headers;
}

}  // namespace

BlockJudgement JudgeHeaderBlock(LearnedStore& store, const std::string& block) {
  const ListedHeaders headers = ListedOf(block);
  const RowMark mark = MarkListedRow(&store, {}, headers.Subject, headers.Reason, block);
  const LearnedJudgement learned = store.Judge(block);
  BlockJudgement judgement;
  judgement.Score = learned.Score;
  judgement.Verdict = mark.Tick                                                              ? "junk"
                      : (store.VerdictOn() && learned.Verdict == LearnedVerdict::Good) ? "good"
                                                                                         : "unsure";
  return judgement;
}

int RunLearnTool(const std::vector<std::string>& args, const std::string& defaultDb, std::ostream& out,
                 std::ostream& err) {
  std::string db = defaultDb;
  size_t i = 0;
  while (i < args.size()) {
    if (args[i] == "--db") {
      if (i + 1 >= args.size()) return Usage(err, "--db needs a file");
      db = args[i + 1];
      i += 2;
    } else if (args[i].rfind("--db=", 0) == 0) {
      db = args[i].substr(5);
      i += 1;
    } else if (args[i] == "-h" || args[i] == "--help") {
      out << kUsage;
      return 0;
    } else {
      break;
    }
  }
  if (db.empty()) return Usage(err, "no store file (--db FILE)");
  if (i >= args.size()) return Usage(err, "no command");
  const std::string command = args[i++];
  enum class Action { Learn, Forget, Judge } action;
  bool junk = false;
  if (command == "junk" || command == "good") {
    action = Action::Learn;
    junk = command == "junk";
  } else if (command == "forget") {
    if (i >= args.size() || (args[i] != "junk" && args[i] != "good")) return Usage(err, "forget junk|good FILE...");
    action = Action::Forget;
    junk = args[i++] == "junk";
  } else if (command == "judge") {
    action = Action::Judge;
  } else {
    return Usage(err, "unknown command '" + command + "'");
  }
  if (i < args.size() && args[i] == "--") ++i;
  if (i >= args.size()) return Usage(err, "no files");
  const std::vector<std::string> files(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());

  LearnedStore store(db);
  if (!store.Problem().empty()) err << "brevan-learn: " << store.Problem() << "\n";
  if (action != Action::Judge && !store.CanLearn()) return 1;

  int status = 0;
  std::vector<std::string> blocks;
  for (const std::string& path : files) {
    std::string block;
    if (!ReadHeaderBlock(path, block)) {
      err << "brevan-learn: cannot read " << path << ": " << std::strerror(errno) << "\n";
      status = 1;
      continue;
    }
    if (action != Action::Judge) {
      blocks.push_back(std::move(block));
      continue;
    }
    const BlockJudgement judgement = JudgeHeaderBlock(store, block);
    char score[16];
    std::snprintf(score, sizeof score, "%.3f", judgement.Score);
    out << score << ' ' << judgement.Verdict << ' ' << path << '\n';
  }
  if (action == Action::Learn && store.Learn([&] {
        std::vector<LearnedStore::Lesson> lessons;
        for (const std::string& block : blocks) lessons.push_back({MessageKey({}, block), block});
        return lessons;
      }(), junk) < 0) {
    err << "brevan-learn: cannot write " << db << "\n";
    return 1;
  }
  if (action == Action::Forget && ForgetHeaderBlocks(store, blocks, junk) < 0) {
    err << "brevan-learn: cannot write " << db << "\n";
    return 1;
  }
  return status;
}

}  // namespace brevan
