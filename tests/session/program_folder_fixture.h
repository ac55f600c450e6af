#pragma once
// A session window that decides its file folder afresh, as at start-up, and
// every use of the files a user makes: an account found and saved, the rule
// file loaded at login and a rule added, a message downloaded and found again
// by the read command.
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "common/codepage.h"
#include "messages_fixture.h"
#include "messages_mailbox.h"

namespace brevan::testing_support {

// Sets or clears an environment variable for one test and puts back what was
// there before.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    Apply(value);
  }
  ~ScopedEnv() { Apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_, value->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  const char* name_;
  std::optional<std::string> old_;
};

class ProgramFolderTest : public testing_support::WindowTest {
 protected:
  void TearDown() override {
    SetProgramFolderOverride("", true);
    WindowTest::TearDown();
  }

  // A new session window deciding its folder afresh, as at start-up.
  void Reopen() {
    form.reset();
    SetAppPathOverride("");
    Program() = ProgramValues{};
    form = std::make_unique<TForm1>();
  }

  // Everything a user does with files, against the folder `files`: an
  // account saved there before is found, a new one saved beside it, the rule
  // file loaded at login, a rule added, a message downloaded and read.
  void UseEveryFile(const std::string& files) {
    ASSERT_EQ(Program().AppPath, files);
    ASSERT_EQ(form->ComboBox1->count(), 1);
    EXPECT_EQ(FromQt(form->ComboBox1->itemText(0)), "old.example");

    form->ComboBox1->setEditText(QStringLiteral("new.example"));
    form->Edit3->setText(QStringLiteral("110"));
    form->Edit4->setText(QStringLiteral("bob"));
    form->Edit2->setText(QString());
    form->Button1Click();
    std::string accounts;
    ASSERT_TRUE(ReadWholeFile(files + "brevan.ini", accounts));
    EXPECT_EQ(accounts, "old.example;110;ann;\r\nnew.example;110;bob;\r\n");

    MailboxServer server({"Subject: " + Cp("中文") + " junk\r\n\r\nbody\r\n"});
    ASSERT_TRUE(server.Ok());
    server.Start();
    LogIn(server.Port());
    ASSERT_TRUE(form->IsConnected());
    EXPECT_EQ(Program().FilterRuleList, std::vector<std::string>{"never"});
    EXPECT_FALSE(form->RowTicked(0));

    Select(0);
    dialogs.inputResult = "junk";
    form->N1Click();
    std::string rules;
    ASSERT_TRUE(ReadWholeFile(files + "subjectfilter.cfg", rules));
    EXPECT_EQ(rules, "never\r\njunk\r\n");
    EXPECT_TRUE(form->RowTicked(0));

    form->btnDownloadClick();
    const std::string message = files + "ann(127.0.0.1)/\xE4\xB8\xAD\xE6\x96\x87 junk.eml";
    std::string contents;
    ASSERT_TRUE(ReadWholeFile(message, contents)) << message;
    EXPECT_EQ(contents, "Subject: " + Cp("中文") + " junk\r\n\r\nbody\r\n");
    EXPECT_TRUE(dialogs.errors.empty());

    form->btnReadClick();
    ASSERT_EQ(desktop.documents.size(), 1u);
    EXPECT_EQ(desktop.documents[0].path, message);
    EXPECT_EQ(desktop.documents[0].folder, files);
  }

  static void Seed(const std::string& files) {
    ASSERT_TRUE(ForceDirectories(files));
    ASSERT_TRUE(WriteFileAtomic(files + "brevan.ini", "old.example;110;ann;\r\n", 0600));
    ASSERT_TRUE(WriteFileAtomic(files + "subjectfilter.cfg", "never\r\n"));
  }
};


}  // namespace brevan::testing_support
