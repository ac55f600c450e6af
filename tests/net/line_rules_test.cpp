// How lines and replies are cut from what the server sends, whatever way
// the bytes are split across receives.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;

enum class Action { ReadLines, SendCommand, Capture, CaptureUnstuffed };

struct Row {
  const char* name;
  std::string wire;  // everything the server sends
  Action action;
  int count;  // ReadLines: how many lines
  std::vector<std::string> expected;
  int code = 0;  // SendCommand's result
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kRows[] = {
    {"crlf_and_lf", "one\r\ntwo\nthree\r\n", Action::ReadLines, 3, {"one", "two", "three"}},
    {"cr_cr_lf_keeps_one_cr", "one\r\r\n", Action::ReadLines, 1, {"one\r"}},
    {"lone_cr_is_not_a_line_end", "a\rb\n", Action::ReadLines, 1, {"a\rb"}},
    {"readline_keeps_blanks", "  padded \t\r\n\r\n", Action::ReadLines, 2, {"  padded \t", ""}},
    {"nul_byte_kept", std::string("a\0b\r\n", 5), Action::ReadLines, 1, {std::string("a\0b", 3)}},
    {"blank_lines_before_reply", "\r\n\r\n+OK\r\n", Action::SendCommand, 0, {"+OK"}, 1},
    {"reply_trimmed_inner_blanks_kept", " \t+OK  two  words \r\n", Action::SendCommand, 0, {"+OK  two  words"}, 1},
    {"ok_any_case", "+ok fine\r\n", Action::SendCommand, 0, {"+ok fine"}, 1},
    {"err_is_not_an_error", "-ERR no such message\r\n", Action::SendCommand, 0, {"-ERR no such message"}, 0},
    {"numeric_multi_line", "250-first\r\nsecond line\r\n250 last\r\n", Action::SendCommand, 0,
     {"250-first", "second line", "250 last"}, 250},
    {"multi_line_end_prefix_any_case", "abc-x\r\nABC done\r\n", Action::SendCommand, 0, {"abc-x", "ABC done"}, 0},
    {"multi_line_ends_at_short_line", "250-first\r\nok\r\n250 never\r\n", Action::SendCommand, 0, {"250-first", "ok"}, 0},
    {"multi_line_skips_blank_lines", "250-a\r\n\r\n250 b\r\n", Action::SendCommand, 0, {"250-a", "250 b"}, 250},
    {"non_numeric_code", "hello there\r\n", Action::SendCommand, 0, {"hello there"}, 0},
    {"capture_stops_at_dot_keeps_stuffing", "a\r\n..b\r\n. \r\n\r\n.\r\nafter\r\n", Action::Capture, 0,
     {"a", "..b", ". ", ""}},
    {"capture_unstuffed", "..a\r\n...\r\n.\r\n", Action::CaptureUnstuffed, 0, {".a", ".."}},
};

class LineRules : public ::testing::TestWithParam<Row> {
 protected:
  // Runs the row's action against a server that sends the wire bytes as
  // the given script says, and checks what came back.
  void Check(ScriptedPop3Server& server, const std::string& how) {
    const Row& row = GetParam();
    SCOPED_TRACE(how);
    TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.Open();
    std::vector<std::string> got;
    int code = 0;
    switch (row.action) {
      case Action::ReadLines:
        for (int i = 0; i < row.count; ++i) got.push_back(c.ReadLine(InfiniteWait));
        break;
      case Action::SendCommand:
        code = c.SendCommand("noop");
        got = c.ReplyLines;
        EXPECT_EQ(c.LastReply(), got.back());
        break;
      case Action::Capture:
      case Action::CaptureUnstuffed:
        c.CaptureLines(got, ".", row.action == Action::CaptureUnstuffed);
        break;
    }
    EXPECT_EQ(got, row.expected);
    EXPECT_EQ(code, row.code);
    c.Close();
  }
};

TEST_P(LineRules, AllAtOnce) {
  ScriptedPop3Server server;
  server.Send(GetParam().wire).AwaitClientClose();
  Check(server, "whole");
}

TEST_P(LineRules, OneBytePerReceive) {
  ScriptedPop3Server server;
  server.SendSplit(GetParam().wire, 1, 2).AwaitClientClose();
  Check(server, "bytewise");
}

TEST_P(LineRules, SplitAtEveryPosition) {
  const std::string& wire = GetParam().wire;
  for (size_t k = 1; k < wire.size(); ++k) {
    ScriptedPop3Server server;
    server.Send(wire.substr(0, k)).Delay(5).Send(wire.substr(k)).AwaitClientClose();
    Check(server, "split at " + std::to_string(k));
  }
}

INSTANTIATE_TEST_SUITE_P(Wire, LineRules, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
