// The store: lessons learned once per verdict and taken back, a changed
// decision, two processes learning at once, a broken file kept aside, the
// schema version, and the silence of a store that knows too little.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "learn/learned_store.h"
#include "learn/session_learning.h"
#include "named_rows.h"

namespace brevan {
namespace {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevan_learn_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  std::string Path() const { return folder_ + "/" + kLearnedStoreName; }
  std::string folder_;
};

std::string Message(int n, const std::string& subject = "offer") {
  return "Subject: " + subject + " " + std::to_string(n) + "\r\nFrom: x" + std::to_string(n) +
         "@sender.example\r\nMessage-ID: <" + std::to_string(n) + "@id.example>\r\n";
}

LearnedStore::Lesson Lesson(const std::string& block) { return {MessageKey({}, block), block}; }

// Each step on one message, in order, with the counts it must leave.
struct Step {
  enum What { LearnJunk, LearnGood, ForgetJunk, ForgetGood } what;
  int changed;  // what the call answers
  uint32_t junk, good;  // messages learned either way afterwards
  TokenCounts subjectWord;  // the counts of "subject:offer" afterwards
};
struct StepsRow {
  const char* name;
  std::vector<Step> steps;
};
void PrintTo(const StepsRow& row, std::ostream* os) { *os << row.name; }

class LessonStepsTest : public StoreTest, public ::testing::WithParamInterface<StepsRow> {};

TEST_P(LessonStepsTest, CountsAfterEachStep) {
  LearnedStore store(Path());
  ASSERT_EQ(store.OpenState(), LearnedStore::State::Ready);
  const LearnedStore::Lesson lesson = Lesson(Message(1));
  int index = 0;
  for (const Step& step : GetParam().steps) {
    SCOPED_TRACE("step " + std::to_string(index++));
    int changed = 0;
    switch (step.what) {
      case Step::LearnJunk: changed = store.Learn({lesson}, true); break;
      case Step::LearnGood: changed = store.Learn({lesson}, false); break;
      case Step::ForgetJunk: changed = store.Forget({lesson}, true); break;
      case Step::ForgetGood: changed = store.Forget({lesson}, false); break;
    }
    EXPECT_EQ(changed, step.changed);
    EXPECT_EQ(store.JunkMessages(), step.junk);
    EXPECT_EQ(store.GoodMessages(), step.good);
    const TokenCounts counts = store.Counts("subject:offer");
    EXPECT_EQ(counts.Junk, step.subjectWord.Junk);
    EXPECT_EQ(counts.Good, step.subjectWord.Good);
    // What another program reads from the file agrees with the memory.
    LearnedStore reader(Path());
    EXPECT_EQ(reader.JunkMessages(), step.junk);
    EXPECT_EQ(reader.Counts("subject:offer").Junk, step.subjectWord.Junk);
    EXPECT_EQ(reader.Counts("subject:offer").Good, step.subjectWord.Good);
  }
}

using S = Step;
INSTANTIATE_TEST_SUITE_P(
    Rows, LessonStepsTest,
    ::testing::Values(
        StepsRow{"learn_twice_forget_twice",
                 {{S::LearnJunk, 1, 1, 0, {1, 0}}, {S::LearnJunk, 0, 1, 0, {1, 0}},
                  {S::ForgetJunk, 1, 0, 0, {0, 0}}, {S::ForgetJunk, 0, 0, 0, {0, 0}}}},
        StepsRow{"changed_decision_moves_the_lesson",
                 {{S::LearnJunk, 1, 1, 0, {1, 0}}, {S::LearnGood, 1, 0, 1, {0, 1}}, {S::LearnGood, 0, 0, 1, {0, 1}},
                  {S::LearnJunk, 1, 1, 0, {1, 0}}}},
        StepsRow{"forget_the_other_verdict_does_nothing",
                 {{S::LearnGood, 1, 0, 1, {0, 1}}, {S::ForgetJunk, 0, 0, 1, {0, 1}}, {S::ForgetGood, 1, 0, 0, {0, 0}}}},
        StepsRow{"forget_what_was_never_learned", {{S::ForgetGood, 0, 0, 0, {0, 0}}, {S::LearnGood, 1, 0, 1, {0, 1}}}}),
    RowName<StepsRow>);

TEST_F(StoreTest, ABatchCountsAMessageOnceAndAKeyByItsBlock) {
  LearnedStore store(Path());
  // The same block twice in one batch, and once more with other line ends
  // (a file's LF and a trailing empty line): one message.
  const std::string block = Message(7);
  std::string lf = block;
  for (size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "\n");
  EXPECT_EQ(MessageKey({}, block), MessageKey({}, lf + "\n"));
  EXPECT_NE(MessageKey({}, block), MessageKey({}, Message(8)));
  EXPECT_EQ(MessageKey("abc", block), "uidl:abc");
  EXPECT_EQ(store.Learn({Lesson(block), Lesson(block), Lesson(lf)}, true), 1);
  EXPECT_EQ(store.JunkMessages(), 1u);
  EXPECT_EQ(store.Counts("subject:offer").Junk, 1u);
}

TEST_F(StoreTest, SilentUntilTwentyOfEach) {
  LearnedStore store(Path());
  std::vector<LearnedStore::Lesson> junk, good;
  for (int i = 0; i < 20; ++i) junk.push_back(Lesson(Message(i, "cheap pills")));
  for (int i = 0; i < 19; ++i) good.push_back(Lesson(Message(100 + i, "project meeting")));
  ASSERT_EQ(store.Learn(junk, true), 20);
  ASSERT_EQ(store.Learn(good, false), 19);
  EXPECT_FALSE(store.VerdictOn());
  ASSERT_EQ(store.Learn({Lesson(Message(200, "project meeting"))}, false), 1);
  EXPECT_TRUE(store.VerdictOn());
  EXPECT_EQ(store.Judge(Message(300, "cheap pills")).Verdict, LearnedVerdict::Junk);
  EXPECT_EQ(store.Judge(Message(301, "project meeting")).Verdict, LearnedVerdict::Good);
}

TEST_F(StoreTest, SchemaVersionAndWalMode) {
  { LearnedStore store(Path()); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(Path().c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto single = [&](const char* sql) {
    sqlite3_stmt* stmt = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    sqlite3_finalize(stmt);
    return value;
  };
  EXPECT_EQ(single("SELECT version FROM schema_version"), std::to_string(LearnedStore::kSchemaVersion));
  EXPECT_EQ(single("SELECT count(*) FROM schema_version"), "1");
  EXPECT_EQ(single("PRAGMA journal_mode"), "wal");
  sqlite3_close(db);
}

// Two processes learn at once, in many small batches each, both through
// their own connection: every lesson of both is there, and the file is sound.
TEST_F(StoreTest, TwoProcessesLearnAtOnce) {
  constexpr int kBatches = 25;
  constexpr int kPerBatch = 8;
  { LearnedStore create(Path()); }
  pid_t children[2];
  for (int child = 0; child < 2; ++child) {
    children[child] = ::fork();
    ASSERT_GE(children[child], 0);
    if (children[child] == 0) {
      LearnedStore store(Path());
      int failures = 0;
      for (int batch = 0; batch < kBatches; ++batch) {
        std::vector<LearnedStore::Lesson> lessons;
        for (int i = 0; i < kPerBatch; ++i) lessons.push_back(Lesson(Message(child * 10000 + batch * 100 + i)));
        if (store.Learn(lessons, child == 0) != kPerBatch) ++failures;
      }
      ::_exit(failures == 0 ? 0 : 1);
    }
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  LearnedStore store(Path());
  EXPECT_EQ(store.OpenState(), LearnedStore::State::Ready);
  EXPECT_EQ(store.JunkMessages(), static_cast<uint32_t>(kBatches * kPerBatch));
  EXPECT_EQ(store.GoodMessages(), static_cast<uint32_t>(kBatches * kPerBatch));
  EXPECT_EQ(store.Counts("subject:offer").Junk, static_cast<uint32_t>(kBatches * kPerBatch));
  EXPECT_EQ(store.Counts("subject:offer").Good, static_cast<uint32_t>(kBatches * kPerBatch));
}

// A lesson another copy commits is seen by an open store.
TEST_F(StoreTest, AnOpenStoreSeesAnotherCopysLessons) {
  LearnedStore first(Path());
  LearnedStore second(Path());
  ASSERT_EQ(second.Learn({Lesson(Message(1))}, true), 1);
  first.Refresh();
  EXPECT_EQ(first.JunkMessages(), 1u);
  EXPECT_EQ(first.Counts("subject:offer").Junk, 1u);
  // And learning on top of it keeps both.
  ASSERT_EQ(first.Learn({Lesson(Message(2))}, true), 1);
  EXPECT_EQ(first.Counts("subject:offer").Junk, 2u);
}

struct BrokenRow {
  const char* name;
  std::string bytes;  // what the file holds
};
void PrintTo(const BrokenRow& row, std::ostream* os) { *os << row.name; }

class BrokenFileTest : public StoreTest, public ::testing::WithParamInterface<BrokenRow> {};

TEST_P(BrokenFileTest, KeptAsideAndAFreshStoreStarted) {
  std::string bytes = GetParam().bytes;
  if (bytes == "damaged") {
    // A real store whose pages are overwritten past its header.
    {
      LearnedStore store(Path());
      std::vector<LearnedStore::Lesson> lessons;
      for (int i = 0; i < 300; ++i) lessons.push_back(Lesson(Message(i)));
      store.Learn(lessons, true);
    }
    ASSERT_TRUE(ReadWholeFile(Path(), bytes));
    for (size_t at = 4096; at + 64 < bytes.size(); at += 997) bytes.replace(at, 64, std::string(64, '\x5a'));
  }
  ASSERT_TRUE(WriteFileAtomic(Path(), bytes));
  LearnedStore store(Path());
  EXPECT_EQ(store.OpenState(), LearnedStore::State::MovedAside);
  EXPECT_FALSE(store.Problem().empty());
  ASSERT_FALSE(store.AsidePath().empty());
  std::string kept;
  ASSERT_TRUE(ReadWholeFile(store.AsidePath(), kept));
  EXPECT_EQ(kept, bytes) << "the broken file is kept as it was";
  // The fresh store learns, but no verdict is heard this run, however much it knows.
  std::vector<LearnedStore::Lesson> junk, good;
  for (int i = 0; i < 25; ++i) junk.push_back(Lesson(Message(i, "pills")));
  for (int i = 0; i < 25; ++i) good.push_back(Lesson(Message(100 + i, "meeting")));
  EXPECT_EQ(store.Learn(junk, true), 25);
  EXPECT_EQ(store.Learn(good, false), 25);
  EXPECT_FALSE(store.VerdictOn());
  // The next run finds a sound store with those lessons.
  LearnedStore next(Path());
  EXPECT_EQ(next.OpenState(), LearnedStore::State::Ready);
  EXPECT_TRUE(next.VerdictOn());
}

INSTANTIATE_TEST_SUITE_P(Rows, BrokenFileTest,
                         ::testing::Values(BrokenRow{"not_sqlite", std::string(8192, 'x')},
                                           BrokenRow{"truncated_header", "SQLite format 3"},
                                           BrokenRow{"damaged", "damaged"}),
                         RowName<BrokenRow>);

TEST_F(StoreTest, ANewerProgramsStoreIsLeftAlone) {
  { LearnedStore store(Path()); }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(Path().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "UPDATE schema_version SET version = 99", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  LearnedStore store(Path());
  EXPECT_EQ(store.OpenState(), LearnedStore::State::Unavailable);
  EXPECT_FALSE(store.CanLearn());
  EXPECT_FALSE(store.Problem().empty());
  EXPECT_TRUE(store.AsidePath().empty());
  EXPECT_EQ(store.Learn({Lesson(Message(1))}, true), -1);
}

TEST_F(StoreTest, AFolderThatCannotBeWrittenGivesNoStore) {
  LearnedStore store(folder_ + "/missing/folder/" + kLearnedStoreName);
  EXPECT_EQ(store.OpenState(), LearnedStore::State::Unavailable);
  EXPECT_FALSE(store.Problem().empty());
  EXPECT_EQ(store.Learn({Lesson(Message(1))}, true), -1);
}

}  // namespace
}  // namespace brevan
