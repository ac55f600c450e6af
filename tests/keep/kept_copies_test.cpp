// The kept copies on disk: their names, expiry at start-up, the list the
// window shows, the restore into the download folder, and the setting.
#include "keep/kept_copies.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <utime.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/file_io.h"
#include "keep/keep_setting.h"
#include "session/message_file.h"
#include "tests/support/named_rows.h"

namespace brevan {
namespace {

namespace fs = std::filesystem;

constexpr std::time_t kDay = 24 * 60 * 60;

std::time_t LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm t{};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

// ---- names ----

struct NameRow {
  const char* name;
  std::string subject;
  int serial;
  std::string expected;  // UTF-8
};
void PrintTo(const NameRow& row, std::ostream* os) { *os << row.name; }

class KeptName : public ::testing::TestWithParam<NameRow> {};

TEST_P(KeptName, CarriesTheTimeAndTheDownloadName) {
  const NameRow& row = GetParam();
  const std::time_t at = LocalTime(2026, 12, 9, 13, 43, 52);
  const std::string name = KeptFileName(row.subject, "17", at, row.serial);
  EXPECT_EQ(name, row.expected);
  std::time_t parsed = 0;
  std::string downloadName;
  ASSERT_TRUE(ParseKeptFileName(name, &parsed, &downloadName));
  EXPECT_EQ(parsed, at);
  // The part after the time is the name the download gives the message
  // (the number when the name with the time no longer fits).
  const std::string byName = AnsiToUtf8(MessageFileBaseName(row.subject, "17")) + ".eml";
  EXPECT_EQ(downloadName, row.expected.ends_with(" 17.eml") ? "17.eml" : byName);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeptName,
    ::testing::Values(NameRow{"plain", "hello", 0, "20261209-134352 hello.eml"},
                      NameRow{"download_rules", "Re: a/b?", 0, "20261209-134352 Re_ a_b_.eml"},
                      NameRow{"serial", "hello", 3, "20261209-134352-3 hello.eml"},
                      NameRow{"empty_subject", "  ", 0, "20261209-134352 (no_subject).eml"},
                      NameRow{"big5_subject", Utf8ToAnsi("中文主旨"), 0, "20261209-134352 中文主旨.eml"},
                      NameRow{"too_long_is_the_number", std::string(250, 'x'), 0, "20261209-134352 17.eml"}),
    RowName<NameRow>);

TEST(KeptName, OtherNamesAreNeverTakenForCopies) {
  for (const char* name : {"notes.txt", "20261209-134352 x.txt", "20261209-1343 x.eml", "2026120913435 x.eml",
                           "20261209-134352x.eml", "20261209-134352- x.eml", "20261209-134352 .eml",
                           ".brevan-AbC123", "x20261209-134352 a.eml"}) {
    EXPECT_FALSE(ParseKeptFileName(name, nullptr, nullptr)) << name;
  }
}

// ---- on disk ----

class KeptCopiesFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = std::string("brevan_kept_") + std::to_string(::getpid()) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name)
      if (c == '/') c = '_';
    app_ = (fs::temp_directory_path() / name).string() + "/";
    fs::remove_all(app_);
    fs::create_directories(app_);
  }
  void TearDown() override { fs::remove_all(app_); }

  // A copy as the deletion keeps it.
  std::string Keep(const std::string& label, const std::string& subject, std::time_t at,
                   const std::string& contents) {
    const std::string folder = KeptAccountFolder(app_, label);
    fs::create_directories(folder);
    TemporaryFile file;
    EXPECT_TRUE(file.Create(folder));
    EXPECT_TRUE(file.Write(contents));
    std::string path;
    EXPECT_TRUE(PlaceKeptCopy(file, folder, subject, "1", at, &path));
    return path;
  }

  std::string app_;
};

struct ExpiryRow {
  const char* name;
  const char* setting;  // nullptr: no setting file
  std::vector<int> ageDays;
  std::vector<bool> stays;
};
void PrintTo(const ExpiryRow& row, std::ostream* os) { *os << row.name; }

class ExpiryAtStart : public KeptCopiesFolder, public ::testing::WithParamInterface<ExpiryRow> {};

TEST_P(ExpiryAtStart, RemovesOnlyCopiesOlderThanTheDays) {
  const ExpiryRow& row = GetParam();
  if (row.setting) WriteFileAtomic(app_ + kKeepSettingFileName, row.setting);
  const std::time_t now = std::time(nullptr);
  std::vector<std::string> paths;
  for (int age : row.ageDays) paths.push_back(Keep("u(s)", "m" + std::to_string(age), now - age * kDay - 60, "x"));
  // Files that are not copies stay whatever their age; a crash's leftover
  // goes when it is as old as an expired copy.
  const std::string folder = KeptAccountFolder(app_, "u(s)");
  WriteFileAtomic(folder + "/notes.txt", "mine");
  WriteFileAtomic(folder + "/.brevan-old123", "part");
  WriteFileAtomic(folder + "/.brevan-new123", "part");
  const utimbuf old{now - 400 * kDay, now - 400 * kDay};
  ::utime((folder + "/.brevan-old123").c_str(), &old);

  int gone = 0;
  for (bool stays : row.stays) gone += !stays;
  EXPECT_EQ(ExpireKeptCopiesAtStart(app_), gone);
  for (size_t i = 0; i < paths.size(); ++i) EXPECT_EQ(fs::exists(paths[i]), row.stays[i]) << row.ageDays[i];
  EXPECT_TRUE(fs::exists(folder + "/notes.txt"));
  EXPECT_TRUE(fs::exists(folder + "/.brevan-new123"));
  EXPECT_FALSE(fs::exists(folder + "/.brevan-old123"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ExpiryAtStart,
    ::testing::Values(ExpiryRow{"default_thirty_days", nullptr, {0, 29, 30, 365}, {true, true, false, false}},
                      ExpiryRow{"seven_days", "7\r\n", {6, 7, 8}, {true, false, false}},
                      ExpiryRow{"copies_off_still_expire_after_thirty", "0\r\n", {29, 31}, {true, false}},
                      ExpiryRow{"unreadable_setting_is_the_default", "a week\r\n", {8, 29, 31}, {true, true, false}}),
    RowName<ExpiryRow>);

TEST_F(KeptCopiesFolder, AnAccountFolderEmptiedByExpiryGoes) {
  const std::string path = Keep("u(s)", "old", std::time(nullptr) - 40 * kDay, "x");
  EXPECT_EQ(ExpireKeptCopies(app_, std::time(nullptr), 30), 1);
  EXPECT_FALSE(fs::exists(fs::path(path).parent_path()));
  EXPECT_TRUE(fs::exists(KeptFolder(app_)));
}

TEST_F(KeptCopiesFolder, ListsNewestFirstWithDecodedSenderAndSubject) {
  const std::time_t now = std::time(nullptr);
  Keep("bob(pop.example.com)", "older", now - 2 * kDay,
       "From: =?UTF-8?B?546L5bCP5piO?= <wang@example.com>\r\nSubject: older\r\n\r\nbody\r\n");
  Keep("ann(mail.example.com)", "newer", now - kDay,
       "Subject: =?Big5?B?pKSk5Q==?=\r\nFrom: ann@example.com\r\n\r\nFrom: not a header\r\n");
  WriteFileAtomic(KeptAccountFolder(app_, "ann(mail.example.com)") + "/notes.txt", "mine");
  const std::vector<KeptCopy> copies = ListKeptCopies(app_);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].account, "ann(mail.example.com)");
  EXPECT_EQ(copies[0].subject, "中文");
  EXPECT_EQ(copies[0].sender, "ann@example.com");
  EXPECT_EQ(copies[0].downloadName, "newer.eml");
  EXPECT_EQ(copies[1].account, "bob(pop.example.com)");
  EXPECT_EQ(copies[1].sender, "王小明 <wang@example.com>");
  EXPECT_EQ(copies[1].subject, "older");
  EXPECT_EQ(KeptTimeText(copies[1].keptAt), KeptTimeText(now - 2 * kDay));
}

// The session window finds a download by this path (read and plain-text
// view): the restored copy must be exactly there.
std::string WhereTheWindowLooks(const std::string& app, const std::string& label, const std::string& subject) {
  return MessageFilePath(DownloadFolder(app, label), MessageFileBaseName(subject, "1"));
}

TEST_F(KeptCopiesFolder, RestoreMovesTheCopyWhereTheWindowFindsDownloads) {
  const std::string label = Utf8ToAnsi("小明(pop.example.com)");
  const std::string subject = Utf8ToAnsi("Re: 報告/初稿?");
  const std::string kept = Keep(label, subject, std::time(nullptr), "the message\r\n");
  const std::vector<KeptCopy> copies = ListKeptCopies(app_);
  ASSERT_EQ(copies.size(), 1u);
  std::string restored;
  ASSERT_EQ(RestoreKeptCopy(app_, copies[0], false, &restored), RestoreEnd::Restored);
  EXPECT_EQ(restored, WhereTheWindowLooks(app_, label, subject));
  std::string contents;
  ASSERT_TRUE(ReadWholeFile(restored, contents));
  EXPECT_EQ(contents, "the message\r\n");
  EXPECT_FALSE(fs::exists(kept));
  EXPECT_FALSE(fs::exists(fs::path(kept).parent_path()));  // its account's last copy
  EXPECT_TRUE(ListKeptCopies(app_).empty());
}

TEST_F(KeptCopiesFolder, RestoreOverAnExistingDownloadOnlyWhenAsked) {
  const std::string kept = Keep("u(s)", "same", std::time(nullptr), "kept\r\n");
  const std::string target = WhereTheWindowLooks(app_, "u(s)", "same");
  fs::create_directories(fs::path(target).parent_path());
  WriteFileAtomic(target, "downloaded\r\n");
  const KeptCopy copy = ListKeptCopies(app_).at(0);
  std::string contents;
  EXPECT_EQ(RestoreKeptCopy(app_, copy, false, nullptr), RestoreEnd::TargetExists);
  ReadWholeFile(target, contents);
  EXPECT_EQ(contents, "downloaded\r\n");
  EXPECT_TRUE(fs::exists(kept));
  EXPECT_EQ(RestoreKeptCopy(app_, copy, true, nullptr), RestoreEnd::Restored);
  ReadWholeFile(target, contents);
  EXPECT_EQ(contents, "kept\r\n");
  EXPECT_FALSE(fs::exists(kept));
}

TEST_F(KeptCopiesFolder, TwoCopiesOfOneSubjectInOneSecondBothStay) {
  const std::time_t at = std::time(nullptr);
  const std::string first = Keep("u(s)", "same", at, "one\r\n");
  const std::string second = Keep("u(s)", "same", at, "two\r\n");
  EXPECT_NE(first, second);
  std::string a, b;
  ReadWholeFile(first, a);
  ReadWholeFile(second, b);
  EXPECT_EQ(a + b, "one\r\ntwo\r\n");
  // Both restore to the one download name: the second asks first.
  const std::vector<KeptCopy> copies = ListKeptCopies(app_);
  ASSERT_EQ(copies.size(), 2u);
  EXPECT_EQ(copies[0].downloadName, copies[1].downloadName);
}

// ---- the setting ----

struct SettingRow {
  const char* name;
  std::string text;
  int days;
};
void PrintTo(const SettingRow& row, std::ostream* os) { *os << row.name; }

class KeepSettingText : public ::testing::TestWithParam<SettingRow> {};

TEST_P(KeepSettingText, GivesTheDays) { EXPECT_EQ(ParseKeepSetting(GetParam().text).days, GetParam().days); }

INSTANTIATE_TEST_SUITE_P(Rows, KeepSettingText,
                         ::testing::Values(SettingRow{"empty_file", "", 30}, SettingRow{"days", "7\r\n", 7},
                                           SettingRow{"blanks_around", " 45 \t\r\nignored\r\n", 45},
                                           SettingRow{"off", "0", 0}, SettingRow{"word", "off\r\n", 30},
                                           SettingRow{"negative", "-1", 30}, SettingRow{"too_many", "99999", 30},
                                           SettingRow{"trailing_text", "12 days", 30},
                                           SettingRow{"second_line_only", "\r\n7\r\n", 30}),
                         RowName<SettingRow>);

TEST_F(KeptCopiesFolder, TheSettingIsWrittenAsItsOneLine) {
  EXPECT_EQ(ReadKeepSetting(app_).days, kDefaultKeepDays);
  ASSERT_TRUE(WriteKeepSetting(app_, 0));
  std::string text;
  ReadWholeFile(app_ + kKeepSettingFileName, text);
  EXPECT_EQ(text, "0\r\n");
  EXPECT_FALSE(ReadKeepSetting(app_).KeepsCopies());
  EXPECT_FALSE(WriteKeepSetting(app_, -3));
}

}  // namespace
}  // namespace brevan
