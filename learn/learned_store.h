#pragma once
// What the program has learned of junk and good mail: an SQLite file
// (brevan-learned.sqlite in the program's folder) with one row per token
// (how many junk and how many good messages held it), the number of messages
// learned either way, and the memory of which message was learned how.
//
// The file is in WAL mode and every batch of lessons is one transaction, so
// two running copies of the program (or the window and brevan-learn) may
// learn at once: each waits for the other's transaction. The token counts are
// kept in memory as well, for judging a listing of thousands of messages
// without a query per token; a commit by another copy is noticed (SQLite's
// data_version) and the counts read again.
//
// A file that cannot be read as our store (not SQLite, damaged, unreadable)
// is renamed aside, never overwritten, and a fresh store is started; the
// learned verdict then stays off for the rest of the run, and Problem() says
// so once, in words for the user.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "learn/count_table.h"
#include "learn/header_tokens.h"
#include "learn/token_combiner.h"

struct sqlite3;
struct sqlite3_stmt;

namespace brevan {

inline constexpr const char* kLearnedStoreName = "brevan-learned.sqlite";
// Below this many junk and this many good messages the learned verdict keeps
// silent: a handful of lessons makes a loud and wrong judge.
inline constexpr uint32_t kLearnedMessagesNeeded = 20;

class LearnedStore {
 public:
  static constexpr int kSchemaVersion = 1;

  enum class State {
    Ready,        // opened (or created) and in use
    MovedAside,   // the old file could not be read: kept aside, a fresh one started, no verdict this run
    Unavailable,  // no store at all (the folder cannot be written, a newer program's file, ...)
  };

  explicit LearnedStore(std::string path, CombinerSettings settings = {});
  ~LearnedStore();
  LearnedStore(const LearnedStore&) = delete;
  LearnedStore& operator=(const LearnedStore&) = delete;

  State OpenState() const { return state_; }
  // In words for the user (UTF-8); empty when the store opened cleanly.
  const std::string& Problem() const { return problem_; }
  // Where a broken file was moved to (MovedAside).
  const std::string& AsidePath() const { return asidePath_; }
  const std::string& Path() const { return path_; }
  const CombinerSettings& Settings() const { return settings_; }

  // Learning is possible (Ready or MovedAside).
  bool CanLearn() const { return db_ != nullptr; }
  // The learned verdict may speak: the store opened cleanly this run and
  // holds at least kLearnedMessagesNeeded junk and good messages.
  bool VerdictOn();

  uint32_t JunkMessages();
  uint32_t GoodMessages();
  size_t TokenCount();
  TokenCounts Counts(const std::string& token);

  // The judgement of a header block with what is known now (whether or not
  // VerdictOn; the caller decides whether it is heard).
  LearnedJudgement Judge(std::string_view headerBlock);
  LearnedJudgement JudgeTokens(const TokenList& tokens);

  struct Lesson {
    std::string Key;          // MessageKey of the message
    std::string HeaderBlock;  // its header block
  };
  // Learns every message as junk (or good), each at most once per verdict: a
  // message already learned so is skipped, one learned the other way is
  // first unlearned. One transaction for the whole batch. Returns how many
  // messages changed; -1 when the store could not be written (nothing changed).
  int Learn(const std::vector<Lesson>& lessons, bool junk);
  // Unlearns messages that were learned as junk (or good); others are left
  // alone. Returns how many were unlearned, -1 on failure.
  int Forget(const std::vector<Lesson>& lessons, bool junk);
  // How a message was learned: 1 junk, 0 good, -1 not at all.
  int LearnedAs(const std::string& key);

  // Reads the counts again when another connection committed since. Judging
  // asks at most every kRefreshInterval on its own.
  void Refresh();
  static constexpr std::chrono::milliseconds kRefreshInterval{200};

 private:
  bool OpenFile(std::string* failure, bool* broken);
  bool PrepareSchema(std::string* failure, bool* broken);
  void CloseFile();
  void LoadCounts();
  int64_t DataVersion();
  int Change(const std::vector<Lesson>& lessons, bool junk, bool forget);
  void RefreshNowAndThen();

  std::string path_;
  CombinerSettings settings_;
  sqlite3* db_ = nullptr;
  State state_ = State::Unavailable;
  std::string problem_;
  std::string asidePath_;
  CountTable counts_;
  std::chrono::steady_clock::time_point lastRefresh_{};
  std::vector<TokenWeight> weights_;
  uint32_t junkMessages_ = 0;
  uint32_t goodMessages_ = 0;
  int64_t dataVersion_ = -1;
  sqlite3_stmt* dataVersionQuery_ = nullptr;
  TokenList scratch_;
};

// The key a message is remembered by: its UIDL where the server gave one,
// else a hash of its header block (the same block gives the same key, in the
// window and from a file).
std::string MessageKey(std::string_view uidl, std::string_view headerBlock);

}  // namespace brevan
