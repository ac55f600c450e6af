// brevan-learn as a user runs it: output format, exit status, unreadable
// files, a huge header, --db.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "learn/learn_tool.h"
#include "learn/learned_store.h"
#include "named_rows.h"

namespace brevan {
namespace {

class LearnToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevan_tool_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    db_ = folder_ + "/sub/../store.sqlite";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  int Run(std::vector<std::string> args) {
    out_.str("");
    err_.str("");
    return RunLearnTool(args, folder_ + "/default.sqlite", out_, err_);
  }
  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = folder_ + "/" + name;
    EXPECT_TRUE(WriteFileAtomic(path, bytes));
    return path;
  }
  // Twenty messages of each kind, from two senders that say which is which.
  void Teach() {
    ::mkdir((folder_ + "/sub").c_str(), 0700);
    std::vector<std::string> junk = {"junk"}, good = {"good"};
    for (int i = 0; i < 20; ++i) {
      junk.push_back(File("j" + std::to_string(i) + ".eml",
                          "From: deals@bulk.example\r\nSubject: cheap pills " + std::to_string(i) + "\r\n\r\nbody"));
      good.push_back(File("g" + std::to_string(i) + ".eml",
                          "From: ann@work.example\r\nSubject: project notes " + std::to_string(i) + "\r\n\r\nbody"));
    }
    junk.insert(junk.begin(), {"--db", db_});
    good.insert(good.begin(), {"--db", db_});
    ASSERT_EQ(Run(junk), 0) << err_.str();
    ASSERT_EQ(Run(good), 0) << err_.str();
  }
  std::string folder_, db_;
  std::ostringstream out_, err_;
};

TEST_F(LearnToolTest, JudgeLinesKeepTheirPathsAndOrder) {
  Teach();
  const std::string junk = File("new-junk.eml", "From: deals@bulk.example\nSubject: cheap pills now\n\nbody");
  const std::string good = File("new-good.eml", "From: ann@work.example\nSubject: project notes again\n\n");
  // A path given in its own way is printed so, and a lone disguised word in
  // a confidently good message does not make it junk.
  const std::string relative = "./" + std::filesystem::relative(good).string();
  const std::string mp3 = File("mp3.eml", "From: ann@work.example\nSubject: project notes MP3\n\n");
  ASSERT_EQ(Run({"--db", db_, "judge", junk, relative, mp3}), 0) << err_.str();
  const std::string out = out_.str();
  const std::regex line(R"((\d\.\d{3}) (junk|unsure|good) (.*))");
  std::istringstream lines(out);
  std::vector<std::smatch> matches;
  std::vector<std::string> text;
  for (std::string l; std::getline(lines, l);) text.push_back(l);
  ASSERT_EQ(text.size(), 3u) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_match(text[0], m, line)) << text[0];
  EXPECT_EQ(m[2], "junk");
  EXPECT_EQ(m[3], junk);
  ASSERT_TRUE(std::regex_match(text[1], m, line)) << text[1];
  EXPECT_EQ(m[2], "good");
  EXPECT_EQ(m[3], relative);
  ASSERT_TRUE(std::regex_match(text[2], m, line)) << text[2];
  EXPECT_EQ(m[2], "good");
}

TEST_F(LearnToolTest, ColdStoreJudgesLikeTheWindowWithoutLessons) {
  const std::string word = File("w.eml", "Subject: cheap l0an\r\n\r\n");
  const std::string plain = File("p.eml", "Subject: hello\r\n\r\n");
  ASSERT_EQ(Run({"--db", folder_ + "/cold.sqlite", "judge", word, plain}), 0);
  EXPECT_EQ(out_.str(), "0.500 junk " + word + "\n0.500 unsure " + plain + "\n");
  EXPECT_TRUE(FileExists(folder_ + "/cold.sqlite")) << "a --db file that does not exist is created";
}

struct ExitRow {
  const char* name;
  std::vector<std::string> args;
  int status;
};
void PrintTo(const ExitRow& row, std::ostream* os) { *os << row.name; }

class LearnToolExitTest : public LearnToolTest, public ::testing::WithParamInterface<ExitRow> {};

TEST_P(LearnToolExitTest, Status) {
  const std::string present = File("present.eml", "Subject: hi\r\n\r\n");
  std::vector<std::string> args;
  for (const std::string& arg : GetParam().args) {
    if (arg == "DB") args.push_back(db_);
    else if (arg == "PRESENT") args.push_back(present);
    else if (arg == "MISSING") args.push_back(folder_ + "/missing.eml");
    else args.push_back(arg);
  }
  ::mkdir((folder_ + "/sub").c_str(), 0700);
  EXPECT_EQ(Run(args), GetParam().status) << err_.str();
  if (GetParam().status == 2) EXPECT_NE(err_.str().find("usage:"), std::string::npos);
  if (GetParam().status == 1) {
    EXPECT_NE(err_.str().find(folder_ + "/missing.eml"), std::string::npos) << "the file is named";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, LearnToolExitTest,
    ::testing::Values(ExitRow{"learn_ok", {"--db", "DB", "junk", "PRESENT"}, 0},
                      ExitRow{"forget_ok", {"--db", "DB", "forget", "good", "PRESENT"}, 0},
                      ExitRow{"judge_ok", {"--db", "DB", "judge", "PRESENT"}, 0},
                      ExitRow{"unreadable_among_others", {"--db", "DB", "good", "MISSING", "PRESENT"}, 1},
                      ExitRow{"judge_unreadable", {"--db", "DB", "judge", "PRESENT", "MISSING"}, 1},
                      ExitRow{"no_arguments", {}, 2},
                      ExitRow{"no_files", {"--db", "DB", "junk"}, 2},
                      ExitRow{"unknown_command", {"--db", "DB", "spam", "PRESENT"}, 2},
                      ExitRow{"forget_without_verdict", {"--db", "DB", "forget", "PRESENT"}, 2},
                      ExitRow{"db_without_file", {"--db"}, 2}),
    RowName<ExitRow>);

TEST_F(LearnToolTest, UnreadableFilesAreNamedAndTheRestLearned) {
  const std::string a = File("a.eml", "Subject: one\r\n\r\n");
  const std::string b = File("b.eml", "Subject: two\r\n\r\n");
  const std::string folder = folder_;  // a folder cannot be read as a file
  ::mkdir((folder_ + "/sub").c_str(), 0700);
  EXPECT_EQ(Run({"--db", db_, "junk", a, folder_ + "/nope.eml", folder, b}), 1);
  EXPECT_NE(err_.str().find(folder_ + "/nope.eml"), std::string::npos);
  EXPECT_NE(err_.str().find("cannot read " + folder), std::string::npos) << err_.str();
  LearnedStore store(db_);
  EXPECT_EQ(store.JunkMessages(), 2u);
}

TEST_F(LearnToolTest, OnlyTheHeaderBlockIsRead) {
  // A header of 10 MB without an empty line, and a message whose body is
  // large: both judged, the second from its header alone.
  std::string huge = "Subject: big\r\n";
  while (huge.size() < (10u << 20)) huge += "X-Filler: abcdefghijklmnopqrstuvwxyz 0123456789\r\n";
  const std::string hugeHeader = File("huge.eml", huge);
  const std::string bigBody = File("body.eml", "Subject: small\r\n\r\n" + std::string(20u << 20, 'b'));
  ASSERT_EQ(Run({"--db", folder_ + "/h.sqlite", "junk", hugeHeader, bigBody}), 0) << err_.str();
  LearnedStore store(folder_ + "/h.sqlite");
  EXPECT_EQ(store.JunkMessages(), 2u);
  EXPECT_EQ(store.Counts("subject:big").Junk, 1u);
  EXPECT_EQ(store.Counts("has:x-filler").Junk, 1u);
  EXPECT_EQ(store.Counts("subject:small").Junk, 1u);
  EXPECT_EQ(store.Counts(std::string("subject:") + std::string(1, 'b')).Junk, 0u);
  ASSERT_EQ(Run({"--db", folder_ + "/h.sqlite", "judge", hugeHeader}), 0);
  EXPECT_NE(out_.str().find(" " + hugeHeader + "\n"), std::string::npos);
}

}  // namespace
}  // namespace brevan
