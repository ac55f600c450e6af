#include "learn/learned_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <utility>

#include "common/file_lock.h"
#include "learn/header_tokens.h"

namespace brevan {

namespace {

// How long a transaction waits for another copy's to end.
constexpr int kBusyTimeoutMs = 10000;

class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  bool Ok() const { return rc_ == SQLITE_OK && stmt_; }
  int Prepared() const { return rc_; }
  sqlite3_stmt* get() const { return stmt_; }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  void BindText(int index, std::string_view text) {
    sqlite3_bind_blob(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void BindInt(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  int Step() { return sqlite3_step(stmt_); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_ = SQLITE_ERROR;
};

bool Exec(sqlite3* db, const char* sql, int* rc = nullptr) {
  const int result = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc) *rc = result;
  return result == SQLITE_OK;
}

// Damage, or a file that is no store of ours: what moving aside mends.
bool IsBrokenCode(int rc) {
  const int primary = rc & 0xFF;
  return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB || primary == SQLITE_CANTOPEN ||
         primary == SQLITE_PERM || primary == SQLITE_IOERR || primary == SQLITE_AUTH;
}

std::string TimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

uint64_t Fnv1a(std::string_view text, uint64_t hash) {
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

}  // namespace

std::string MessageKey(std::string_view uidl, std::string_view headerBlock) {
  if (!uidl.empty()) return "uidl:" + std::string(uidl.substr(0, 70));
  // The same header block from the server (lines as "top n 0" gives them)
  // and from a file (any line ends, maybe a last empty line) hashes alike.
  std::string normal;
  headerBlock = headerBlock.substr(0, kMaxHeaderBytes);
  normal.reserve(headerBlock.size() + 64);
  for (size_t i = 0; i < headerBlock.size(); ++i) {
    const char c = headerBlock[i];
    if (c == '\r') {
      if (i + 1 < headerBlock.size() && headerBlock[i + 1] == '\n') ++i;
      normal += '\n';
    } else {
      normal += c;
    }
  }
  while (!normal.empty() && normal.back() == '\n') normal.pop_back();
  // Two 64-bit FNV-1a hashes from different starting values: no protection
  // against a forger, but two messages of one mailbox never meet by chance.
  char text[40];
  std::snprintf(text, sizeof text, "hdr:%016llx%016llx",
                static_cast<unsigned long long>(Fnv1a(normal, 0xcbf29ce484222325ULL)),
                static_cast<unsigned long long>(Fnv1a(normal, 0x84222325cbf29ce4ULL)));
  return text;
}

LearnedStore::LearnedStore(std::string path, CombinerSettings settings)
    : path_(std::move(path)), settings_(settings) {
  // Two copies starting together must not both judge the file broken and
  // move each other's fresh file aside.
  FileLock lock(path_ + ".lock");
  std::string failure;
  bool broken = false;
  if (OpenFile(&failure, &broken)) {
    state_ = State::Ready;
    LoadCounts();
    return;
  }
  CloseFile();
  if (!broken) {
    state_ = State::Unavailable;
    problem_ = "無法使用學習過的垃圾信資料檔 " + path_ + " (" + failure + "). 這次執行期間不學習, 也不用學到的判斷標記垃圾信.";
    return;
  }
  // Keep the broken file (and its journal) under another name for whoever
  // wants to look at it, and start afresh.
  asidePath_ = path_ + ".broken-" + TimeStamp();
  for (int n = 2; Exists(asidePath_) && n < 100; ++n) asidePath_ = path_ + ".broken-" + TimeStamp() + "-" + std::to_string(n);
  if (std::rename(path_.c_str(), asidePath_.c_str()) != 0) {
    state_ = State::Unavailable;
    problem_ = "學習過的垃圾信資料檔 " + path_ + " 已損壞或無法讀取, 也無法改名保留. 這次執行期間不學習, 也不用學到的判斷標記垃圾信.";
    asidePath_.clear();
    return;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    if (Exists(path_ + suffix)) std::rename((path_ + suffix).c_str(), (asidePath_ + suffix).c_str());
  }
  std::string again;
  bool brokenAgain = false;
  if (!OpenFile(&again, &brokenAgain)) {
    CloseFile();
    state_ = State::Unavailable;
    problem_ = "學習過的垃圾信資料檔 " + path_ + " 已損壞或無法讀取, 已改名為 " + asidePath_ +
               " 保留, 但無法建立新的資料檔 (" + again + "). 這次執行期間不學習, 也不用學到的判斷標記垃圾信.";
    return;
  }
  state_ = State::MovedAside;
  LoadCounts();
  problem_ = "學習過的垃圾信資料檔 " + path_ + " 已損壞或無法讀取 (" + failure + "), 已改名為 " + asidePath_ +
             " 保留, 並重新開始一個新的資料檔. 這次執行期間不用學到的判斷標記垃圾信.";
}

LearnedStore::~LearnedStore() { CloseFile(); }

void LearnedStore::CloseFile() {
  sqlite3_finalize(dataVersionQuery_);
  dataVersionQuery_ = nullptr;
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

bool LearnedStore::OpenFile(std::string* failure, bool* broken) {
  const bool existed = Exists(path_);
  const int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    *failure = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    // A file that is there but cannot be opened is broken for us; a folder
    // where nothing can be created is not mended by moving anything.
    *broken = existed && IsBrokenCode(rc);
    return false;
  }
  if (!existed) ::chmod(path_.c_str(), 0600);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  return PrepareSchema(failure, broken);
}

bool LearnedStore::PrepareSchema(std::string* failure, bool* broken) {
  auto fail = [&](int rc) {
    *failure = sqlite3_errmsg(db_);
    *broken = IsBrokenCode(rc);
    return false;
  };
  int rc = SQLITE_OK;
  // The first read of a file that is not SQLite fails here (NOTADB).
  if (!Exec(db_, "PRAGMA journal_mode=WAL", &rc)) return fail(rc);
  // In WAL mode a commit need not wait for the disk; a crash loses at most
  // the last lessons, never the file.
  Exec(db_, "PRAGMA synchronous=NORMAL");
  {
    Statement check(db_, "PRAGMA quick_check");
    if (!check.Ok()) return fail(check.Prepared());
    rc = check.Step();
    if (rc != SQLITE_ROW) return fail(rc);
    const auto* answer = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
    if (!answer || std::string_view(answer) != "ok") {
      *failure = answer ? answer : "quick_check";
      *broken = true;
      return false;
    }
  }
  if (!Exec(db_, "BEGIN IMMEDIATE", &rc)) return fail(rc);
  const char* schema =
      "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL);"
      "CREATE TABLE IF NOT EXISTS totals(verdict INTEGER PRIMARY KEY, messages INTEGER NOT NULL);"
      "CREATE TABLE IF NOT EXISTS tokens(token BLOB PRIMARY KEY, junk INTEGER NOT NULL, good INTEGER NOT NULL)"
      " WITHOUT ROWID;"
      "CREATE TABLE IF NOT EXISTS learned(key TEXT PRIMARY KEY, verdict INTEGER NOT NULL) WITHOUT ROWID;"
      "INSERT OR IGNORE INTO totals VALUES(0, 0), (1, 0);";
  if (!Exec(db_, schema, &rc)) {
    Exec(db_, "ROLLBACK");
    return fail(rc);
  }
  int version = 0;
  {
    Statement read(db_, "SELECT max(version) FROM schema_version");
    if (read.Ok() && read.Step() == SQLITE_ROW) version = sqlite3_column_int(read.get(), 0);
  }
  if (version == 0) {
    Statement write(db_, "INSERT INTO schema_version VALUES(?1)");
    write.BindInt(1, kSchemaVersion);
    rc = write.Step();
    if (rc != SQLITE_DONE) {
      Exec(db_, "ROLLBACK");
      return fail(rc);
    }
  } else if (version > kSchemaVersion) {
    // A later program's store: not ours to change, nor broken.
    Exec(db_, "ROLLBACK");
    *failure = "schema version " + std::to_string(version) + ", newer than this program's " +
               std::to_string(kSchemaVersion);
    *broken = false;
    return false;
  }
  if (!Exec(db_, "COMMIT", &rc)) {
    Exec(db_, "ROLLBACK");
    return fail(rc);
  }
  return true;
}

int64_t LearnedStore::DataVersion() {
  if (!db_) return -1;
  // Asked before every judgement: prepared once.
  if (!dataVersionQuery_ && sqlite3_prepare_v2(db_, "PRAGMA data_version", -1, &dataVersionQuery_, nullptr) != SQLITE_OK)
    return -1;
  int64_t version = -1;
  if (sqlite3_step(dataVersionQuery_) == SQLITE_ROW) version = sqlite3_column_int64(dataVersionQuery_, 0);
  sqlite3_reset(dataVersionQuery_);
  return version;
}

void LearnedStore::LoadCounts() {
  counts_.Clear();
  junkMessages_ = goodMessages_ = 0;
  lastRefresh_ = std::chrono::steady_clock::now();
  if (!db_) return;
  // One read transaction, so the counts and the totals agree (or the
  // caller's write transaction).
  const bool own = sqlite3_get_autocommit(db_) != 0;
  if (own) Exec(db_, "BEGIN");
  dataVersion_ = DataVersion();
  {
    Statement totals(db_, "SELECT verdict, messages FROM totals");
    while (totals.Ok() && totals.Step() == SQLITE_ROW) {
      const auto messages = static_cast<uint32_t>(std::max<int64_t>(0, sqlite3_column_int64(totals.get(), 1)));
      (sqlite3_column_int(totals.get(), 0) == 1 ? junkMessages_ : goodMessages_) = messages;
    }
  }
  Statement tokens(db_, "SELECT token, junk, good FROM tokens");
  while (tokens.Ok() && tokens.Step() == SQLITE_ROW) {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(tokens.get(), 0));
    const int size = sqlite3_column_bytes(tokens.get(), 0);
    TokenCounts counts;
    counts.Junk = static_cast<uint32_t>(std::max<int64_t>(0, sqlite3_column_int64(tokens.get(), 1)));
    counts.Good = static_cast<uint32_t>(std::max<int64_t>(0, sqlite3_column_int64(tokens.get(), 2)));
    counts_.Set(TokenHash(std::string_view(data ? data : "", static_cast<size_t>(size))), counts);
  }
  if (own) Exec(db_, "COMMIT");
}

void LearnedStore::Refresh() {
  if (!db_) return;
  lastRefresh_ = std::chrono::steady_clock::now();
  if (DataVersion() != dataVersion_) LoadCounts();
}

void LearnedStore::RefreshNowAndThen() {
  if (std::chrono::steady_clock::now() - lastRefresh_ >= kRefreshInterval) Refresh();
}

bool LearnedStore::VerdictOn() {
  if (state_ != State::Ready) return false;
  RefreshNowAndThen();
  return junkMessages_ >= kLearnedMessagesNeeded && goodMessages_ >= kLearnedMessagesNeeded;
}

uint32_t LearnedStore::JunkMessages() {
  RefreshNowAndThen();
  return junkMessages_;
}

uint32_t LearnedStore::GoodMessages() {
  RefreshNowAndThen();
  return goodMessages_;
}

size_t LearnedStore::TokenCount() {
  Refresh();
  return counts_.size();
}

TokenCounts LearnedStore::Counts(const std::string& token) {
  Refresh();
  return counts_.Find(TokenHash(token));
}

LearnedJudgement LearnedStore::Judge(std::string_view headerBlock) {
  RefreshNowAndThen();
  TokenizeHeaderBlock(headerBlock, scratch_);
  return JudgeTokens(scratch_);
}

LearnedJudgement LearnedStore::JudgeTokens(const TokenList& tokens) {
  weights_.clear();
  for (const std::string_view token : tokens) {
    const TokenCounts counts = counts_.Find(TokenHash(token));
    if (counts.Junk == 0 && counts.Good == 0) continue;
    weights_.push_back({token, TokenProbability(counts, junkMessages_, goodMessages_, settings_)});
  }
  return CombineProbabilities(weights_, settings_);
}

int LearnedStore::LearnedAs(const std::string& key) {
  if (!db_) return -1;
  Statement read(db_, "SELECT verdict FROM learned WHERE key = ?1");
  read.BindText(1, key);
  if (!read.Ok() || read.Step() != SQLITE_ROW) return -1;
  return sqlite3_column_int(read.get(), 0);
}

int LearnedStore::Learn(const std::vector<Lesson>& lessons, bool junk) { return Change(lessons, junk, false); }

int LearnedStore::Forget(const std::vector<Lesson>& lessons, bool junk) { return Change(lessons, junk, true); }

int LearnedStore::Change(const std::vector<Lesson>& lessons, bool junk, bool forget) {
  if (!db_) return -1;
  if (lessons.empty()) return 0;
  int rc = SQLITE_OK;
  if (!Exec(db_, "BEGIN IMMEDIATE", &rc)) return -1;
  // Another copy's lessons first (read under our write lock), so the deltas
  // below land in memory on what the file holds.
  if (DataVersion() != dataVersion_) LoadCounts();
  struct Delta {
    int64_t junk = 0;
    int64_t good = 0;
  };
  std::map<std::string, Delta> deltas;  // per token, for the whole batch
  int64_t junkMessages = 0;
  int64_t goodMessages = 0;
  int changed = 0;
  bool ok = true;
  {
    Statement read(db_, "SELECT verdict FROM learned WHERE key = ?1");
    Statement remember(db_, "INSERT OR REPLACE INTO learned(key, verdict) VALUES(?1, ?2)");
    Statement drop(db_, "DELETE FROM learned WHERE key = ?1");
    ok = read.Ok() && remember.Ok() && drop.Ok();
    // Within one batch the same message twice counts once.
    std::map<std::string, int> seen;
    for (const Lesson& lesson : lessons) {
      if (!ok) break;
      int was = -1;
      if (const auto s = seen.find(lesson.Key); s != seen.end()) {
        was = s->second;
      } else {
        read.Reset();
        read.BindText(1, lesson.Key);
        const int step = read.Step();
        if (step == SQLITE_ROW) was = sqlite3_column_int(read.get(), 0);
        else if (step != SQLITE_DONE) ok = false;
      }
      const int want = junk ? 1 : 0;
      auto apply = [&](int verdict, int sign) {
        for (const std::string& token : HeaderTokens(lesson.HeaderBlock)) {
          Delta& delta = deltas[token];
          (verdict == 1 ? delta.junk : delta.good) += sign;
        }
        (verdict == 1 ? junkMessages : goodMessages) += sign;
      };
      if (forget) {
        if (was != want) continue;
        apply(want, -1);
        drop.Reset();
        drop.BindText(1, lesson.Key);
        ok = ok && drop.Step() == SQLITE_DONE;
        seen[lesson.Key] = -1;
      } else {
        if (was == want) continue;
        // A changed decision: the old lesson goes first.
        if (was >= 0) apply(was, -1);
        apply(want, +1);
        remember.Reset();
        remember.BindText(1, lesson.Key);
        remember.BindInt(2, want);
        ok = ok && remember.Step() == SQLITE_DONE;
        seen[lesson.Key] = want;
      }
      ++changed;
    }
    Statement upsert(db_,
                     "INSERT INTO tokens(token, junk, good) VALUES(?1, max(0, ?2), max(0, ?3)) "
                     "ON CONFLICT(token) DO UPDATE SET junk = max(0, junk + ?2), good = max(0, good + ?3)");
    Statement prune(db_, "DELETE FROM tokens WHERE token = ?1 AND junk = 0 AND good = 0");
    ok = ok && upsert.Ok() && prune.Ok();
    for (const auto& [token, delta] : deltas) {
      if (!ok) break;
      if (delta.junk == 0 && delta.good == 0) continue;
      upsert.Reset();
      upsert.BindText(1, token);
      upsert.BindInt(2, delta.junk);
      upsert.BindInt(3, delta.good);
      ok = upsert.Step() == SQLITE_DONE;
      if (ok && (delta.junk < 0 || delta.good < 0)) {
        prune.Reset();
        prune.BindText(1, token);
        ok = prune.Step() == SQLITE_DONE;
      }
    }
    Statement totals(db_, "UPDATE totals SET messages = max(0, messages + ?2) WHERE verdict = ?1");
    ok = ok && totals.Ok();
    for (const auto& [verdict, delta] : {std::pair<int, int64_t>{1, junkMessages}, {0, goodMessages}}) {
      if (!ok || delta == 0) continue;
      totals.Reset();
      totals.BindInt(1, verdict);
      totals.BindInt(2, delta);
      ok = totals.Step() == SQLITE_DONE;
    }
  }
  if (!ok || !Exec(db_, "COMMIT")) {
    Exec(db_, "ROLLBACK");
    return -1;
  }
  // The same arithmetic on the counts in memory.
  for (const auto& [token, delta] : deltas) {
    const uint64_t hash = TokenHash(token);
    TokenCounts counts = counts_.Find(hash);
    counts.Junk = static_cast<uint32_t>(std::max<int64_t>(0, counts.Junk + delta.junk));
    counts.Good = static_cast<uint32_t>(std::max<int64_t>(0, counts.Good + delta.good));
    counts_.Set(hash, counts);
  }
  junkMessages_ = static_cast<uint32_t>(std::max<int64_t>(0, junkMessages_ + junkMessages));
  goodMessages_ = static_cast<uint32_t>(std::max<int64_t>(0, goodMessages_ + goodMessages));
  return changed;
}

}  // namespace brevan
