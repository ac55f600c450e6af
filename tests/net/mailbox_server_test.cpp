// The mailbox mode of the scripted POP3 server, driven through the line
// connection: the other suites rely on it behaving like a real server.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::Pop3Fault;
using test::Pop3Mailbox;
using test::ScriptedPop3Server;

Pop3Mailbox TwoMessages() {
  Pop3Mailbox box;
  box.user = "bob";
  box.password = "secret";
  box.messages = {
      "From: a@example.com\nSubject: first\n\nline 1\n.dotted\nline 3\n",
      "From: b@example.com\r\nSubject: second\r\n\r\nonly line",
  };
  return box;
}

class MailboxSession : public ::testing::Test {
 protected:
  void Connect(ScriptedPop3Server& server) {
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.Open();
    greeting = lineClient.ReadLine();
  }
  void Login() {
    ASSERT_EQ(lineClient.SendCommand("user bob"), 1);
    ASSERT_EQ(lineClient.SendCommand("pass secret"), 1) << lineClient.LastReply();
  }
  std::vector<std::string> Capture(const std::string& command) {
    std::vector<std::string> lines;
    EXPECT_EQ(lineClient.SendCommand(command), 1) << lineClient.LastReply();
    lineClient.CaptureLines(lines);
    return lines;
  }
  TIdTCPClient c;
  test::LineClient lineClient{c};
  std::string greeting;
};

TEST_F(MailboxSession, ListTopRetrWithDotStuffingAndSizesInCrLf) {
  ScriptedPop3Server server;
  server.ServeMailbox(TwoMessages());
  Connect(server);
  EXPECT_EQ(greeting, "+OK POP3 test server ready.");
  Login();
  // First message: 8 lines of which 7 end in bare LF, taken as CR LF.
  const size_t first = std::string("From: a@example.com\r\nSubject: first\r\n\r\nline 1\r\n.dotted\r\nline 3\r\n").size();
  const size_t second = std::string("From: b@example.com\r\nSubject: second\r\n\r\nonly line\r\n").size();
  EXPECT_EQ(Capture("list"), (std::vector<std::string>{"1 " + std::to_string(first), "2 " + std::to_string(second)}));
  EXPECT_EQ(Capture("top 1 0"), (std::vector<std::string>{"From: a@example.com", "Subject: first", ""}));
  EXPECT_EQ(Capture("top 1 2"), (std::vector<std::string>{"From: a@example.com", "Subject: first", "", "line 1", "..dotted"}));
  EXPECT_EQ(Capture("retr 1"),
            (std::vector<std::string>{"From: a@example.com", "Subject: first", "", "line 1", "..dotted", "line 3"}));
  EXPECT_EQ(lineClient.SendCommand("retr 3"), 0);
  EXPECT_EQ(lineClient.SendCommand("list 2"), 1);
  EXPECT_EQ(lineClient.LastReply(), "+OK 2 " + std::to_string(second));
  c.Close();
}

TEST_F(MailboxSession, BadPasswordIsRefused) {
  ScriptedPop3Server server;
  server.ServeMailbox(TwoMessages());
  Connect(server);
  EXPECT_EQ(lineClient.SendCommand("user bob"), 1);
  EXPECT_EQ(lineClient.SendCommand("pass wrong"), 0);
  EXPECT_EQ(lineClient.LastReply().substr(0, 4), "-ERR");
  EXPECT_EQ(lineClient.SendCommand("list"), 0);  // still not logged in
  c.Close();
}

TEST_F(MailboxSession, DeletionsCommitOnlyAtQuit) {
  ScriptedPop3Server server;
  server.ServeMailbox(TwoMessages());
  Connect(server);
  Login();
  EXPECT_EQ(lineClient.SendCommand("dele 2"), 1);
  EXPECT_EQ(lineClient.SendCommand("dele 2"), 0);  // already marked
  EXPECT_EQ(lineClient.SendCommand("rset"), 1);
  EXPECT_EQ(lineClient.SendCommand("dele 1"), 1);
  EXPECT_EQ(Capture("list").size(), 1u);
  c.Close();  // dropped without QUIT: nothing is deleted
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{1, 2}));

  Connect(server);
  Login();
  EXPECT_EQ(lineClient.SendCommand("dele 1"), 1);
  EXPECT_EQ(lineClient.SendCommand("quit"), 1);
  ASSERT_TRUE(server.WaitForConnectionsEnded(2));
  EXPECT_EQ(server.RemainingMessageNumbers(), (std::vector<int>{2}));
  EXPECT_THROW(lineClient.ReadLine(), NetError);
  c.Close();

  // The next session numbers the messages left from 1.
  Connect(server);
  Login();
  EXPECT_EQ(Capture("top 1 0")[1], "Subject: second");
  c.Close();
  EXPECT_EQ(server.Commands().front(), "user bob");
}

struct FaultRow {
  const char* name;
  Pop3Fault fault;
  bool connectionSurvives;
  std::string expectedReply;  // of the faulted "list" (step 3), when it survives
};

void PrintTo(const FaultRow& row, std::ostream* os) { *os << row.name; }

class MailboxFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(MailboxFault, AtTheListStep) {
  const FaultRow& row = GetParam();
  ScriptedPop3Server server;
  server.ServeMailbox(TwoMessages());
  server.InjectFault(3, row.fault);
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  int disconnects = 0;
  c.OnDisconnected = [&] { ++disconnects; };
  c.Open();
  test::LineClient lineClient(c);
  lineClient.ReadLine();
  lineClient.SendCommand("user bob");
  lineClient.SendCommand("pass secret");
  if (row.connectionSurvives) {
    lineClient.SendCommand("list");
    EXPECT_EQ(lineClient.LastReply(), row.expectedReply);
  } else {
    EXPECT_THROW(
        {
          lineClient.SendCommand("list");
          std::vector<std::string> lines;
          lineClient.CaptureLines(lines);
        },
        NetError);
  }
  c.Close();
  EXPECT_EQ(disconnects, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MailboxFault,
    ::testing::Values(FaultRow{"drop", {Pop3Fault::Drop}, false, ""},
                      FaultRow{"reset", {Pop3Fault::Reset}, false, ""},
                      FaultRow{"truncate", {Pop3Fault::Truncate}, false, ""},
                      FaultRow{"error", {Pop3Fault::Error, 0, "busy"}, true, "-ERR busy"},
                      FaultRow{"delay", {Pop3Fault::Delay, 300}, true, "+OK 2 messages (115 octets)"},
                      FaultRow{"replace", {Pop3Fault::Replace, 0, "+OK odd\r\n.\r\n"}, true, "+OK odd"}),
    [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
