// Save, pick and delete through the session window with a GNOME Keyring on a
// private session bus: where the password ends up (keyring or brevan.ini),
// what the login fields show, and a keyring that does not answer.
#include <libsecret/secret.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <map>
#include <memory>
#include <ostream>

#include "accounts/keyring.h"
#include "app/qt_text.h"
#include "common/file_io.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/private_session_bus.h"

namespace brevan::testing {
namespace {

using std::chrono::milliseconds;
using test::PrivateSessionBus;

const KeyringWait kQuick{milliseconds(10000), nullptr};

// Each test runs in a process of its own (GLib keeps the first session bus
// it finds), as ctest runs them.
class KeyringWindowTest : public WindowTest {
 protected:
  virtual bool WithKeyring() const { return true; }
  void SetUp() override {
    WindowTest::SetUp();
    if (auto why = PrivateSessionBus::Unavailable(WithKeyring()); !why.empty()) GTEST_SKIP() << why;
    bus_ = std::make_unique<PrivateSessionBus>(WithKeyring());
    bus_->UseForThisProcess();
    SetKeyringBound(milliseconds(10000));
  }
  void TearDown() override {
    SetKeyringBound(milliseconds(60000));
    secret_service_disconnect();
    if (bus_) bus_->Stop();
    WindowTest::TearDown();
  }
  void WriteAccounts(const std::string& bytes) { ASSERT_TRUE(WriteFileAtomic(File("brevan.ini"), bytes, 0600)); }
  std::string ReadAccounts() {
    std::string bytes;
    if (!ReadWholeFile(File("brevan.ini"), bytes)) return "{missing}";
    return bytes;
  }
  static std::string Stored(const KeyringAccount& account) {
    std::string password;
    const KeyringResult r = LookupKeyringPassword(account, &password, kQuick);
    return r == KeyringResult::Done ? password : "{none}";
  }
  static void Fill(TForm1& w, const std::string& server, const char* port, const char* user, const std::string& pw) {
    w.ComboBox1->setEditText(ToQt(server));
    w.Edit3->setText(port);
    w.Edit4->setText(user);
    w.Edit2->setText(ToQt(pw));
  }
  static void Pick(TForm1& w, const std::string& server) {
    const int index = w.ComboBox1->findText(ToQt(server));
    ASSERT_GE(index, 0) << server;
    w.ComboBox1->setCurrentIndex(index);
    emit w.ComboBox1->activated(index);
  }
  std::unique_ptr<PrivateSessionBus> bus_;
};

enum class Action { Save, Pick, Delete };

struct KeyringRow {
  const char* name;
  std::string fileBefore;
  std::map<std::string, std::string> keyringBefore;  // "server;port;user" -> password
  Action action;
  std::string server;
  const char* port;
  const char* user;
  std::string password;  // typed before a save
  std::string fileAfter;
  std::map<std::string, std::string> keyringAfter;  // every key named in either map is checked
  std::string passwordShown;                        // Edit2 afterwards
};
void PrintTo(const KeyringRow& row, std::ostream* os) { *os << row.name; }

KeyringAccount AccountOf(const std::string& key) {
  const size_t a = key.find(';'), b = key.find(';', a + 1);
  return {key.substr(0, a), key.substr(a + 1, b - a - 1), key.substr(b + 1)};
}

class KeyringWindow : public KeyringWindowTest, public ::testing::WithParamInterface<KeyringRow> {};

TEST_P(KeyringWindow, PasswordLivesInTheKeyringAndTheLineKeepsTheRest) {
  const KeyringRow& row = GetParam();
  if (!row.fileBefore.empty()) WriteAccounts(row.fileBefore);
  for (const auto& [key, password] : row.keyringBefore)
    ASSERT_EQ(StoreKeyringPassword(AccountOf(key), password, kQuick), KeyringResult::Done);
  TForm1 w;
  switch (row.action) {
    case Action::Save:
      Fill(w, row.server, row.port, row.user, row.password);
      w.Button1->click();
      break;
    case Action::Pick:
      Pick(w, row.server);
      break;
    case Action::Delete:
      Fill(w, row.server, row.port, row.user, row.password);
      w.Button2->click();
      break;
  }
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_EQ(ReadAccounts(), row.fileAfter);
  EXPECT_EQ(FromQt(w.Edit2->text()), row.passwordShown);
  std::map<std::string, std::string> keys = row.keyringBefore;
  keys.insert(row.keyringAfter.begin(), row.keyringAfter.end());
  for (const auto& entry : keys) {
    const auto expected = row.keyringAfter.find(entry.first);
    EXPECT_EQ(Stored(AccountOf(entry.first)), expected == row.keyringAfter.end() ? "{none}" : expected->second)
        << entry.first;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, KeyringWindow,
    ::testing::Values(
        KeyringRow{"save_puts_the_password_in_the_keyring", "", {}, Action::Save, "pop.example.com", "110", "alice",
                   "pw", "pop.example.com;110;alice;\r\n", {{"pop.example.com;110;alice", "pw"}}, "pw"},
        KeyringRow{"save_moves_an_old_base64_password", "pop.example.com;110;alice;b2xk\r\n", {}, Action::Save,
                   "pop.example.com", "110", "alice", "pw", "pop.example.com;110;alice;\r\n",
                   {{"pop.example.com;110;alice", "pw"}}, "pw"},
        KeyringRow{"save_under_another_user_drops_the_old_item", "pop.example.com;110;bob;\r\n",
                   {{"pop.example.com;110;bob", "old"}}, Action::Save, "pop.example.com", "995", "alice", "pw",
                   "pop.example.com;995;alice;\r\n", {{"pop.example.com;995;alice", "pw"}}, "pw"},
        KeyringRow{"blank_password_removes_the_item", "pop.example.com;110;alice;\r\n",
                   {{"pop.example.com;110;alice", "old"}}, Action::Save, "pop.example.com", "110", "alice", "",
                   "pop.example.com;110;alice;\r\n", {}, ""},
        KeyringRow{"big5_texts", "", {}, Action::Save, Cp("郵件.example"), "110", "alice", Cp("許功蓋"),
                   Cp("郵件.example") + ";110;alice;\r\n", {{Cp("郵件.example") + ";110;alice", Cp("許功蓋")}},
                   Cp("許功蓋")},
        KeyringRow{"pick_reads_the_keyring", "pop.example.com;110;alice;\r\n",
                   {{"pop.example.com;110;alice", "pw"}}, Action::Pick, "pop.example.com", "", "", "",
                   "pop.example.com;110;alice;\r\n", {{"pop.example.com;110;alice", "pw"}}, "pw"},
        KeyringRow{"pick_of_an_old_line_takes_its_base64", "pop.example.com;110;alice;cHc=\r\n",
                   {{"pop.example.com;110;alice", "stale"}}, Action::Pick, "pop.example.com", "", "", "",
                   "pop.example.com;110;alice;cHc=\r\n", {{"pop.example.com;110;alice", "stale"}}, "pw"},
        KeyringRow{"pick_without_an_item_shows_no_password", "pop.example.com;110;alice;\r\n",
                   {{"pop.example.com;995;alice", "other port"}}, Action::Pick, "pop.example.com", "", "", "",
                   "pop.example.com;110;alice;\r\n", {{"pop.example.com;995;alice", "other port"}}, ""},
        KeyringRow{"delete_removes_the_line_and_its_item_only",
                   "pop.example.com;110;alice;\r\nb.example;110;alice;\r\n",
                   {{"pop.example.com;110;alice", "pw"}, {"b.example;110;alice", "pw2"}}, Action::Delete,
                   "pop.example.com", "110", "alice", "pw", "b.example;110;alice;\r\n",
                   {{"b.example;110;alice", "pw2"}}, ""}),
    [](const ::testing::TestParamInfo<KeyringRow>& info) { return std::string(info.param.name); });

TEST_F(KeyringWindowTest, LockedKeyringKeepsTheBase64InTheFile) {
  ASSERT_EQ(StoreKeyringPassword({"x.example", "110", "u"}, "x", kQuick), KeyringResult::Done);  // the collection exists
  bus_->LockKeyring();
  TForm1 w;
  Fill(w, "pop.example.com", "110", "alice", "pw");
  w.Button1->click();
  EXPECT_EQ(ReadAccounts(), "pop.example.com;110;alice;cHc=\r\n");
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"pop.example.com" + Cp(" 新增完成")});
}

TEST_F(KeyringWindowTest, UnansweredKeyringLeavesTheWindowServicedAndFallsBack) {
  SetKeyringBound(milliseconds(800));
  bus_->PauseKeyring();
  TForm1 w;
  Fill(w, "pop.example.com", "110", "alice", "pw");
  int ticks = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  timer.start(20);
  // A second save clicked while the first waits does nothing.
  QTimer::singleShot(100, &w, [&] { w.Button1->click(); });
  const auto start = std::chrono::steady_clock::now();
  w.Button1->click();
  const auto took = std::chrono::steady_clock::now() - start;
  timer.stop();
  bus_->ResumeKeyring();
  EXPECT_GE(took, milliseconds(800));
  EXPECT_LT(took, milliseconds(3000));
  EXPECT_GE(ticks, 10) << "the window's events ran while the keyring was awaited";
  EXPECT_EQ(ReadAccounts(), "pop.example.com;110;alice;cHc=\r\n");
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"pop.example.com" + Cp(" 新增完成")});
}

class NoSecretServiceWindowTest : public KeyringWindowTest {
 protected:
  bool WithKeyring() const override { return false; }
};

TEST_F(NoSecretServiceWindowTest, SaveAndPickKeepTheBase64AsBefore) {
  TForm1 w;
  Fill(w, "pop.example.com", "110", "alice", "pw");
  w.Button1->click();
  EXPECT_EQ(ReadAccounts(), "pop.example.com;110;alice;cHc=\r\n");
  TForm1 other;
  Pick(other, "pop.example.com");
  EXPECT_EQ(FromQt(other.Edit2->text()), "pw");
  EXPECT_TRUE(dialogs_.errors.empty());
}

}  // namespace
}  // namespace brevan::testing
