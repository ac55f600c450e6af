// Saving, picking and deleting accounts through the session window: what ends
// up in brevan.ini, in the server list and in the login fields.
#include <sys/stat.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <ostream>

#include "accounts/account_store.h"
#include "app/qt_text.h"
#include "common/file_io.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"

namespace brevan::testing {
namespace {

class AccountsWindowTest : public WindowTest {
 protected:
  void WriteAccounts(const std::string& bytes) {
    ASSERT_TRUE(WriteFileAtomic(File("brevan.ini"), bytes, 0600));
  }
  std::string ReadAccounts() {
    std::string bytes;
    if (!ReadWholeFile(File("brevan.ini"), bytes)) return "{missing}";
    return bytes;
  }
  std::unique_ptr<TForm1> NewWindow() { return std::make_unique<TForm1>(); }
  static std::vector<std::string> Items(const TForm1& w) {
    std::vector<std::string> items;
    for (int i = 0; i < w.ComboBox1->count(); ++i) items.push_back(FromQt(w.ComboBox1->itemText(i)));
    return items;
  }
  static void Fill(TForm1& w, const std::string& server, const char* port, const char* user, const char* password) {
    w.ComboBox1->setEditText(ToQt(server));
    w.Edit3->setText(port);
    w.Edit4->setText(user);
    w.Edit2->setText(password);
  }
};

// ---- save ----

struct SaveRow {
  const char* name;
  std::string fileBefore;  // "{missing}": no file
  std::string server;
  const char* port;
  const char* user;
  const char* password;
  std::string fileAfter;
  std::vector<std::string> items;  // the server list afterwards
  bool saved;
};
void PrintTo(const SaveRow& row, std::ostream* os) { *os << row.name; }

class AccountSave : public AccountsWindowTest, public ::testing::WithParamInterface<SaveRow> {};

TEST_P(AccountSave, WritesTheFileAndTheList) {
  const SaveRow& row = GetParam();
  if (row.fileBefore != "{missing}") WriteAccounts(row.fileBefore);
  auto w = NewWindow();
  Fill(*w, row.server, row.port, row.user, row.password);
  w->Button1->click();
  EXPECT_EQ(ReadAccounts(), row.fileAfter);
  EXPECT_EQ(Items(*w), row.items);
  EXPECT_TRUE(dialogs_.errors.empty());
  if (row.saved) {
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{row.server + Cp(" 新增完成")});
    EXPECT_EQ(FromQt(w->ComboBox1->currentText()), row.server);
    struct stat info {};
    ASSERT_EQ(::stat(File("brevan.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // the file holds passwords
  } else {
    EXPECT_TRUE(dialogs_.messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountSave,
    ::testing::Values(
        SaveRow{"new_account", "{missing}", "pop.example.com", "110", "alice", "pw",
                "pop.example.com;110;alice;cHc=\r\n", {"pop.example.com"}, true},
        SaveRow{"same_server_replaces_its_line", "pop.example.com;110;old;b2xk\r\n", "pop.example.com", "995",
                "alice", "pw", "pop.example.com;995;alice;cHc=\r\n", {"pop.example.com"}, true},
        SaveRow{"every_line_of_the_server_rewritten", "a.example;1;u;\r\nb.example;2;v;\r\na.example;3;w;\r\n",
                "a.example", "110", "x", "", "a.example;110;x;\r\nb.example;2;v;\r\na.example;110;x;\r\n",
                {"a.example", "b.example", "a.example"}, true},
        // The key is found inside the longer saved name, so that line is replaced;
        // the server list shows the file's accounts.
        SaveRow{"tail_of_a_saved_server_replaces_it", "pop.example.com;110;bob;\r\n", "example.com", "110",
                "alice", "", "example.com;110;alice;\r\n", {"example.com"}, true},
        // A4 61 is one Big5 character whose trail byte is "a": the saved name
        // does not end in "a.com", so the new account is added.
        SaveRow{"key_inside_a_big5_character_is_another_server", "\xA4\x61.com;110;bob;\r\n", "a.com", "110",
                "alice", "", "\xA4\x61.com;110;bob;\r\na.com;110;alice;\r\n", {"\xA4\x61.com", "a.com"}, true},
        SaveRow{"empty_line_written_back", "\r\nb.example;2;v;\r\n", "c.example", "110", "u", "",
                "\r\nb.example;2;v;\r\nc.example;110;u;\r\n", {"", "b.example", "c.example"}, true},
        SaveRow{"big5_server_and_user", "{missing}", Cp("郵件.example"), "110", "許功蓋", "",
                Cp("郵件.example") + ";110;" + Cp("許功蓋") + ";\r\n", {Cp("郵件.example")}, true},
        SaveRow{"blank_server_saves_nothing", "{missing}", "  ", "110", "alice", "pw", "{missing}", {}, false}),
    [](const ::testing::TestParamInfo<SaveRow>& info) { return std::string(info.param.name); });

TEST_F(AccountsWindowTest, SaveIntoAMissingFolderGoesToTheErrorBox) {
  SetAppPathOverride(File("no/such/folder"));
  auto w = NewWindow();
  Fill(*w, "pop.example.com", "110", "alice", "pw");
  w->Button1->click();
  ASSERT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_NE(dialogs_.errors[0].find("Cannot create file"), std::string::npos);
  EXPECT_EQ(dialogs_.errors[0].back(), '.');
  EXPECT_TRUE(dialogs_.messages.empty());
}

// ---- pick ----

struct PickRow {
  const char* name;
  int index;
  const char* server;
  const char* port;
  const char* user;
  const char* password;
};
void PrintTo(const PickRow& row, std::ostream* os) { *os << row.name; }

class AccountPick : public AccountsWindowTest, public ::testing::WithParamInterface<PickRow> {};

TEST_P(AccountPick, FillsTheLoginFields) {
  const PickRow& row = GetParam();
  WriteAccounts(
      "pop.example.com;995;alice;c2VjcmV0\r\n"
      "\r\n"
      "short.example\r\n"
      "semi;co;1;cHc=\r\n"
      "extra.example;110;carol;cHc=;more;fields\r\n");
  auto w = NewWindow();
  EXPECT_EQ(Items(*w), (std::vector<std::string>{"pop.example.com", "", "short.example", "semi", "extra.example"}));
  EXPECT_EQ(w->ComboBox1->currentText(), "");
  w->Edit3->setText("777");
  w->Edit4->setText("typed");
  w->ComboBox1->setCurrentIndex(row.index);
  emit w->ComboBox1->activated(row.index);
  EXPECT_EQ(w->ComboBox1->currentText(), row.server);
  EXPECT_EQ(w->Edit3->text(), row.port);
  EXPECT_EQ(w->Edit4->text(), row.user);
  EXPECT_EQ(w->Edit2->text(), row.password);
  EXPECT_EQ(w->Edit2->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(dialogs_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountPick,
    ::testing::Values(PickRow{"full_line", 0, "pop.example.com", "995", "alice", "secret"},
                      // A line without ";" has no key: picking it changes nothing.
                      PickRow{"server_only_line_has_no_key", 2, "short.example", "777", "typed", ""},
                      // "semi;" heads its own line: the fields are read split at that ";".
                      PickRow{"semicolon_in_the_server", 3, "semi", "co", "1", "pw"},
                      PickRow{"text_after_the_fourth_field_ignored", 4, "extra.example", "110", "carol", "pw"}),
    [](const ::testing::TestParamInfo<PickRow>& info) { return std::string(info.param.name); });

TEST_F(AccountsWindowTest, SavedAccountIsOfferedByTheNextWindow) {
  auto first = NewWindow();
  Fill(*first, "pop.example.com", "110", "alice", "pw");
  first->Button1->click();
  auto second = NewWindow();
  ASSERT_EQ(Items(*second), std::vector<std::string>{"pop.example.com"});
  second->ComboBox1->setCurrentIndex(0);
  emit second->ComboBox1->activated(0);
  EXPECT_EQ(second->Edit4->text(), "alice");
  EXPECT_EQ(second->Edit2->text(), "pw");
}

// ---- delete ----

TEST_F(AccountsWindowTest, DeleteRemovesLineAndEntryAndKeepsThePort) {
  WriteAccounts("b.example;1;u;\r\nxa.example;2;v;\r\na.example;3;w;\r\n");
  auto w = NewWindow();
  Fill(*w, "a.example", "4321", "v", "pw");
  w->Button2->click();
  // Only the first line holding the key goes, and the first entry holding
  // the text: here both are the longer name that ends in it.
  EXPECT_EQ(ReadAccounts(), "b.example;1;u;\r\na.example;3;w;\r\n");
  EXPECT_EQ(Items(*w), (std::vector<std::string>{"b.example", "a.example"}));
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"a.example" + Cp(" 刪除完成")});
  EXPECT_EQ(w->Edit3->text(), "4321");
  EXPECT_EQ(w->Edit4->text(), "");
  EXPECT_EQ(w->Edit2->text(), "");
  EXPECT_EQ(w->ComboBox1->currentText(), "");
}

TEST_F(AccountsWindowTest, DeleteOfAnUnknownServerStillClearsAndReports) {
  WriteAccounts("b.example;2;v;\r\n");
  auto w = NewWindow();
  Fill(*w, "zzz", "110", "v", "pw");
  w->Button2->click();
  EXPECT_EQ(ReadAccounts(), "b.example;2;v;\r\n");
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"zzz" + Cp(" 刪除完成")});
  EXPECT_EQ(w->Edit4->text(), "");
}

// ---- window creation ----

TEST_F(AccountsWindowTest, CreationResetsTheSharedValuesItOwns) {
  WriteAccounts("a.example;1;u;\r\n");
  Program().PromoState = 2;
  Program().AccountList = {"stale"};
  auto first = NewWindow();
  EXPECT_EQ(Program().AccountList, std::vector<std::string>{"a.example;1;u;"});
  EXPECT_EQ(Program().PromoState, 1);
  EXPECT_EQ(Program().AppPath, folder_ + "/");
  EXPECT_TRUE(Program().FilterRuleListCreated);
  // The rule list belongs to the program: later windows leave it alone.
  Program().FilterRuleList = {"rule"};
  auto second = NewWindow();
  EXPECT_EQ(Program().FilterRuleList, std::vector<std::string>{"rule"});
}

TEST_F(AccountsWindowTest, UnreadableFileIsReportedAndTheWindowStillComes) {
  WriteAccounts("a.example;1;u;\r\n");
  ASSERT_EQ(::chmod(File("brevan.ini").c_str(), 0), 0);
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  auto w = NewWindow();
  EXPECT_EQ(dialogs_.errors.size(), 1u);
  EXPECT_EQ(w->ComboBox1->count(), 0);
}

// ---- another running copy changed the file since this window read it ----

struct SharedRow {
  const char* name;
  std::string fileAtStart;     // read by the window when it opens
  std::string fileMeanwhile;   // written by the other copy after that
  bool save;                   // false: delete
  std::string server;
  std::string fileAfter;
  std::vector<std::string> items;
};
void PrintTo(const SharedRow& row, std::ostream* os) { *os << row.name; }

class AccountsOfAnotherCopy : public AccountsWindowTest, public ::testing::WithParamInterface<SharedRow> {};

TEST_P(AccountsOfAnotherCopy, AreKeptAndListed) {
  const SharedRow& row = GetParam();
  WriteAccounts(row.fileAtStart);
  auto w = NewWindow();
  WriteAccounts(row.fileMeanwhile);
  Fill(*w, row.server, "110", "me", "");
  (row.save ? w->Button1 : w->Button2)->click();
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_EQ(ReadAccounts(), row.fileAfter);
  EXPECT_EQ(Items(*w), row.items);
  EXPECT_EQ(Program().AccountList, ReadAccountLines(row.fileAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountsOfAnotherCopy,
    ::testing::Values(
        SharedRow{"save_keeps_the_account_saved_meanwhile", "a.example;1;u;\r\n",
                  "a.example;1;u;\r\nother.example;2;o;\r\n", true, "mine.example",
                  "a.example;1;u;\r\nother.example;2;o;\r\nmine.example;110;me;\r\n",
                  {"a.example", "other.example", "mine.example"}},
        SharedRow{"save_replaces_the_line_as_it_is_now", "a.example;1;u;\r\n",
                  "other.example;2;o;\r\na.example;3;changed;\r\n", true, "a.example",
                  "other.example;2;o;\r\na.example;110;me;\r\n", {"other.example", "a.example"}},
        SharedRow{"delete_keeps_the_account_saved_meanwhile", "a.example;1;u;\r\n",
                  "a.example;1;u;\r\nother.example;2;o;\r\n", false, "a.example", "other.example;2;o;\r\n",
                  {"other.example"}},
        SharedRow{"delete_of_an_account_deleted_meanwhile", "a.example;1;u;\r\nb.example;2;v;\r\n",
                  "b.example;2;v;\r\n", false, "a.example", "b.example;2;v;\r\n", {"b.example"}}),
    [](const ::testing::TestParamInfo<SharedRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan::testing
