// The demo mailbox's sessions without sockets: several open at once over one
// store, each with its own numbering and marks, deletions applied at QUIT.
#include "demo/demo_pop3_session.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace brevan {
namespace {

const std::vector<std::string> kMessages = {"Subject: one\r\n\r\nbody 1\r\n", "Subject: two\r\n\r\n.dot\r\n",
                                            "Subject: three\r\n\r\nbody 3\r\nmore\r\n"};

// One step of a dialogue: which session speaks, what it sends, and the reply.
struct Exchange {
  int session;
  std::string command;
  std::string reply;
};

struct DialogueRow {
  const char* name;
  std::vector<Exchange> exchanges;
  std::vector<size_t> present;  // the store's messages afterwards
};
void PrintTo(const DialogueRow& r, std::ostream* os) { *os << r.name; }

class DemoSessions : public ::testing::TestWithParam<DialogueRow> {};

TEST_P(DemoSessions, AnswerAsARealServer) {
  DemoMailStore store(kMessages);
  std::vector<DemoPop3Session> sessions;
  for (int i = 0; i < 3; ++i) sessions.emplace_back(store, "demo", "demo");
  for (const Exchange& e : GetParam().exchanges) {
    EXPECT_EQ(sessions[static_cast<size_t>(e.session)].Answer(e.command), e.reply)
        << "session " << e.session << ": " << e.command;
  }
  EXPECT_EQ(store.Present(), GetParam().present);
}

std::vector<Exchange> LogIn(int session) {
  return {{session, "user demo", "+OK\r\n"}, {session, "pass demo", "+OK Logged in.\r\n"}};
}
std::vector<Exchange> operator+(std::vector<Exchange> a, const std::vector<Exchange>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
const std::string kListAll = "+OK 3 messages (78 octets)\r\n1 24\r\n2 22\r\n3 32\r\n.\r\n";

INSTANTIATE_TEST_SUITE_P(
    Rows, DemoSessions,
    ::testing::Values(
        DialogueRow{"two_sessions_list_the_same", LogIn(0) + LogIn(1) + std::vector<Exchange>{{0, "list", kListAll},
                                                                                              {1, "list", kListAll}},
                    {0, 1, 2}},
        DialogueRow{"marks_are_the_sessions_own",
                    LogIn(0) + LogIn(1) +
                        std::vector<Exchange>{{0, "dele 1", "+OK Marked to be deleted.\r\n"},
                                              {0, "list", "+OK 2 messages (54 octets)\r\n2 22\r\n3 32\r\n.\r\n"},
                                              {1, "list", kListAll}},
                    {0, 1, 2}},
        DialogueRow{"deletion_applied_at_quit",
                    LogIn(0) + std::vector<Exchange>{{0, "dele 2", "+OK Marked to be deleted.\r\n"},
                                                     {0, "quit", "+OK bye\r\n"}},
                    {0, 2}},
        DialogueRow{"quit_before_login_deletes_nothing",
                    LogIn(0) + std::vector<Exchange>{{0, "dele 2", "+OK Marked to be deleted.\r\n"},
                                                     {1, "quit", "+OK bye\r\n"}},
                    {0, 1, 2}},
        DialogueRow{"open_session_keeps_its_numbers_after_another_quits",
                    LogIn(0) + LogIn(1) +
                        std::vector<Exchange>{{0, "dele 1", "+OK Marked to be deleted.\r\n"},
                                              {0, "quit", "+OK bye\r\n"},
                                              {1, "list 2", "+OK 2 22\r\n"},
                                              {1, "retr 1", "+OK 24 octets\r\nSubject: one\r\n\r\nbody 1\r\n.\r\n"}},
                    {1, 2}},
        DialogueRow{"later_login_numbers_what_is_left",
                    LogIn(0) + std::vector<Exchange>{{0, "dele 1", "+OK Marked to be deleted.\r\n"},
                                                     {0, "quit", "+OK bye\r\n"}} +
                        LogIn(2) + std::vector<Exchange>{{2, "list", "+OK 2 messages (54 octets)\r\n1 22\r\n2 32\r\n.\r\n"}},
                    {1, 2}},
        DialogueRow{"both_delete_the_same_message",
                    LogIn(0) + LogIn(1) +
                        std::vector<Exchange>{{0, "dele 3", "+OK Marked to be deleted.\r\n"},
                                              {1, "dele 3", "+OK Marked to be deleted.\r\n"},
                                              {0, "quit", "+OK bye\r\n"},
                                              {1, "quit", "+OK bye\r\n"}},
                    {0, 1}},
        DialogueRow{"rset_drops_the_marks",
                    LogIn(0) + std::vector<Exchange>{{0, "dele 1", "+OK Marked to be deleted.\r\n"},
                                                     {0, "rset", "+OK\r\n"},
                                                     {0, "quit", "+OK bye\r\n"}},
                    {0, 1, 2}},
        DialogueRow{"marked_message_is_gone_for_the_session",
                    LogIn(0) + std::vector<Exchange>{{0, "dele 1", "+OK Marked to be deleted.\r\n"},
                                                     {0, "retr 1", "-ERR There's no message 1.\r\n"},
                                                     {0, "top 1 0", "-ERR There's no message 1.\r\n"}},
                    {0, 1, 2}},
        DialogueRow{"top_and_dot_stuffing",
                    LogIn(0) + std::vector<Exchange>{{0, "top 2 0", "+OK\r\nSubject: two\r\n\r\n.\r\n"},
                                                     {0, "top 2 5", "+OK\r\nSubject: two\r\n\r\n..dot\r\n.\r\n"},
                                                     {0, "top 3 1", "+OK\r\nSubject: three\r\n\r\nbody 3\r\n.\r\n"}},
                    {0, 1, 2}},
        DialogueRow{"wrong_password_and_commands_before_login",
                    std::vector<Exchange>{{0, "list", "-ERR Log in first.\r\n"},
                                          {0, "user demo", "+OK\r\n"},
                                          {0, "pass nope", "-ERR [AUTH] Authentication failed.\r\n"},
                                          {0, "pass demo", "-ERR [AUTH] Authentication failed.\r\n"}},
                    {0, 1, 2}},
        DialogueRow{"bad_numbers",
                    LogIn(0) + std::vector<Exchange>{{0, "retr 0", "-ERR There's no message 0.\r\n"},
                                                     {0, "retr 4", "-ERR There's no message 4.\r\n"},
                                                     {0, "dele x", "-ERR There's no message x.\r\n"},
                                                     {0, "top 1", "-ERR Invalid arguments.\r\n"},
                                                     {0, "stat", "+OK 3 78\r\n"}},
                    {0, 1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
