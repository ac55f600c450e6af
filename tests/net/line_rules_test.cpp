// How lines are cut from what the server sends, whatever way the bytes are
// split across receives: the line client on the connection's byte interface,
// taking its pieces and putting back what lies past each line.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;

struct Row {
  const char* name;
  std::string wire;  // everything the server sends
  std::vector<std::string> expected;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const Row kRows[] = {
    {"crlf_and_lf", "one\r\ntwo\nthree\r\n", {"one", "two", "three"}},
    {"cr_cr_lf_keeps_one_cr", "one\r\r\n", {"one\r"}},
    {"lone_cr_is_not_a_line_end", "a\rb\n", {"a\rb"}},
    {"readline_keeps_blanks", "  padded \t\r\n\r\n", {"  padded \t", ""}},
    {"nul_byte_kept", std::string("a\0b\r\n", 5), {std::string("a\0b", 3)}},
    // Taken in several pieces, the bytes past its end put back after the last.
    {"line_longer_than_a_piece", std::string(400, 'x') + "\r\nnext\r\n", {std::string(400, 'x'), "next"}},
};

class LineRules : public ::testing::TestWithParam<Row> {
 protected:
  // Reads the row's lines from a server that sends the wire bytes as the
  // given script says, and checks what came back.
  void Check(ScriptedPop3Server& server, const std::string& how) {
    const Row& row = GetParam();
    SCOPED_TRACE(how);
    TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.Open();
    test::LineClient lineClient(c);
    std::vector<std::string> got;
    for (size_t i = 0; i < row.expected.size(); ++i) got.push_back(lineClient.ReadLine(InfiniteWait));
    EXPECT_EQ(got, row.expected);
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
