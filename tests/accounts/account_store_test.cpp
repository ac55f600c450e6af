#include "accounts/account_store.h"

#include "common/file_io.h"
#include "common/file_lock.h"
#include "common/text_lines.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <ostream>

namespace brevan {
namespace {

using namespace std::string_literals;
using Lines = std::vector<std::string>;

// ---------------------------------------------------------------- fields

struct FieldRow {
  const char* name;
  std::string line;
  AccountFields want;
  std::string server;  // AccountServerField
};
void PrintTo(const FieldRow& r, std::ostream* os) { *os << r.name; }

class AccountFieldsTest : public testing::TestWithParam<FieldRow> {};

TEST_P(AccountFieldsTest, ParsesEveryField) {
  const FieldRow& r = GetParam();
  AccountFields got = ParseAccountLine(r.line);
  EXPECT_EQ(got.server, r.want.server);
  EXPECT_EQ(got.port, r.want.port);
  EXPECT_EQ(got.user, r.want.user);
  EXPECT_EQ(got.password, r.want.password);
  EXPECT_EQ(AccountServerField(r.line), r.server);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AccountFieldsTest,
    testing::Values(
        FieldRow{"all_four", "pop.example.com;110;alice;c2VjcmV0",
                 {"pop.example.com", "110", "alice", "secret"}, "pop.example.com"},
        FieldRow{"tls_port", "mail.example.org;995;bob@example.org;cHc=",
                 {"mail.example.org", "995", "bob@example.org", "pw"}, "mail.example.org"},
        FieldRow{"three_fields", "pop.example.net;110;carol",
                 {"pop.example.net", "110", "carol", ""}, "pop.example.net"},
        FieldRow{"server_only", "pop.example.net", {"pop.example.net", "", "", ""},
                 "pop.example.net"},
        FieldRow{"empty_line", "", {"", "", "", ""}, ""},
        FieldRow{"text_after_fourth_separator", "h.example.com;110;dave;cHc=;extra;more",
                 {"h.example.com", "110", "dave", "pw"}, "h.example.com"},
        FieldRow{"empty_password_field", "h.example.com;110;erin;",
                 {"h.example.com", "110", "erin", ""}, "h.example.com"},
        FieldRow{"separator_inside_server_splits", "a.example.com;x;110;cHc=;frank",
                 {"a.example.com", "x", "110", "pw"}, "a.example.com"},
        FieldRow{"blanks_kept", " h.example.com ; 110 ;grace;",
                 {" h.example.com ", " 110 ", "grace", ""}, " h.example.com "},
        FieldRow{"big5_user", "h.example.com;110;\xB4\xFA\xB8\xD5;cHc=",
                 {"h.example.com", "110", "\xB4\xFA\xB8\xD5", "pw"}, "h.example.com"}),
    [](const testing::TestParamInfo<FieldRow>& i) { return std::string(i.param.name); });

TEST(AccountLine, BuildThenParseGivesTheFieldsBack) {
  const std::string passwords[] = {"secret", "p;w", "with blank", "\xB1\x4B\xBD\x58"s,
                                   "a\0b"s, std::string(100, 'x')};
  for (const auto& pw : passwords) {
    std::string line = BuildAccountLine("pop.example.com", "995", "henry", pw);
    EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 3) << line;
    AccountFields f = ParseAccountLine(line);
    EXPECT_EQ(f.server, "pop.example.com");
    EXPECT_EQ(f.port, "995");
    EXPECT_EQ(f.user, "henry");
    EXPECT_EQ(f.password, pw) << line;
  }
  EXPECT_EQ(BuildAccountLine("s.example.com", "110", "u", "ABCD"), "s.example.com;110;u;QUJDRA==");
  EXPECT_EQ(BuildAccountLine("s.example.com", "110", "u", ""), "s.example.com;110;u;");
}

// ---------------------------------------------------------------- the key

struct KeyRow {
  const char* name;
  std::string line;
  std::string server;
  bool matches;
};
void PrintTo(const KeyRow& r, std::ostream* os) { *os << r.name; }

class AccountKeyTest : public testing::TestWithParam<KeyRow> {};

TEST_P(AccountKeyTest, ServerAndSeparatorAnywhereInTheLine) {
  const KeyRow& r = GetParam();
  EXPECT_EQ(AccountLineMatches(r.line, r.server), r.matches);
  EXPECT_EQ(FindAccountLine({"other.example.net;110;x;", r.line}, r.server), r.matches ? 1 : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, AccountKeyTest,
    testing::Values(
        KeyRow{"same_server", "pop.example.com;110;a;", "pop.example.com", true},
        KeyRow{"tail_of_a_longer_saved_name", "pop.example.com;110;a;", "example.com", true},
        KeyRow{"user_name_ending_in_the_server", "pop.example.org;110;ann@example.com;",
               "example.com", true},
        KeyRow{"port_field_equals_server", "pop.example.org;995;a;", "995", true},
        KeyRow{"server_inside_without_separator", "pop.example.org;110;a;", "example", false},
        KeyRow{"case_sensitive", "POP.example.com;110;a;", "pop.example.com", false},
        KeyRow{"longer_server_typed", "pop.example.com;110;a;", "pop.example.com.au", false},
        KeyRow{"prefix_without_separator", "pop.example.community;110;a;", "pop.example.com",
               false},
        KeyRow{"line_without_separator", "pop.example.com", "pop.example.com", false},
        KeyRow{"server_typed_with_separator", "a.example.com;x;110;u;", "a.example.com;x", true},
        KeyRow{"big5_server", "\xB4\xFA\xB8\xD5;110;u;", "\xB4\xFA\xB8\xD5", true},
        // A4 61 is one Big5 character whose trail byte is "a": "a.com;" inside
        // it is no key, as the server list's own search sees it.
        KeyRow{"key_on_a_trail_byte_is_no_match", "\xA4\x61.com;110;u;", "a.com", false},
        KeyRow{"key_on_a_trail_byte_in_the_user_field", "pop.example;110;\xA4\x61.com;", "a.com", false},
        KeyRow{"key_after_a_whole_big5_character", "\xA4\x61\x61.com;110;u;", "a.com", true},
        KeyRow{"big5_key_after_a_big5_character", "\xA4\xA4\xB4\xFA;110;u;", "\xB4\xFA", true},
        // A4 B4 | FA B8: "B4 FA" here straddles two characters.
        KeyRow{"big5_key_across_two_characters", "\xA4\xB4\xFA\xB8;110;u;", "\xB4\xFA\xB8", false}),
    [](const testing::TestParamInfo<KeyRow>& i) { return std::string(i.param.name); });

// The save button's list step: replace every line of the server, else append.
void SaveInto(Lines& lines, const std::string& server, const std::string& user) {
  std::string line = BuildAccountLine(server, "110", user, "pw");
  if (!ReplaceAccountLines(lines, server, line)) lines.push_back(line);
}

TEST(AccountList, SavingTwiceKeepsOneLine) {
  Lines lines = {"first.example.org;110;a;"};
  SaveInto(lines, "pop.example.com", "ivy");
  SaveInto(lines, "pop.example.com", "jack");
  EXPECT_EQ(lines, (Lines{"first.example.org;110;a;", "pop.example.com;110;jack;cHc="}));
}

TEST(AccountList, EveryLineOfTheServerIsRewritten) {
  Lines lines = {"pop.example.com;110;a;", "x.example.org;110;b;", "pop.example.com;995;c;"};
  SaveInto(lines, "pop.example.com", "kim");
  EXPECT_EQ(lines, (Lines{"pop.example.com;110;kim;cHc=", "x.example.org;110;b;",
                          "pop.example.com;110;kim;cHc="}));
}

TEST(AccountList, ATailServerReplacesTheLongerSavedName) {
  // The key is a substring: the shorter name claims both the longer server's
  // line and the line whose user name ends in it.
  Lines lines = {"pop.example.com;110;a;", "mail.example.org;110;leo@example.com;", "x.example.net;110;b;"};
  SaveInto(lines, "example.com", "mia");
  EXPECT_EQ(lines, (Lines{"example.com;110;mia;cHc=", "example.com;110;mia;cHc=", "x.example.net;110;b;"}));
}

TEST(AccountList, ASeparatorInTheServerSavesAsTypedAndFindsItself) {
  Lines lines;
  SaveInto(lines, "a.example.com;x", "ned");
  SaveInto(lines, "a.example.com;x", "ned");
  ASSERT_EQ(lines, (Lines{"a.example.com;x;110;ned;cHc="}));
  EXPECT_EQ(AccountServerField(lines[0]), "a.example.com");
}

TEST(AccountList, DeleteRemovesTheFirstLineOnly) {
  Lines lines = {"a.example.net;110;a;", "pop.example.com;110;b;", "pop.example.com;110;c;"};
  EXPECT_TRUE(RemoveAccountLine(lines, "pop.example.com"));
  EXPECT_EQ(lines, (Lines{"a.example.net;110;a;", "pop.example.com;110;c;"}));
  EXPECT_FALSE(RemoveAccountLine(lines, "missing.example.org"));
  EXPECT_TRUE(RemoveAccountLine(lines, "example.com"));  // the tail of a saved name
  EXPECT_EQ(lines, (Lines{"a.example.net;110;a;"}));
}

// ---------------------------------------------------------------- the file

class AccountFile : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevan_accounts_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    path_ = dir_ + "/brevan.ini";
  }
  void TearDown() override {
    ::chmod(dir_.c_str(), 0700);
    std::filesystem::remove_all(dir_);
  }
  std::string Bytes() {
    std::string s;
    EXPECT_TRUE(ReadWholeFile(path_, s));
    return s;
  }
  unsigned Mode() {
    struct stat st{};
    EXPECT_EQ(::stat(path_.c_str(), &st), 0);
    return st.st_mode & 07777;
  }
  std::string dir_, path_;
};

TEST_F(AccountFile, EmptyLinesAndLineEndsSurviveASave) {
  ASSERT_TRUE(WriteFileAtomic(path_, "a.example.com;110;u;\n\rb.example.org;995;v;cHc=\r\n\r\n"));
  Lines lines;
  ASSERT_TRUE(LoadAccountFile(path_, lines));
  EXPECT_EQ(lines, (Lines{"a.example.com;110;u;", "", "b.example.org;995;v;cHc=", ""}));
  ASSERT_TRUE(SaveAccountFile(path_, lines));
  EXPECT_EQ(Bytes(), "a.example.com;110;u;\r\n\r\nb.example.org;995;v;cHc=\r\n\r\n");
  Lines again;
  ASSERT_TRUE(LoadAccountFile(path_, again));
  EXPECT_EQ(again, lines);
}

TEST_F(AccountFile, OnlyTheOwnerMayReadIt) {
  ASSERT_TRUE(SaveAccountFile(path_, {"a.example.com;110;u;cHc="}));
  EXPECT_EQ(Mode(), 0600u);
  // A file left world-readable by an older copy is tightened on the next save.
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  ASSERT_TRUE(SaveAccountFile(path_, {"a.example.com;110;u;cHc="}));
  EXPECT_EQ(Mode(), 0600u);
}

TEST_F(AccountFile, MissingFileIsNoAccounts) {
  Lines lines = {"stale"};
  EXPECT_TRUE(LoadAccountFile(path_, lines));
  EXPECT_TRUE(lines.empty());
}

TEST_F(AccountFile, UnreadableFileIsAnError) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);  // a folder where the file should be
  Lines lines;
  EXPECT_FALSE(LoadAccountFile(path_, lines));
  EXPECT_FALSE(SaveAccountFile(path_, {"a.example.com;110;u;"}));
}

TEST_F(AccountFile, SaveIntoAMissingFolderFails) {
  EXPECT_FALSE(SaveAccountFile(dir_ + "/gone/brevan.ini", {"a.example.com;110;u;"}));
  EXPECT_FALSE(FileExists(dir_ + "/gone/brevan.ini"));
}

TEST_F(AccountFile, SaveIntoAReadOnlyFolderLeavesTheOldFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_TRUE(SaveAccountFile(path_, {"old.example.com;110;u;"}));
  ASSERT_EQ(::chmod(dir_.c_str(), 0500), 0);
  EXPECT_FALSE(SaveAccountFile(path_, {"new.example.com;110;u;"}));
  EXPECT_EQ(Bytes(), "old.example.com;110;u;\r\n");
}

TEST_F(AccountFile, AFullDiskLeavesTheOldFileWhole) {
  ASSERT_TRUE(SaveAccountFile(path_, {"old.example.com;110;u;cHc="}));
  // A file size limit makes the write fail part way, as a full disk would.
  struct rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Lines big(50, "new.example.com;110;someone;c2VjcmV0c2VjcmV0");
  bool ok = SaveAccountFile(path_, big);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(Bytes(), "old.example.com;110;u;cHc=\r\n");
  EXPECT_EQ(Mode(), 0600u);
  // No temporary file is left beside it.
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1u);
}


// ------------------------------------------ two running copies, one file

// One running copy of the program: its memory of the file and its changes.
struct Step {
  char store;  // 'A' or 'B'
  bool save;   // false: delete
  const char* server;
  const char* user;
};

struct SharingRow {
  const char* name;
  std::string fileAtStart;
  std::vector<Step> steps;
  std::string fileAtEnd;
};
void PrintTo(const SharingRow& r, std::ostream* os) { *os << r.name; }

class SharedAccountFile : public AccountFile, public testing::WithParamInterface<SharingRow> {};

TEST_P(SharedAccountFile, EachChangeKeepsTheOtherCopysAccounts) {
  const SharingRow& r = GetParam();
  if (!r.fileAtStart.empty()) ASSERT_TRUE(WriteFileAtomic(path_, r.fileAtStart));
  // Both copies read the file when they start, before either changes it.
  Lines a, b;
  ASSERT_TRUE(LoadAccountFile(path_, a));
  ASSERT_TRUE(LoadAccountFile(path_, b));
  for (const Step& step : r.steps) {
    Lines& memory = step.store == 'A' ? a : b;
    const std::string server = step.server;
    const std::string user = step.user;
    auto change = [&](Lines& lines) {
      if (step.save) {
        SaveInto(lines, server, user);
      } else {
        RemoveAccountLine(lines, server);
      }
    };
    ASSERT_EQ(UpdateAccountFile(path_, change, memory), AccountFileUpdate::Saved);
    // What the copy now knows is what the file holds.
    Lines onDisk;
    ASSERT_TRUE(LoadAccountFile(path_, onDisk));
    EXPECT_EQ(memory, onDisk) << "after a step of store " << step.store;
  }
  EXPECT_EQ(Bytes(), r.fileAtEnd);
}

const std::string kPw = "cHc=";  // "pw"

INSTANTIATE_TEST_SUITE_P(
    Steps, SharedAccountFile,
    testing::Values(
        SharingRow{"each_saves_one_account", "",
                   {{'A', true, "a.example", "ann"}, {'B', true, "b.example", "bob"}},
                   "a.example;110;ann;" + kPw + "\r\nb.example;110;bob;" + kPw + "\r\n"},
        SharingRow{"four_saves_alternately", "",
                   {{'A', true, "a.example", "ann"}, {'B', true, "b.example", "bob"},
                    {'A', true, "c.example", "cy"}, {'B', true, "d.example", "dee"}},
                   "a.example;110;ann;" + kPw + "\r\nb.example;110;bob;" + kPw + "\r\nc.example;110;cy;" + kPw +
                       "\r\nd.example;110;dee;" + kPw + "\r\n"},
        SharingRow{"one_deletes_what_the_other_saved", "old.example;110;o;\r\n",
                   {{'A', true, "a.example", "ann"}, {'B', false, "a.example", ""}},
                   "old.example;110;o;\r\n"},
        SharingRow{"delete_keeps_the_others_new_account", "old.example;110;o;\r\n",
                   {{'A', true, "a.example", "ann"}, {'B', false, "old.example", ""}},
                   "a.example;110;ann;" + kPw + "\r\n"},
        SharingRow{"both_save_one_server_last_wins", "",
                   {{'A', true, "a.example", "ann"}, {'B', true, "a.example", "bob"}},
                   "a.example;110;bob;" + kPw + "\r\n"}),
    [](const testing::TestParamInfo<SharingRow>& i) { return std::string(i.param.name); });

TEST_F(AccountFile, UpdateWaitsForTheCopyHoldingTheLock) {
  ASSERT_TRUE(SaveAccountFile(path_, {"start.example;110;s;"}));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t other = ::fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    // Another copy: it holds the lock while it takes its time, then replaces
    // the file whole, as a save does.
    ::close(ready[0]);
    FileLock lock(path_);
    if (!lock.Locked()) ::_exit(2);
    if (::write(ready[1], "x", 1) != 1) ::_exit(3);
    ::usleep(300 * 1000);
    ::_exit(SaveAccountFile(path_, {"start.example;110;s;", "other.example;110;o;"}) ? 0 : 4);
  }
  ::close(ready[1]);
  char c = 0;
  ASSERT_EQ(::read(ready[0], &c, 1), 1);
  ::close(ready[0]);
  Lines memory = {"start.example;110;s;"};
  const AccountFileUpdate result = UpdateAccountFile(
      path_, [](Lines& lines) { lines.push_back("mine.example;110;m;"); }, memory);
  int status = 0;
  ASSERT_EQ(::waitpid(other, &status, 0), other);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(result, AccountFileUpdate::Saved);
  EXPECT_EQ(Bytes(), "start.example;110;s;\r\nother.example;110;o;\r\nmine.example;110;m;\r\n");
  EXPECT_EQ(memory, (Lines{"start.example;110;s;", "other.example;110;o;", "mine.example;110;m;"}));
}

TEST_F(AccountFile, UpdateOfAnUnreadableFileChangesNothing) {
  ASSERT_EQ(::mkdir(path_.c_str(), 0700), 0);  // a folder where the file should be
  Lines memory = {"kept"};
  bool changed = false;
  EXPECT_EQ(UpdateAccountFile(path_, [&](Lines&) { changed = true; }, memory), AccountFileUpdate::CannotRead);
  EXPECT_FALSE(changed);
  EXPECT_EQ(memory, Lines{"kept"});
}

TEST_F(AccountFile, UpdateIntoAMissingFolderFails) {
  Lines memory;
  EXPECT_EQ(UpdateAccountFile(dir_ + "/gone/brevan.ini", [](Lines& l) { l.push_back("x;1;u;"); }, memory),
            AccountFileUpdate::CannotWrite);
  EXPECT_TRUE(memory.empty());
}

}  // namespace
}  // namespace brevan
