// Reading owed replies to their end within a deadline, without a window:
// status lines, multi-line bodies that another reader began, and exchanges
// that say what they owe.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "session/reply_drain.h"
#include "tests/support/named_rows.h"

namespace brevan {
namespace {

using namespace std::chrono_literals;

Deadline In(std::chrono::milliseconds ms) { return std::chrono::steady_clock::now() + ms; }

// Hands over one piece per wait; then, with endless set, every wait brings
// more of it, as a download that never ends does.
class PieceSource : public RawReplySource {
 public:
  explicit PieceSource(std::vector<std::string> pieces) : pieces_(pieces.begin(), pieces.end()) {}

  int WaitForData(int timeoutMs) override {
    ++waits;
    if (pieces_.empty() && !endless.empty()) {
      buffer_ += endless;
      return static_cast<int>(endless.size());
    }
    if (pieces_.empty()) {
      if (closeWhenDrained) {
        open_ = false;
        throw std::runtime_error("Connection Closed Gracefully.");
      }
      // Nothing comes: the wait takes its time, as a silent server's does.
      std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
      return 0;
    }
    buffer_ += pieces_.front();
    pieces_.pop_front();
    return 1;
  }
  int BufferedByteCount() override { return static_cast<int>(buffer_.size()); }
  std::string TakeBytes(int n) override {
    std::string out = buffer_.substr(0, static_cast<size_t>(n));
    buffer_.erase(0, static_cast<size_t>(n));
    return out;
  }
  void Unread(std::string_view bytes) override { buffer_.insert(0, bytes); }
  bool IsOpen() override { return open_; }
  void Close() override { open_ = false; }

  std::string Left() const {
    std::string all = buffer_;
    for (const std::string& piece : pieces_) all += piece;
    return all;
  }

  int waits = 0;
  bool closeWhenDrained = false;
  std::string endless;

 private:
  std::deque<std::string> pieces_;
  std::string buffer_;
  bool open_ = true;
};

// Every cut of the bytes into two receives.
std::vector<std::vector<std::string>> EveryCut(const std::string& bytes) {
  std::vector<std::vector<std::string>> cuts;
  for (size_t cut = 0; cut <= bytes.size(); ++cut) cuts.push_back({bytes.substr(0, cut), bytes.substr(cut)});
  return cuts;
}

// ---- one reply, then the next ----

struct ReplyRow {
  const char* name;
  bool multiLine;
  std::string taken;     // what a body reader had already taken (Body rows)
  std::string bytes;     // what the server sends
  std::string status;    // the status line the drain reports
  std::string left;      // the bytes of the next reply, untouched
  bool body = false;     // drain a body alone, after taken
};
void PrintTo(const ReplyRow& row, std::ostream* os) { *os << row.name; }

class DrainReply : public ::testing::TestWithParam<ReplyRow> {};

TEST_P(DrainReply, EndsExactlyWhereTheReplyEnds) {
  const ReplyRow& row = GetParam();
  for (const auto& pieces : EveryCut(row.bytes + row.left)) {
    PieceSource source(pieces);
    ReplyDrain drain(source);
    std::string status;
    const DrainEnd end = row.body ? drain.Body(In(2s), row.taken) : drain.Reply(row.multiLine, In(2s), &status);
    ASSERT_EQ(end, DrainEnd::Done) << "cut after " << pieces[0].size();
    EXPECT_EQ(status, row.status) << "cut after " << pieces[0].size();
    // The next reply is read by the same drain, byte for byte.
    if (!row.left.empty()) {
      std::string next;
      ASSERT_EQ(drain.StatusLine(In(2s), &next), DrainEnd::Done);
      EXPECT_EQ(next + "\r\n", row.left) << "cut after " << pieces[0].size();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DrainReply,
    ::testing::Values(
        ReplyRow{"status_line", false, "", "+OK 2 deleted\r\n", "+OK 2 deleted", "+OK next\r\n"},
        ReplyRow{"blank_lines_before_the_status", false, "", "\r\n  \r\n-ERR no\r\n", "-ERR no", "+OK next\r\n"},
        ReplyRow{"bare_lf", false, "", "+OK\n", "+OK", "+OK next\r\n"},
        ReplyRow{"positive_with_body", true, "", "+OK\r\nline\r\n..dotted\r\n.\r\n", "+OK", "+OK next\r\n"},
        ReplyRow{"empty_body", true, "", "+OK\r\n.\r\n", "+OK", "+OK next\r\n"},
        ReplyRow{"refusal_has_no_body", true, "", "-ERR no such message\r\n", "-ERR no such message",
                 ".\r\n"},
        ReplyRow{"lower_case_ok_has_no_body", true, "", "+ok\r\n", "+ok", ".\r\n"},
        ReplyRow{"dot_line_with_more_is_not_the_end", true, "", "+OK\r\n.x\r\n. \r\n.\r\n", "+OK", "+OK n\r\n"},
        ReplyRow{"body_lf_only_terminator", true, "", "+OK\nA\n.\n", "+OK", "+OK n\r\n"},
        // A body another reader began: where its last line stands decides.
        ReplyRow{"taken_ends_at_a_line_start", false, "+OK\r\nline\r\n", ".\r\n", "", "+OK n\r\n", true},
        ReplyRow{"taken_ends_with_the_dot", false, "line\r\n.", "\r\n", "", "+OK n\r\n", true},
        ReplyRow{"taken_ends_with_dot_and_cr", false, "line\r\n.\r", "\n", "", "+OK n\r\n", true},
        ReplyRow{"taken_dot_is_not_at_a_line_start", false, "line.", "\r\nx\r\n.\r\n", "", "+OK n\r\n", true},
        ReplyRow{"taken_is_a_lone_dot_body_start", false, ".", "\r\n", "", "+OK n\r\n", true},
        ReplyRow{"nothing_taken_empty_body", false, "", ".\r\n", "", "+OK n\r\n", true}),
    RowName<ReplyRow>);

TEST(DrainReply, OverlongStatusLineIsCutButReadToItsEnd) {
  const std::string line = "+OK " + std::string(100000, 'x');
  PieceSource source({line + "\r\n", "+OK next\r\n"});
  ReplyDrain drain(source);
  std::string status;
  ASSERT_EQ(drain.StatusLine(In(2s), &status), DrainEnd::Done);
  EXPECT_EQ(status, line.substr(0, ReplyDrain::kMaxStatus));
  ASSERT_EQ(drain.StatusLine(In(2s), &status), DrainEnd::Done);
  EXPECT_EQ(status, "+OK next");
}

// ---- replies that do not end ----

struct EndlessRow {
  const char* name;
  std::vector<std::string> pieces;
  std::string endless;
  bool closes;
  bool multiLine;
  DrainEnd end;
};
void PrintTo(const EndlessRow& row, std::ostream* os) { *os << row.name; }

class DrainUnended : public ::testing::TestWithParam<EndlessRow> {};

TEST_P(DrainUnended, StopsAtTheDeadlineOrTheClose) {
  const EndlessRow& row = GetParam();
  PieceSource source(row.pieces);
  source.endless = row.endless;
  source.closeWhenDrained = row.closes;
  ReplyDrain drain(source);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(drain.Reply(row.multiLine, In(300ms)), row.end);
  // Far above the 300 ms deadline: only a read that ignores it gets here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  if (row.end == DrainEnd::Failed) EXPECT_EQ(drain.Error(), "Connection Closed Gracefully.");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DrainUnended,
    ::testing::Values(EndlessRow{"silent_server", {}, "", false, false, DrainEnd::TimedOut},
                      EndlessRow{"status_line_without_end", {"+OK par"}, "", false, false, DrainEnd::TimedOut},
                      EndlessRow{"body_without_terminator", {"+OK\r\nline\r\n"}, "", false, true, DrainEnd::TimedOut},
                      // Data keeps coming: the deadline still holds.
                      EndlessRow{"endless_body", {"+OK\r\n"}, "line after line\r\n", false, true, DrainEnd::TimedOut},
                      EndlessRow{"endless_line", {"+OK\r\n"}, "xxxxxxxxxxxxxxxx", false, true, DrainEnd::TimedOut},
                      EndlessRow{"closed_before_status", {"+O"}, "", true, false, DrainEnd::Failed},
                      EndlessRow{"closed_in_body", {"+OK\r\nline\r\n."}, "", true, true, DrainEnd::Failed}),
    RowName<EndlessRow>);

TEST(DrainReply, BytesBufferedWhenTheConnectionClosedStillCount) {
  PieceSource source({"+OK bye\r\n"});
  source.closeWhenDrained = true;
  ASSERT_EQ(source.WaitForData(0), 1);  // the reply is buffered already
  ReplyDrain drain(source);
  source.Close();
  std::string status;
  EXPECT_EQ(drain.StatusLine(In(1s), &status), DrainEnd::Done);
  EXPECT_EQ(status, "+OK bye");
}

// ---- an exchange finished from outside ----

struct TrackedRow {
  const char* name;
  int owed;  // 0 nothing, 1 status, 2 status with body, 3 body
  std::string taken;
  std::string bytes;
  bool finished;
  std::string left;
};
void PrintTo(const TrackedRow& row, std::ostream* os) { *os << row.name; }

class TrackedFinish : public ::testing::TestWithParam<TrackedRow> {};

TEST_P(TrackedFinish, ReadsWhatIsOwedAndNoMore) {
  const TrackedRow& row = GetParam();
  PieceSource source({row.bytes});
  TrackedExchange exchange(source);
  std::string taken = row.taken;
  if (row.owed == 1) exchange.AwaitStatus(false);
  if (row.owed == 2) exchange.AwaitStatus(true);
  if (row.owed == 3) exchange.AwaitBody(&taken);
  EXPECT_FALSE(exchange.Finished());
  EXPECT_EQ(exchange.Finish(In(300ms)), row.finished);
  EXPECT_TRUE(exchange.Finished());
  if (row.finished) EXPECT_EQ(source.Left(), row.left);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TrackedFinish,
    ::testing::Values(TrackedRow{"nothing_owed_reads_nothing", 0, "", "+OK stray\r\n", true, "+OK stray\r\n"},
                      TrackedRow{"status_owed", 1, "", "+OK\r\n", true, ""},
                      TrackedRow{"status_with_body_owed", 2, "", "+OK\r\nA\r\n.\r\n", true, ""},
                      TrackedRow{"refused_status_owes_no_body", 2, "", "-ERR\r\n", true, ""},
                      TrackedRow{"body_begun_by_its_reader", 3, "A\r\n.", "\r\n", true, ""},
                      TrackedRow{"body_never_ends", 3, "A\r\n", "B\r\n", false, ""},
                      TrackedRow{"status_never_comes", 1, "", "", false, ""}),
    RowName<TrackedRow>);

TEST(TrackedFinish, ReceivedLeavesNothingOwed) {
  PieceSource source({"+OK next\r\n"});
  TrackedExchange exchange(source);
  exchange.AwaitStatus(true);
  exchange.Received();
  EXPECT_TRUE(exchange.Finish(In(300ms)));
  EXPECT_EQ(source.waits, 0);
}

TEST(TrackedFinish, AbandonReadsNothing) {
  PieceSource source({"+OK\r\n"});
  TrackedExchange exchange(source);
  exchange.AwaitStatus(false);
  exchange.Abandon();
  EXPECT_TRUE(exchange.Finished());
  EXPECT_EQ(source.waits, 0);
}

}  // namespace
}  // namespace brevan
