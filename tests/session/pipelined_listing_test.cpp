// The listing's dialogue without a window, against the scripted server: the
// CAPA question, replies taken in order however they arrive, the same rows
// with and without pipelining, a failure at every step, and a listing ended
// from outside with replies still owed.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "session/pipelined_listing.h"
#include "capa_question.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using testing_support::AskPipelining;
using test::Pop3Fault;
using test::Pop3Mailbox;
using test::ScriptedPop3Server;
using Clock = std::chrono::steady_clock;

// ---- CAPA ----

struct CapaRow {
  const char* name;
  std::string reply;  // the server's whole answer to "capa"
  size_t piece;       // sent in pieces of this many bytes (0: at once)
  bool pipelining;
};
void PrintTo(const CapaRow& row, std::ostream* os) { *os << row.name; }

class Capa : public ::testing::TestWithParam<CapaRow> {};

TEST_P(Capa, TellsPipeliningAndLeavesTheDialogueInStep) {
  const CapaRow& row = GetParam();
  ScriptedPop3Server server;
  server.AwaitCommand();
  if (row.piece) {
    server.SendSplit(row.reply, row.piece, 0);
  } else {
    server.Send(row.reply);
  }
  server.AwaitCommand().SendLine("+OK noop");
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  EXPECT_EQ(AskPipelining(c), row.pipelining);
  // Every line of the CAPA answer was read: the next reply is the NOOP's.
  test::LineClient lineClient(c);
  lineClient.SendCommand("noop");
  EXPECT_EQ(lineClient.LastReply(), "+OK noop");
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"capa", "noop"}));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Capa,
    ::testing::Values(
        CapaRow{"no_capa_command", "-ERR Unknown command.\r\n", 0, false},
        CapaRow{"offers_pipelining", "+OK Capability list follows\r\nTOP\r\nUSER\r\nPIPELINING\r\nUIDL\r\n.\r\n", 0,
                true},
        CapaRow{"without_pipelining", "+OK\r\nTOP\r\nUSER\r\nSASL PLAIN\r\n.\r\n", 0, false},
        CapaRow{"tag_in_small_letters", "+OK\r\npipelining\r\n.\r\n", 0, true},
        CapaRow{"another_tag_that_starts_alike", "+OK\r\nPIPELININGX\r\nX-PIPELINING\r\n.\r\n", 0, false},
        CapaRow{"only_a_parameter_of_another_tag", "+OK\r\nIMPLEMENTATION PIPELINING\r\n.\r\n", 0, false},
        CapaRow{"small_ok_is_no_but_its_lines_are_read", "+ok\r\nPIPELINING\r\n.\r\n", 0, false},
        CapaRow{"one_byte_at_a_time", "+OK\r\nTOP\r\nPIPELINING\r\n.\r\n", 1, true}),
    [](const ::testing::TestParamInfo<CapaRow>& info) { return std::string(info.param.name); });

// ---- running a listing ----

// What one listing reported, in a form that compares whole.
struct Taken {
  int number;
  std::string sender, subject, date;
  bool junk;
  bool operator==(const Taken&) const = default;
};

struct Outcome {
  std::vector<std::string> listLines;
  std::vector<int> started;
  std::vector<Taken> taken;
  std::string error;  // the transport failure's text
  std::optional<PipelinedListing::End> end;
  bool operator==(const Outcome&) const = default;
};
void PrintTo(const Outcome& o, std::ostream* os) {
  *os << o.listLines.size() << " LIST lines, " << o.started.size() << " started, " << o.taken.size()
      << " taken, error '" << o.error << "'";
}

const std::vector<std::string> kRules = {"lottery", "[!]lottery ticket"};

// Runs one listing on a connection the caller opened. onEvents runs each
// time the listing lets the window handle events; a listing that has not
// ended within 20 s stops there, so a dialogue stuck on both ends fails
// instead of hanging.
Outcome RunListing(TIdTCPClient& c, bool pipelining,
                   const std::function<void(PipelinedListing&, Outcome&)>& onEvents = {}) {
  Outcome out;
  const auto giveUp = Clock::now() + std::chrono::seconds(20);
  PipelinedListing* self = nullptr;
  ListingSteps steps;
  steps.Listed = [&](const std::vector<std::string>& lines) { out.listLines = lines; };
  steps.MessageStarted = [&](int number) { out.started.push_back(number); };
  steps.HeadersTaken = [&](int number, const ListedHeaders& h) {
    out.taken.push_back({number, h.Sender, h.Subject, h.Date, h.Junk});
  };
  steps.ProcessEvents = [&] {
    if (onEvents) onEvents(*self, out);
  };
  steps.Stop = [&] { return Clock::now() > giveUp; };
  PipelinedListing listing(c, pipelining, kRules, steps);
  self = &listing;
  try {
    out.end = listing.Run();
  } catch (const NetError& e) {
    out.error = e.what();
  }
  return out;
}

void OpenAndLogIn(TIdTCPClient& c, int port) {
  c.Host = "127.0.0.1";
  c.Port = port;
  c.Open();
  test::LineClient lineClient(c);
  lineClient.ReadLine();
  ASSERT_EQ(lineClient.SendCommand("user user"), 1);
  ASSERT_EQ(lineClient.SendCommand("pass password"), 1);
}

Outcome ListMailbox(const Pop3Mailbox& box, bool pipelining, const std::vector<std::pair<int, Pop3Fault>>& faults,
                    std::vector<std::string>* commands = nullptr) {
  ScriptedPop3Server server;
  server.ServeMailbox(box);
  for (const auto& [step, fault] : faults) server.InjectFault(step, fault);
  TIdTCPClient c;
  OpenAndLogIn(c, server.Port());
  Outcome out = RunListing(c, pipelining);
  if (commands) *commands = server.Commands();
  return out;
}

std::string Message(int i) {
  const std::string subject = i % 5 == 0 ? "win the lottery " + std::to_string(i) : "hello " + std::to_string(i);
  return "From: sender" + std::to_string(i) + " <s" + std::to_string(i) + "@example.com>\r\nSubject: " + subject +
         "\r\nDate: Tue, 8 Dec 2026 04:00:00 +0000\r\n\r\nbody " + std::to_string(i) + "\r\n";
}

std::vector<std::string> Messages(int count) {
  std::vector<std::string> messages;
  for (int i = 1; i <= count; ++i) messages.push_back(Message(i));
  return messages;
}

// Steps of a mailbox connection: 0 the greeting, 1 USER, 2 PASS, 3 LIST, 3+k TOP k.
constexpr int kListStep = 3;

struct ParityRow {
  const char* name;
  std::vector<std::string> messages;
  std::vector<std::pair<int, Pop3Fault>> faults;
};
void PrintTo(const ParityRow& row, std::ostream* os) { *os << row.name; }

class SameRowsEitherWay : public ::testing::TestWithParam<ParityRow> {};

TEST_P(SameRowsEitherWay, PipelinedAsSequential) {
  const ParityRow& row = GetParam();
  Pop3Mailbox box;
  box.messages = row.messages;
  std::vector<std::string> sentPipelined, sentSequential;
  const Outcome pipelined = ListMailbox(box, true, row.faults, &sentPipelined);
  const Outcome sequential = ListMailbox(box, false, row.faults, &sentSequential);
  EXPECT_EQ(pipelined, sequential);
  EXPECT_EQ(pipelined.end, PipelinedListing::End::Complete);
  EXPECT_EQ(pipelined.error, "");

  // The same commands in the same order: "list", then one TOP per message.
  std::vector<std::string> wanted = {"user user", "pass password", "list"};
  for (size_t k = 1; k <= row.messages.size(); ++k) wanted.push_back("top " + std::to_string(k) + " 0");
  EXPECT_EQ(sentPipelined, wanted);
  EXPECT_EQ(sentSequential, wanted);

  // Every message started once, in order; a refused TOP reports no headers.
  ASSERT_EQ(pipelined.started.size(), row.messages.size());
  for (size_t k = 0; k < pipelined.started.size(); ++k) EXPECT_EQ(pipelined.started[k], static_cast<int>(k + 1));
  size_t refused = 0;
  for (const auto& [step, fault] : row.faults) refused += step > kListStep && fault.kind == Pop3Fault::Error;
  EXPECT_EQ(pipelined.taken.size(), row.messages.size() - refused);
}

Pop3Fault Refusal() {
  Pop3Fault f;
  f.kind = Pop3Fault::Error;
  f.text = "no such message";
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SameRowsEitherWay,
    ::testing::Values(
        ParityRow{"empty_mailbox", {}, {}},
        ParityRow{"five_messages", Messages(5), {}},
        ParityRow{"refused_top_in_the_middle", Messages(5), {{kListStep + 3, Refusal()}}},
        ParityRow{"refused_first_and_last_top", Messages(4), {{kListStep + 1, Refusal()}, {kListStep + 4, Refusal()}}},
        ParityRow{"header_rules",
                  {"FROM: CAPS\r\nsubject:xfolded lottery\r\n second line\r\nDATE:\r\nX-Subject: no\r\n\r\nbody\r\n",
                   "Subject: lottery win\r\nSubject: harmless\r\n\r\n", "Subject: lottery ticket\r\n\r\n",
                   "Subject: ..dotted\r\n..leading dot line\r\n\r\n.\r\n"},
                  {}},
        // More commands than the window holds: the window refills as replies come.
        ParityRow{"more_than_one_window", Messages(2500), {}}),
    [](const ::testing::TestParamInfo<ParityRow>& info) { return std::string(info.param.name); });

// ---- a connection lost at every step ----

struct DropRow {
  std::string name;
  int step;
  Pop3Fault::Kind kind;
};
void PrintTo(const DropRow& row, std::ostream* os) { *os << row.name; }

class LostAtEveryStep : public ::testing::TestWithParam<DropRow> {};

constexpr int kDropMessages = 4;

TEST_P(LostAtEveryStep, KeepsWhatCameAndFailsAsSequential) {
  const DropRow& row = GetParam();
  Pop3Mailbox box;
  box.messages = Messages(kDropMessages);
  Pop3Fault fault;
  fault.kind = row.kind;
  const Outcome pipelined = ListMailbox(box, true, {{row.step, fault}});
  const Outcome sequential = ListMailbox(box, false, {{row.step, fault}});
  EXPECT_EQ(pipelined, sequential);
  EXPECT_EQ(pipelined.error, "Connection Closed Gracefully.");
  EXPECT_FALSE(pipelined.end.has_value());
  // The message whose reply was lost has started (its row stands with number
  // and size); every one before it was taken whole.
  const int lost = row.step - kListStep;  // 0: the LIST reply
  EXPECT_EQ(pipelined.started.size(), static_cast<size_t>(lost));
  EXPECT_EQ(pipelined.taken.size(), static_cast<size_t>(lost > 0 ? lost - 1 : 0));
  EXPECT_EQ(pipelined.listLines.size(), lost > 0 ? static_cast<size_t>(kDropMessages) : 0u);
}

std::vector<DropRow> DropRows() {
  std::vector<DropRow> rows;
  for (int step = kListStep; step <= kListStep + kDropMessages; ++step) {
    const std::string what = step == kListStep ? "list" : "top_" + std::to_string(step - kListStep);
    rows.push_back({"drop_at_" + what, step, Pop3Fault::Drop});
    rows.push_back({"half_then_drop_at_" + what, step, Pop3Fault::Truncate});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Steps, LostAtEveryStep, ::testing::ValuesIn(DropRows()),
                         [](const ::testing::TestParamInfo<DropRow>& info) { return info.param.name; });

// ---- replies held back and released in pieces ----

constexpr int kHeld = 30;

// The LIST reply and every TOP reply of kHeld messages, TOP 7 refused.
std::string ListReply() {
  std::string reply = "+OK\r\n";
  for (int k = 1; k <= kHeld; ++k) reply += std::to_string(k) + " " + std::to_string(100 + k) + "\r\n";
  return reply + ".\r\n";
}
std::string TopReplies() {
  std::string replies;
  for (int k = 1; k <= kHeld; ++k) {
    if (k == 7) {
      replies += "-ERR no such message\r\n";
      continue;
    }
    std::string headers = Message(k);
    headers.erase(headers.find("\r\n\r\n") + 2);
    replies += "+OK\r\n" + headers + ".\r\n";
  }
  return replies;
}

struct HeldRow {
  const char* name;
  size_t piece;  // 0: one burst
  int delayMs;
};
void PrintTo(const HeldRow& row, std::ostream* os) { *os << row.name; }

class HeldBack : public ::testing::TestWithParam<HeldRow> {};

TEST_P(HeldBack, EveryCommandGoesBeforeAnyReplyAndRepliesAreTakenInOrder) {
  const HeldRow& row = GetParam();
  // What the sequential listing makes of the same replies, one at a time.
  ScriptedPop3Server reference;
  reference.AwaitCommand().Send(ListReply());
  {
    const std::string all = TopReplies();
    size_t at = 0;
    for (int k = 1; k <= kHeld; ++k) {
      const size_t end = k == 7 ? all.find("\r\n", at) + 2 : all.find("\r\n.\r\n", at) + 5;
      reference.AwaitCommand().Send(all.substr(at, end - at));
      at = end;
    }
  }
  TIdTCPClient r;
  r.Host = "127.0.0.1";
  r.Port = reference.Port();
  r.Open();
  const Outcome expected = RunListing(r, false);
  ASSERT_EQ(expected.end, PipelinedListing::End::Complete);
  ASSERT_EQ(expected.taken.size(), static_cast<size_t>(kHeld - 1));

  // The server answers nothing until every TOP has come: a client that
  // waited for each reply would wait for ever (and give up after 20 s).
  ScriptedPop3Server server;
  server.AwaitCommand().Send(ListReply()).AwaitCommands(1 + kHeld);
  if (row.piece) {
    server.SendSplit(TopReplies(), row.piece, row.delayMs);
  } else {
    server.Send(TopReplies());
  }
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  const Outcome got = RunListing(c, true);
  EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, HeldBack,
                         ::testing::Values(HeldRow{"one_burst", 0, 0}, HeldRow{"one_byte_at_a_time", 1, 0},
                                           HeldRow{"pieces_of_7_bytes_apart", 7, 1},
                                           HeldRow{"pieces_of_1000_bytes", 1000, 5}),
                         [](const ::testing::TestParamInfo<HeldRow>& info) { return std::string(info.param.name); });

TEST(PipelineWindow, CommandsOutstandingStayWithinTheWindowBytes) {
  constexpr int kMany = 3000;
  std::string list = "+OK\r\n";
  for (int k = 1; k <= kMany; ++k) list += std::to_string(k) + " 10\r\n";
  list += ".\r\n";
  ScriptedPop3Server server;
  // The server holds every reply back for a while: what has come meanwhile
  // is all the client sends without an answer.
  server.AwaitCommand().Send(list).Delay(400);
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  std::vector<std::string> seen;
  size_t outstanding = 0;
  Outcome out = RunListing(c, true, [&](PipelinedListing&, Outcome&) {
    if (!seen.empty() || !server.WaitForScriptDone(0)) return;
    seen = server.Commands();
    std::string replies;
    for (int k = 1; k <= kMany; ++k) replies += "+OK\r\nSubject: s\r\n.\r\n";
    server.Send(replies);
  });
  EXPECT_EQ(out.end, PipelinedListing::End::Complete);
  EXPECT_EQ(out.taken.size(), static_cast<size_t>(kMany));
  ASSERT_FALSE(seen.empty());
  for (size_t i = 1; i < seen.size(); ++i) outstanding += seen[i].size() + 2;
  EXPECT_LE(outstanding, kPipelineWindowBytes);
  // Yet enough to list a few thousand messages in a handful of round trips.
  EXPECT_GT(seen.size(), 1000u);
}

// ---- ended from outside ----

TEST(FinishedListing, ReadsEveryOwedReplyBeforeTheNextCommand) {
  for (const bool pipelining : {true, false}) {
    SCOPED_TRACE(pipelining ? "pipelined" : "sequential");
    Pop3Mailbox box;
    box.messages = Messages(6);
    ScriptedPop3Server server;
    server.ServeMailbox(box);
    Pop3Fault slow;
    slow.kind = Pop3Fault::Delay;
    slow.delayMs = 300;
    server.InjectFault(kListStep + 3, slow);  // TOP 3 is still owed when the disconnect comes
    TIdTCPClient c;
    OpenAndLogIn(c, server.Port());
    bool called = false;
    std::optional<bool> finished;
    std::string deleReply;
    size_t takenAtFinish = 0;
    size_t owedAfter = 99;
    const Outcome out = RunListing(c, pipelining, [&](PipelinedListing& listing, Outcome& so) {
      if (called || so.taken.size() < 2) return;
      called = true;  // the drain below lets events run again
      // What a disconnect does from inside the listing's events.
      takenAtFinish = so.taken.size();
      finished = listing.Finish(Clock::now() + std::chrono::seconds(5));
      owedAfter = listing.Owed();
      test::LineClient lineClient(c);
      lineClient.SendCommand("dele 5");
      deleReply = lineClient.LastReply();
    });
    ASSERT_TRUE(finished.has_value());
    EXPECT_TRUE(*finished);
    EXPECT_EQ(owedAfter, 0u);
    EXPECT_EQ(out.end, PipelinedListing::End::Finished);
    EXPECT_EQ(out.error, "");
    // The DELE got its own reply, not a TOP reply.
    EXPECT_EQ(deleReply, "+OK Marked to be deleted.");
    EXPECT_EQ(out.taken.size(), takenAtFinish) << "nothing is listed after the end";
    std::vector<std::string> wanted = {"user user", "pass password", "list"};
    const int lastTop = pipelining ? 6 : 3;  // without pipelining only TOP 3 was out
    for (int k = 1; k <= lastTop; ++k) wanted.push_back("top " + std::to_string(k) + " 0");
    wanted.push_back("dele 5");
    EXPECT_EQ(server.Commands(), wanted);
  }
}

struct FinishFailRow {
  const char* name;
  bool closeMeanwhile;  // the server hangs up with replies owed
  int deadlineMs;
};
void PrintTo(const FinishFailRow& row, std::ostream* os) { *os << row.name; }

class FinishFails : public ::testing::TestWithParam<FinishFailRow> {};

TEST_P(FinishFails, WhenTheOwedRepliesCannotBeRead) {
  const FinishFailRow& row = GetParam();
  std::string list = "+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n";
  ScriptedPop3Server server;
  server.AwaitCommand().Send(list).AwaitCommands(4).Send("+OK\r\nSubject: one\r\n.\r\n").Delay(300);
  if (row.closeMeanwhile) {
    server.CloseConnection();
  } else {
    server.Delay(3000).Send("+OK\r\n.\r\n+OK\r\n.\r\n");
  }
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  std::optional<bool> finished;
  const Outcome out = RunListing(c, true, [&](PipelinedListing& listing, Outcome& so) {
    if (finished || so.taken.empty()) return;
    finished = listing.Finish(Clock::now() + std::chrono::milliseconds(row.deadlineMs));
  });
  ASSERT_TRUE(finished.has_value());
  EXPECT_FALSE(*finished);
  EXPECT_EQ(out.end, PipelinedListing::End::Finished);
  EXPECT_EQ(out.taken.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rows, FinishFails,
                         ::testing::Values(FinishFailRow{"server_hangs_up", true, 5000},
                                           FinishFailRow{"deadline_passes", false, 500}),
                         [](const ::testing::TestParamInfo<FinishFailRow>& info) {
                           return std::string(info.param.name);
                         });

TEST(FinishedListing, ASecondFinishFromInsideTheFirstGivesUp) {
  ScriptedPop3Server server;
  server.AwaitCommand().Send("+OK\r\n1 10\r\n2 10\r\n.\r\n").AwaitCommands(3);
  server.Send("+OK\r\nSubject: one\r\n.\r\n").Delay(200).Send("+OK\r\n.\r\n");
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  std::optional<bool> outer, inner;
  PipelinedListing* running = nullptr;
  const Outcome out = RunListing(c, true, [&](PipelinedListing& listing, Outcome& so) {
    running = &listing;
    if (so.taken.empty()) return;
    if (!outer) {
      outer = false;
      outer = listing.Finish(Clock::now() + std::chrono::seconds(5));
    } else if (!inner) {
      inner = running->Finish(Clock::now() + std::chrono::seconds(5));
    }
  });
  ASSERT_TRUE(inner.has_value());
  EXPECT_FALSE(*inner);
  EXPECT_TRUE(*outer) << "the first drain goes on while the connection stays";
  EXPECT_EQ(out.end, PipelinedListing::End::Finished);
}

// ---- the window keeps its events while the server is slow ----

TEST(ListingEvents, RunWhileASlowReplyIsAwaited) {
  for (const bool pipelining : {true, false}) {
    SCOPED_TRACE(pipelining ? "pipelined" : "sequential");
    Pop3Mailbox box;
    box.messages = Messages(3);
    ScriptedPop3Server server;
    server.ServeMailbox(box);
    Pop3Fault slow;
    slow.kind = Pop3Fault::Delay;
    slow.delayMs = 600;
    server.InjectFault(kListStep + 2, slow);
    TIdTCPClient c;
    OpenAndLogIn(c, server.Port());
    int rounds = 0;
    const Outcome out = RunListing(c, pipelining, [&](PipelinedListing&, Outcome& so) {
      if (so.taken.size() == 1) ++rounds;
    });
    EXPECT_EQ(out.end, PipelinedListing::End::Complete);
    // At least one round for every 250 ms of the wait for reply 2.
    EXPECT_GE(rounds, 2);
  }
}

TEST(ListingEvents, RunInBatchesNotAfterEveryMessage) {
  constexpr int kMany = 2000;
  Pop3Mailbox box;
  box.messages = Messages(kMany);
  ScriptedPop3Server server;
  server.ServeMailbox(box);
  TIdTCPClient c;
  OpenAndLogIn(c, server.Port());
  int rounds = 0;
  const Outcome out = RunListing(c, true, [&](PipelinedListing&, Outcome&) { ++rounds; });
  ASSERT_EQ(out.taken.size(), static_cast<size_t>(kMany));
  // Every round lets the window repaint its list; one a message is what made
  // a shown window list fifty times slower. Rounds come every 30 ms of work,
  // so twenty would mean 0.6 s for what takes a few dozen milliseconds.
  EXPECT_LT(rounds, kMany / 100);
}

// ---- across a delaying proxy, as across the internet ----

struct ProxyRow {
  const char* name;
  bool hidePipelining;
};
void PrintTo(const ProxyRow& row, std::ostream* os) { *os << row.name; }

class ThroughDelayProxy : public ::testing::TestWithParam<ProxyRow> {};

TEST_P(ThroughDelayProxy, ListsTheSameAsDirectly) {
  const ProxyRow& row = GetParam();
  Pop3Mailbox box;
  box.messages = Messages(60);
  box.answersCapa = true;
  box.capabilities = {"TOP", "PIPELINING", "UIDL"};
  ScriptedPop3Server server;
  server.ServeMailbox(box);
  test::DelayProxy proxy(server.Port(), 10, row.hidePipelining);

  TIdTCPClient c;
  OpenAndLogIn(c, proxy.Port());
  const auto before = Clock::now();
  const bool pipelining = AskPipelining(c);
  // The proxy holds each direction 10 ms: one exchange is at least a round trip.
  EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(20));
  EXPECT_EQ(pipelining, !row.hidePipelining);
  const Outcome through = RunListing(c, pipelining);
  c.WriteLine("quit");

  TIdTCPClient direct;
  OpenAndLogIn(direct, server.Port());
  const Outcome expected = RunListing(direct, false);
  EXPECT_EQ(through, expected);
  EXPECT_EQ(through.end, PipelinedListing::End::Complete);
  EXPECT_EQ(through.taken.size(), 60u);
}

INSTANTIATE_TEST_SUITE_P(Rows, ThroughDelayProxy,
                         ::testing::Values(ProxyRow{"pipelining_declared", false},
                                           ProxyRow{"pipelining_hidden", true}),
                         [](const ::testing::TestParamInfo<ProxyRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
