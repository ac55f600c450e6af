// The learned judgement in the session window: what each of the user's
// actions teaches, and how a listing is marked before and after the store
// knows enough.
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/codepage.h"
#include "common/file_io.h"
#include "learn/learned_store.h"
#include "learn/session_learning.h"
#include "messages_fixture.h"
#include "messages_mailbox.h"

namespace brevan {
namespace {

using testing_support::MailboxServer;
using testing_support::WindowTest;

std::string Work(int n, const std::string& subject) {
  return "From: ann@work.example\r\nMessage-ID: <" + std::to_string(n) + "@work.example>\r\nSubject: " + subject +
         "\r\n\r\nbody\r\n";
}
std::string Bulk(int n, const std::string& subject) {
  return "From: deals@bulk.example\r\nMessage-ID: <" + std::to_string(n) + "@bulk.example>\r\nSubject: " + subject +
         "\r\n\r\nbody\r\n";
}
std::string HeaderOf(const std::string& message) { return message.substr(0, message.find("\r\n\r\n") + 2); }

class LearningWindowTest : public WindowTest {
 protected:
  void TearDown() override {
    CloseSessionLearnedStore();
    WindowTest::TearDown();
  }
  std::string StorePath() const { return AppPath() + kLearnedStoreName; }
  // How the store (read afresh from its file) has learned a message: 1 junk,
  // 0 good, -1 not at all.
  int LearnedAs(const std::string& message) {
    LearnedStore store(StorePath());
    return store.LearnedAs(MessageKey({}, HeaderOf(message)));
  }
  // Twenty lessons of each kind, from the two senders.
  void Teach() {
    LearnedStore store(StorePath());
    std::vector<LearnedStore::Lesson> junk, good;
    for (int i = 0; i < 20; ++i) {
      const std::string j = HeaderOf(Bulk(1000 + i, "cheap offer " + std::to_string(i)));
      const std::string g = HeaderOf(Work(2000 + i, "project notes " + std::to_string(i)));
      junk.push_back({MessageKey({}, j), j});
      good.push_back({MessageKey({}, g), g});
    }
    ASSERT_EQ(store.Learn(junk, true), 20);
    ASSERT_EQ(store.Learn(good, false), 20);
  }
  void List(MailboxServer& server) {
    ASSERT_TRUE(server.Ok());
    server.Start();
    LogIn(server.Port());
  }
};

// Before the store knows 20 of each, every row is ticked exactly as by the
// subject tests, and judging creates no store.
TEST_F(LearningWindowTest, ColdStartTicksAsBefore) {
  MailboxServer server({Bulk(1, "cheap l0an"), Work(2, "MP3 player"), Bulk(3, "cheap offer"), Work(4, "notes")});
  List(server);
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 4);
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, false, false}));
  EXPECT_FALSE(FileExists(StorePath()));
  // A store that knows too little changes nothing either.
  {
    LearnedStore store(StorePath());
    const std::string j = HeaderOf(Bulk(9, "cheap offer"));
    ASSERT_EQ(store.Learn({{MessageKey({}, j), j}}, true), 1);
  }
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{true, true, false, false}));
  EXPECT_TRUE(dialogs.messages.empty());
}

// Once it knows enough: a disguised word in a confidently good message does
// not tick (the hint tells both), learned junk ticks with its reason, and a
// rule still ticks whatever was learned.
TEST_F(LearningWindowTest, LearnedVerdictJoinsTheMarks) {
  Teach();
  ASSERT_TRUE(WriteFileAtomic(AppPath() + "subjectfilter.cfg", "player\r\n"));
  MailboxServer server({Work(1, "MP3 notes"), Bulk(2, "cheap offer now"), Work(3, "project MP3 player"),
                        Work(4, "project notes")});
  List(server);
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 4);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, true, false}));
  const QString note = form->ListView1->topLevelItem(0)->toolTip(ColSubject);
  EXPECT_TRUE(note.contains(QString::fromUtf8("偽裝字 MP3"))) << note.toStdString();
  EXPECT_TRUE(note.contains(QString::fromUtf8("正常信 (分數 0."))) << note.toStdString();
  const std::string reason = form->RowJunkReason(1);
  EXPECT_NE(reason.find(Utf8ToAnsi("學習判斷: 垃圾信 (分數 ")), std::string::npos) << AnsiToUtf8(reason);
  EXPECT_NE(reason.find("from:"), std::string::npos) << AnsiToUtf8(reason);
  EXPECT_EQ(form->RowJunkReason(2), Cp("原因: 規則 player (第 1 行)"));
  // Re-applying the filter gives the same marks.
  form->ReapplyFilter();
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true, true, false}));
}

// A confirmed deletion teaches junk, one message each; a refused one does not.
TEST_F(LearningWindowTest, ConfirmedDeletionsTeachJunk) {
  const std::vector<std::string> messages = {Work(1, "a"), Bulk(2, "b"), Bulk(3, "c")};
  MailboxServer server(messages);
  server.FailAt("dele 3", MailboxServer::Fault::Err);
  List(server);
  ASSERT_EQ(form->ListView1->topLevelItemCount(), 3);
  form->SetRowTicked(1, true);
  form->SetRowTicked(2, true);
  dialogs.answers.push_back(true);
  form->btnDisconnectClick();
  EXPECT_EQ(LearnedAs(messages[0]), -1);
  EXPECT_EQ(LearnedAs(messages[1]), 1);
  EXPECT_EQ(LearnedAs(messages[2]), -1) << "the server refused its deletion";
  LearnedStore store(StorePath());
  EXPECT_EQ(store.JunkMessages(), 1u);
}

// The user's hand on the check boxes: a tick teaches junk, unticking an
// automatic mark teaches good, unticking a hand tick takes the lesson back;
// the program's own ticks and unticks teach nothing.
TEST_F(LearningWindowTest, HandTicksTeach) {
  const std::vector<std::string> messages = {Bulk(1, "cheap l0an"), Work(2, "notes"), Work(3, "more")};
  MailboxServer server(messages);
  List(server);
  ASSERT_EQ(Ticks(), (std::vector<bool>{true, false, false}));
  EXPECT_FALSE(FileExists(StorePath()));
  form->btnDeleteAllClick();
  form->btnCancelAllClick();
  form->SetRowTicked(0, true);
  EXPECT_FALSE(FileExists(StorePath())) << "no lesson from the program's own marks";
  form->ReapplyFilter();

  auto click = [&](int row, bool tick) {
    form->ListView1->topLevelItem(row)->setCheckState(ColNumber, tick ? Qt::Checked : Qt::Unchecked);
  };
  click(0, false);  // the automatic mark taken back
  EXPECT_EQ(LearnedAs(messages[0]), 0);
  click(1, true);
  EXPECT_EQ(LearnedAs(messages[1]), 1);
  click(1, false);
  EXPECT_EQ(LearnedAs(messages[1]), -1);
  click(1, true);
  EXPECT_EQ(LearnedAs(messages[1]), 1);
  LearnedStore store(StorePath());
  EXPECT_EQ(store.JunkMessages(), 1u);
  EXPECT_EQ(store.GoodMessages(), 1u);
}

// The list's menu teaches the selected message; a changed mind moves it.
TEST_F(LearningWindowTest, MenuTeachesTheSelectedMessage) {
  const std::vector<std::string> messages = {Work(1, "a"), Bulk(2, "b")};
  MailboxServer server(messages);
  List(server);
  EXPECT_EQ(form->N2->text(), QString::fromUtf8("這是垃圾信"));
  EXPECT_EQ(form->N3->text(), QString::fromUtf8("這不是垃圾信"));
  Select(1);
  form->N2->trigger();
  EXPECT_EQ(LearnedAs(messages[1]), 1);
  form->N3->trigger();
  EXPECT_EQ(LearnedAs(messages[1]), 0);
  LearnedStore store(StorePath());
  EXPECT_EQ(store.JunkMessages(), 0u);
  EXPECT_EQ(store.GoodMessages(), 1u);
}

// A store that cannot be read is kept aside with one message, once.
TEST_F(LearningWindowTest, BrokenStoreIsToldOnce) {
  Teach();
  ASSERT_TRUE(WriteFileAtomic(StorePath(), std::string(4096, 'x')));
  MailboxServer server({Bulk(1, "cheap offer"), Work(2, "MP3 notes")});
  List(server);
  EXPECT_EQ(Ticks(), (std::vector<bool>{false, true}));
  ASSERT_EQ(dialogs.messages.size(), 1u);
  EXPECT_NE(AnsiToUtf8(dialogs.messages[0]).find("已損壞或無法讀取"), std::string::npos);
  form->ReapplyFilter();
  EXPECT_EQ(dialogs.messages.size(), 1u);
}

}  // namespace
}  // namespace brevan
