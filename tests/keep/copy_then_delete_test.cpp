// The deletion that keeps a copy first, against the scripted mailbox: the
// exact dialogue with and without pipelining, a failure at every step, a full
// disk. Whatever happens, no "dele" goes out for a message whose copy is not
// whole in its place, and no part of a copy is ever left behind.
#include "keep/copy_then_delete.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "keep/kept_copies.h"
#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

namespace fs = std::filesystem;
using test::Pop3Fault;
using test::Pop3Mailbox;
using test::ScriptedPop3Server;

// Message k has the subject "m<k>" and a body of `lines` lines; some lines
// begin with a dot, which the server doubles on the wire.
std::string Message(int k, int lines = 3) {
  std::string text = "From: a" + std::to_string(k) + "@example.com\r\nSubject: m" + std::to_string(k) + "\r\n\r\n";
  for (int i = 0; i < lines; ++i) text += (i % 7 == 1 ? ".dot " : "line ") + std::to_string(i) + "\r\n";
  return text;
}

// What a download of the message writes: the reply as sent (doubled dots
// stay doubled) without its terminating line, then CR LF.
std::string DownloadedBytes(const std::string& message) {
  std::string out;
  size_t at = 0;
  while (at < message.size()) {
    size_t end = message.find("\r\n", at);
    end = end == std::string::npos ? message.size() : end + 2;
    if (message[at] == '.') out += '.';
    out.append(message, at, end - at);
    at = end;
  }
  return out;
}

struct RunOutcome {
  CopyThenDeleteResult result;
  std::vector<std::string> commands;  // after the login
  std::vector<int> remaining;         // on the server after "quit"
  std::vector<std::pair<int, int>> progress;
};

class KeepFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = std::string("brevan_keep_") + std::to_string(::getpid()) + "_" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');
    root_ = (fs::temp_directory_path() / name).string();
    fs::remove_all(root_);
    fs::create_directories(root_);
    folder_ = (fs::path(root_) / "deleted" / "user(host)").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(root_, fs::perms::owner_all, ec);
    fs::remove_all(root_, ec);
  }

  // Logs in, runs the deletion for the marked numbers, and sends "quit" when
  // the connection is still usable.
  RunOutcome Delete(const std::vector<std::string>& messages, const std::vector<int>& marked, bool pipelining,
             const std::map<int, Pop3Fault>& faults = {}, bool copies = true) {
    Pop3Mailbox box;
    box.messages = messages;
    ScriptedPop3Server server;
    server.ServeMailbox(box);
    for (const auto& [step, fault] : faults) server.InjectFault(step, fault);
    TIdTCPClient c;
    test::OpenAndLogIn(c, server.Port());
    std::vector<MarkedMessage> list;
    for (int n : marked) list.push_back({n, "m" + std::to_string(n)});
    RunOutcome run;
    CopySteps steps;
    steps.Now = [] { return std::time_t{1765000000}; };
    steps.Progress = [&run](int done, int total) { run.progress.emplace_back(done, total); };
    CopyThenDelete driver(c, pipelining, copies ? folder_ : std::string(), list, steps);
    driver.SetReplyBound(std::chrono::milliseconds(3000));
    run.result = driver.Run();
    if (run.result.connectionUsable && c.IsOpen()) {
      c.WriteLine("quit");
      server.WaitForConnectionsEnded(1);
    }
    try {
      c.Close();
    } catch (...) {
    }
    server.WaitForConnectionsEnded(1);
    run.commands = server.Commands();
    run.commands.erase(run.commands.begin(), run.commands.begin() + 2);
    if (!run.commands.empty() && run.commands.back() == "quit") run.commands.pop_back();
    run.remaining = server.RemainingMessageNumbers();
    return run;
  }

  // The files in the account folder, by the subject their name carries.
  std::map<std::string, std::string> Copies() const {
    std::map<std::string, std::string> copies;
    if (!fs::exists(folder_)) return copies;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      const std::string name = entry.path().filename().string();
      std::string contents;
      ReadWholeFile(entry.path().string(), contents);
      std::string downloadName;
      copies[ParseKeptFileName(name, nullptr, &downloadName) ? downloadName : name] = contents;
    }
    return copies;
  }

  // What must hold after every run, whatever failed: each "dele n" follows
  // "retr n" and a whole copy of n, which stays; no file is anything but a
  // whole copy; a message counts as deleted only when it is gone, and one
  // whose "dele" never went out is still on the server.
  void ExpectNothingLost(const std::vector<std::string>& messages, const RunOutcome& run) {
    const std::map<std::string, std::string> copies = Copies();
    for (const auto& [name, contents] : copies) {
      ASSERT_EQ(name.rfind("m", 0), 0u) << "a file that is no copy: " << name;
      const int k = std::stoi(name.substr(1));
      EXPECT_EQ(contents, DownloadedBytes(messages[static_cast<size_t>(k - 1)])) << name;
    }
    for (size_t k = 1; k <= messages.size(); ++k) {
      const std::string n = std::to_string(k);
      const auto dele = std::find(run.commands.begin(), run.commands.end(), "dele " + n);
      if (dele == run.commands.end()) {
        EXPECT_EQ(std::count(run.remaining.begin(), run.remaining.end(), static_cast<int>(k)), 1) << n;
        continue;
      }
      EXPECT_NE(std::find(run.commands.begin(), dele, "retr " + n), dele) << "dele " << n << " without its retr";
      EXPECT_TRUE(copies.count("m" + n + ".eml")) << "dele " << n << " without its copy";
    }
    for (const MessageOutcome& m : run.result.messages) {
      if (m.reason != StayReason::None) continue;
      EXPECT_TRUE(fs::exists(m.copyPath)) << m.number;
      EXPECT_EQ(std::count(run.remaining.begin(), run.remaining.end(), m.number), 0) << m.number;
    }
  }

  std::string root_;
  std::string folder_;
};

// ---- the exact dialogue ----

constexpr StayReason kGone = StayReason::None;

Pop3Fault Refuse() {
  Pop3Fault f;
  f.kind = Pop3Fault::Error;
  f.text = "no";
  return f;
}

struct DialogueRow {
  const char* name;
  bool pipelining;
  bool copies;
  std::map<int, Pop3Fault> faults;  // step 3 is the first command after the login
  std::vector<std::string> commands;
  std::vector<StayReason> reasons;  // for the marked 5, 3, 1
};
void PrintTo(const DialogueRow& row, std::ostream* os) { *os << row.name; }

class Dialogue : public KeepFolder, public ::testing::WithParamInterface<DialogueRow> {};

TEST_P(Dialogue, RetrAndCopyBeforeEachDele) {
  const DialogueRow& row = GetParam();
  const std::vector<std::string> messages = {Message(1), Message(2), Message(3, 40), Message(4), Message(5, 0)};
  const RunOutcome run = Delete(messages, {5, 3, 1}, row.pipelining, row.faults, row.copies);
  EXPECT_EQ(run.commands, row.commands);
  ASSERT_EQ(run.result.messages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(run.result.messages[i].reason, row.reasons[i]) << i;
  EXPECT_TRUE(run.result.connectionUsable);
  if (row.copies) ExpectNothingLost(messages, run);
  // Forward to the end: a copy and a "dele" per message.
  const int total = row.copies ? 6 : 3;
  ASSERT_FALSE(run.progress.empty());
  EXPECT_EQ(run.progress.back(), std::make_pair(total, total));
  for (size_t i = 1; i < run.progress.size(); ++i) EXPECT_GT(run.progress[i].first, run.progress[i - 1].first);
  // A copy is kept for exactly the messages whose "dele" went out.
  std::map<std::string, std::string> wanted;
  for (const MessageOutcome& m : run.result.messages) {
    if (row.copies && (m.reason == kGone || m.reason == StayReason::DeleRefused))
      wanted["m" + std::to_string(m.number) + ".eml"] = DownloadedBytes(messages[static_cast<size_t>(m.number - 1)]);
  }
  EXPECT_EQ(Copies(), wanted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Dialogue,
    ::testing::Values(
        DialogueRow{"one_at_a_time", false, true, {},
                    {"retr 5", "dele 5", "retr 3", "dele 3", "retr 1", "dele 1"}, {kGone, kGone, kGone}},
        DialogueRow{"pipelined", true, true, {},
                    {"retr 5", "retr 3", "retr 1", "dele 5", "dele 3", "dele 1"}, {kGone, kGone, kGone}},
        DialogueRow{"refused_retr_one_at_a_time", false, true, {{5, Refuse()}},
                    {"retr 5", "dele 5", "retr 3", "retr 1", "dele 1"},
                    {kGone, StayReason::RetrRefused, kGone}},
        DialogueRow{"refused_retr_pipelined", true, true, {{4, Refuse()}},
                    {"retr 5", "retr 3", "retr 1", "dele 5", "dele 1"},
                    {kGone, StayReason::RetrRefused, kGone}},
        DialogueRow{"refused_dele_keeps_its_copy", false, true, {{4, Refuse()}},
                    {"retr 5", "dele 5", "retr 3", "dele 3", "retr 1", "dele 1"},
                    {StayReason::DeleRefused, kGone, kGone}},
        DialogueRow{"copies_off", false, false, {}, {"dele 5", "dele 3", "dele 1"}, {kGone, kGone, kGone}},
        DialogueRow{"copies_off_pipelined", true, false, {}, {"dele 5", "dele 3", "dele 1"}, {kGone, kGone, kGone}}),
    [](const ::testing::TestParamInfo<DialogueRow>& info) { return std::string(info.param.name); });

// ---- a failure at every step ----

struct FaultRow {
  std::string name;
  bool pipelining;
  int step;
  Pop3Fault::Kind kind;
};
void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class FaultAtEveryStep : public KeepFolder, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultAtEveryStep, LeavesNoPartialCopyAndNoDeleWithoutOne) {
  const FaultRow& row = GetParam();
  // Large enough that a cut reply is cut inside its body.
  const std::vector<std::string> messages = {Message(1, 500), Message(2, 500), Message(3, 500)};
  Pop3Fault fault;
  fault.kind = row.kind;
  fault.text = "no";
  const RunOutcome run = Delete(messages, {3, 2, 1}, row.pipelining, {{row.step, fault}});
  ExpectNothingLost(messages, run);
  const bool lost = row.kind != Pop3Fault::Error;
  EXPECT_EQ(run.result.connectionUsable, !lost);
  if (lost) {
    EXPECT_EQ(run.result.error, "Connection Closed Gracefully.");
    // Nothing was committed: every message is still on the server.
    EXPECT_EQ(run.remaining, (std::vector<int>{1, 2, 3}));
  }
  // At most the message whose reply failed, and those after it, stayed.
  EXPECT_LT(run.result.Deleted().size(), 3u);
}

std::vector<FaultRow> FaultRows() {
  std::vector<FaultRow> rows;
  // Three messages: six commands after the login, steps 3 to 8.
  for (bool pipelining : {false, true}) {
    for (int step = 3; step <= 8; ++step) {
      for (auto [kind, what] : {std::pair{Pop3Fault::Drop, "drop"}, std::pair{Pop3Fault::Truncate, "half"},
                                std::pair{Pop3Fault::Error, "err"}}) {
        rows.push_back({std::string(pipelining ? "pipelined_" : "one_at_a_time_") + what + "_at_" +
                            std::to_string(step),
                        pipelining, step, kind});
      }
    }
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultAtEveryStep, ::testing::ValuesIn(FaultRows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return info.param.name; });

// ---- the folder and the disk ----

TEST_F(KeepFolder, AFolderThatCannotBeMadeAsksNothingOfTheServer) {
  // A file where the folder of copies should be: no folder can be made
  // there, for root either.
  WriteFileAtomic(root_ + "/deleted", "in the way");
  const std::vector<std::string> messages = {Message(1), Message(2)};
  const RunOutcome run = Delete(messages, {2, 1}, true);
  EXPECT_TRUE(run.commands.empty());
  for (const MessageOutcome& m : run.result.messages) EXPECT_EQ(m.reason, StayReason::FolderNotWritable);
  EXPECT_EQ(run.remaining, (std::vector<int>{1, 2}));
}

// A file-size limit fails the large message's copy as a full disk would; run
// in a child process so the limit binds nothing else. The child answers in
// its exit status: 0 when only the large message stayed, for that reason.
TEST_F(KeepFolder, AFullDiskKeepsThatMessageOnTheServer) {
  const std::vector<std::string> messages = {Message(1), Message(2, 5000), Message(3)};
  for (bool pipelining : {false, true}) {
    fs::remove_all(folder_);
    Pop3Mailbox box;
    box.messages = messages;
    ScriptedPop3Server server;
    server.ServeMailbox(box);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      rlimit limit{20000, 20000};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
      TIdTCPClient c;
      test::OpenAndLogIn(c, server.Port());
      CopyThenDelete driver(c, pipelining, folder_, {{3, "m3"}, {2, "m2"}, {1, "m1"}}, {});
      const CopyThenDeleteResult result = driver.Run();
      if (!result.connectionUsable) ::_exit(11);
      c.WriteLine("quit");
      const bool right = result.messages[0].reason == StayReason::None &&
                         result.messages[1].reason == StayReason::DiskFull &&
                         result.messages[2].reason == StayReason::None;
      ::_exit(right ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << (pipelining ? "pipelined" : "one at a time");
    ASSERT_TRUE(server.WaitForConnectionsEnded(1));
    EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{2}));
    const std::vector<std::string> commands = server.Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "dele 2"), 0);
    RunOutcome run;
    run.commands = commands;
    run.remaining = server.RemainingMessageNumbers();
    ExpectNothingLost(messages, run);
    EXPECT_EQ(Copies().size(), 2u);
  }
}

// ---- a cancel ----

TEST_F(KeepFolder, ACancelSendsNoFurtherDeleAndKeepsTheConnectionInStep) {
  std::vector<std::string> messages;
  for (int k = 1; k <= 6; ++k) messages.push_back(Message(k, 200));
  for (bool pipelining : {false, true}) {
    fs::remove_all(folder_);
    Pop3Mailbox box;
    box.messages = messages;
    ScriptedPop3Server server;
    server.ServeMailbox(box);
    TIdTCPClient c;
    test::OpenAndLogIn(c, server.Port());
    CopySteps steps;
    // Cancelled once the second copy is in its place: its "dele" never goes.
    steps.Stop = [&] { return Copies().size() >= 2; };
    CopyThenDelete driver(c, pipelining, folder_, {{6, "m6"}, {5, "m5"}, {4, "m4"}, {3, "m3"}, {2, "m2"}, {1, "m1"}},
                          steps);
    const CopyThenDeleteResult result = driver.Run();
    ASSERT_TRUE(result.connectionUsable);
    // Every reply owed was read: the next command gets its own reply.
    EXPECT_EQ(test::LineClient(c).SendCommand("noop"), 1);
    c.WriteLine("quit");
    ASSERT_TRUE(server.WaitForConnectionsEnded(1));
    // One at a time, "dele 6" went before the second copy was made; with
    // pipelining it may still have been waiting to go, and then it never did.
    const std::vector<int> deleted = result.Deleted();
    if (!pipelining) EXPECT_EQ(deleted, (std::vector<int>{6}));
    EXPECT_LE(deleted.size(), 1u);
    const std::vector<std::string> sent = server.Commands();
    for (int n = 1; n <= 5; ++n) EXPECT_EQ(std::count(sent.begin(), sent.end(), "dele " + std::to_string(n)), 0) << n;
    for (const MessageOutcome& m : result.messages)
      EXPECT_TRUE(m.reason == StayReason::None || m.reason == StayReason::Stopped) << m.number;
    RunOutcome run{result, server.Commands(), server.RemainingMessageNumbers()};
    run.commands.erase(run.commands.begin(), run.commands.begin() + 2);
    ExpectNothingLost(messages, run);
    EXPECT_EQ(Copies().size(), deleted.size());
  }
}

// ---- the message at the end ----

TEST(StayedOnServerText, NamesEachMessageThatStayedAndWhy) {
  CopyThenDeleteResult result;
  result.messages = {{7, "hello", StayReason::None, ""},
                     {4, "big one", StayReason::DiskFull, ""},
                     {2, std::string(100, 'x'), StayReason::RetrRefused, ""}};
  const std::string text = StayedOnServerText(result, true);
  EXPECT_EQ(text.find("hello"), std::string::npos);
  EXPECT_NE(text.find("4"), std::string::npos);
  EXPECT_NE(text.find("big one"), std::string::npos);
  EXPECT_NE(text.find(std::string(60, 'x') + "..."), std::string::npos);
  EXPECT_EQ(text.find(std::string(61, 'x')), std::string::npos);
  result.messages.resize(1);
  EXPECT_EQ(StayedOnServerText(result, true), "");
  // Without "quit" nothing went, whatever the replies said.
  EXPECT_NE(StayedOnServerText(result, false), "");
}

}  // namespace
}  // namespace brevan
