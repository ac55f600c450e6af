// The message exchanges without a window: LIST sizes, header recognition, the
// raw reply read fed in every possible split, and its failure counting.
#include "session/pop3_exchanges.h"

#include "reply_reference.h"
#include "scripted_reply_source.h"

#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace brevan {
namespace {

using testing_support::ReplyEndOffset;
using testing_support::ScriptedSource;

using namespace std::string_literals;

// ---- LIST sizes ----

struct SizeRow {
  const char* name;
  std::string line;
  std::string size;
};
void PrintTo(const SizeRow& r, std::ostream* os) { *os << r.name; }

class ListSizeTest : public ::testing::TestWithParam<SizeRow> {};

TEST_P(ListSizeTest, SecondToken) { EXPECT_EQ(ListLineSize(GetParam().line), GetParam().size); }

INSTANTIATE_TEST_SUITE_P(
    Rows, ListSizeTest,
    ::testing::Values(SizeRow{"number_and_size", "1 2048", "2048"},
                      SizeRow{"number_only", "7", ""},
                      SizeRow{"third_token", "1 2048 extra text", "2048"},
                      SizeRow{"server_numbers_from_ten", "10 512", "512"},
                      SizeRow{"trailing_space", "3 99 ", "99"},
                      SizeRow{"double_space_gives_empty_token", "3  99", ""},
                      SizeRow{"empty_line", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- header lines ----

struct HeaderRow {
  const char* name;
  std::string line;
  HeaderField field;
  std::string value;
};
void PrintTo(const HeaderRow& r, std::ostream* os) { *os << r.name; }

class HeaderLineTest : public ::testing::TestWithParam<HeaderRow> {};

TEST_P(HeaderLineTest, FieldAndValue) {
  std::string value = "untouched";
  EXPECT_EQ(RecognizeHeaderLine(GetParam().line, &value), GetParam().field);
  if (GetParam().field != HeaderField::None) EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HeaderLineTest,
    ::testing::Values(
        HeaderRow{"from", "From: Ann <a@x>", HeaderField::From, "Ann <a@x>"},
        HeaderRow{"from_capitals", "FROM: Ann", HeaderField::From, "Ann"},
        HeaderRow{"from_no_space_loses_first", "From:abc", HeaderField::From, "bc"},
        HeaderRow{"from_one_char_no_space", "From:a", HeaderField::From, ""},
        HeaderRow{"subject_mixed_case", "sUbJeCt: hi there", HeaderField::Subject, "hi there"},
        HeaderRow{"subject_tab_skipped", "Subject:\tTabbed", HeaderField::Subject, "Tabbed"},
        HeaderRow{"date_empty", "Date:", HeaderField::Date, ""},
        HeaderRow{"date_kept", "Date: Tue, 8 Dec 2026 03:00:00 +0000", HeaderField::Date,
                  "Tue, 8 Dec 2026 03:00:00 +0000"},
        HeaderRow{"resent_from_not_seen", "Resent-From: x", HeaderField::None, ""},
        HeaderRow{"x_subject_not_seen", "X-Subject: x", HeaderField::None, ""},
        HeaderRow{"folded_continuation", " continued subject", HeaderField::None, ""},
        HeaderRow{"space_before_colon", "From : x", HeaderField::None, ""},
        HeaderRow{"short_line", "Fro", HeaderField::None, ""},
        HeaderRow{"non_ascii_not_folded", "\xC6rom: x", HeaderField::None, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TakeHeaderLine, LastOccurrenceWinsAndJunkStaysSet) {
  const std::vector<std::string> rules = {"lottery"};
  ListedHeaders headers;
  EXPECT_EQ(TakeHeaderLine("Subject: win the LOTTERY", rules, headers), HeaderField::Subject);
  EXPECT_TRUE(headers.Junk);
  EXPECT_EQ(TakeHeaderLine("Subject: harmless", rules, headers), HeaderField::Subject);
  EXPECT_EQ(headers.Subject, "harmless");
  EXPECT_TRUE(headers.Junk) << "a later clean subject must not clear the mark";
  EXPECT_EQ(TakeHeaderLine("From: one", rules, headers), HeaderField::From);
  EXPECT_EQ(TakeHeaderLine("from: two", rules, headers), HeaderField::From);
  EXPECT_EQ(headers.Sender, "two");
  EXPECT_EQ(TakeHeaderLine("\tlottery folded", rules, headers), HeaderField::None);
  EXPECT_EQ(headers.Subject, "harmless");
}

TEST(TakeHeaderLine, KeepsTheReasonOfTheFirstJunkSubject) {
  const std::vector<std::string> rules = {"", "lottery"};
  ListedHeaders headers;
  TakeHeaderLine("Subject: clean", rules, headers);
  EXPECT_FALSE(headers.Reason.IsJunk());
  TakeHeaderLine("Subject: win the LOTTERY", rules, headers);
  TakeHeaderLine("Subject: cheap l0an", rules, headers);
  EXPECT_TRUE(headers.Junk);
  EXPECT_EQ(headers.Reason.What, JunkVerdict::Kind::Rule);
  EXPECT_EQ(headers.Reason.Rule, "lottery");
  EXPECT_EQ(headers.Reason.Line, 2);
}

// The listing's verdict is IsJunk's for every subject, reason or not.
TEST(TakeHeaderLine, VerdictIsIsJunks) {
  const std::vector<std::string> rules = {"[PCRE]^re:", "[!]*a*", "lottery"};
  for (const char* subject : {"RE: x", "Re:l0an", "l0an", "lottery", "no vowels here?", "xyz", "", "a|b",
                              "UTF8", "gOOd", "hellO"}) {
    ListedHeaders headers;
    TakeHeaderLine(std::string("Subject: ") + subject, rules, headers);
    EXPECT_EQ(headers.Junk, IsJunk(rules, headers.Subject)) << subject;
    EXPECT_EQ(headers.Reason.IsJunk(), headers.Junk) << subject;
  }
}

TEST(TakeHeaderLine, SubjectDecodedBeforeJudging) {
  // "lottery" only appears once the encoded word is decoded.
  const std::vector<std::string> rules = {"lottery"};
  ListedHeaders headers;
  TakeHeaderLine("Subject: =?utf-8?q?big_lottery?=", rules, headers);
  EXPECT_EQ(headers.Subject, "big lottery");
  EXPECT_TRUE(headers.Junk);
  ListedHeaders dated;
  TakeHeaderLine("Date: =?utf-8?q?x?=", rules, dated);
  EXPECT_EQ(dated.Date, "=?utf-8?q?x?=") << "the date is kept as sent";
}

// ---- the end of a raw reply ----

struct EndRow {
  const char* name;
  std::string received;
  size_t end;  // where the reply ends; npos: not yet
};
void PrintTo(const EndRow& r, std::ostream* os) { *os << r.name; }

class ReplyEndTest : public ::testing::TestWithParam<EndRow> {};

// Whole, and one byte per receive: the end is found at the same byte.
TEST_P(ReplyEndTest, Detects) {
  const EndRow& row = GetParam();
  EXPECT_EQ(ReplyEndOffset(row.received), row.end) << "the reference";
  ReplyEnd whole;
  const size_t taken = whole.Take(row.received);
  EXPECT_EQ(whole.Ended(), row.end != std::string::npos);
  EXPECT_EQ(taken, whole.Ended() ? row.end : row.received.size());
  ReplyEnd bytes;
  size_t byByte = 0;
  for (char c : row.received) byByte += bytes.Take(std::string_view(&c, 1));
  EXPECT_EQ(byByte, taken);
  EXPECT_EQ(bytes.Ended(), whole.Ended());
}

constexpr size_t kOpen = std::string::npos;

INSTANTIATE_TEST_SUITE_P(
    Rows, ReplyEndTest,
    ::testing::Values(EndRow{"empty", "", kOpen},
                      EndRow{"terminator_at_end", "a: b\r\n\r\nbody\r\n.\r\n", 17},
                      EndRow{"lone_terminator", ".\r\n", 3},
                      EndRow{"lone_lf_terminator", ".\n", 2},
                      EndRow{"stuffed_dot_line", "x\r\n..\r\n", kOpen},
                      EndRow{"half_terminator", "x\r\n.\r", kOpen},
                      EndRow{"dot_not_at_a_line_start", "x.\r\n", kOpen},
                      EndRow{"dot_with_blank", "x\r\n. \r\n", kOpen},
                      EndRow{"lf_only_terminator", "x\n.\n", 4},
                      EndRow{"terminator_then_more", "xx\r\n.\r\nabcdef", 7},
                      EndRow{"first_of_two_terminators", "x\r\n.\r\n.\r\n", 6}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- the raw reply read ----

const std::string kBody = "Subject: dots\r\n\r\n..leading dot\r\nline two\r\n.\r\n";
const std::string kMessage = "Subject: dots\r\n\r\n..leading dot\r\nline two";

// The reply split once at every position: two receives, the terminator cut
// anywhere, and never a wait once the last piece has arrived.
TEST(ReadRawReply, SplitAtEveryLength) {
  for (size_t cut = 1; cut < kBody.size(); ++cut) {
    ScriptedSource source({kBody.substr(0, cut), kBody.substr(cut)});
    std::string received;
    ASSERT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete) << "cut " << cut;
    EXPECT_EQ(received, kMessage) << "cut " << cut;
    EXPECT_EQ(source.waits.size(), 2u) << "a wait after the end has arrived, cut " << cut;
  }
}

TEST(ReadRawReply, OneBytePerReceive) {
  std::vector<std::string> pieces;
  for (char c : kBody) pieces.emplace_back(1, c);
  ScriptedSource source(pieces);
  std::string received;
  ASSERT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, kMessage);
  EXPECT_EQ(source.waits.size(), kBody.size());
}

TEST(ReadRawReply, AlreadyBufferedNeedsNoWait) {
  ScriptedSource source({});
  source.Preload(kBody);
  std::string received;
  ASSERT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, kMessage);
  EXPECT_TRUE(source.waits.empty());
}

// The next reply, already buffered behind this one, is left for its reader.
TEST(ReadRawReply, BytesPastTheEndGoBackToTheSource) {
  ScriptedSource source({});
  source.Preload(kBody + "+OK next\r\n.\r\n");
  std::string received;
  ASSERT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, kMessage);
  EXPECT_EQ(source.Left(), "+OK next\r\n.\r\n");
}

TEST(ReadRawReply, EmptyBodyEndsAtTheLoneTerminator) {
  ScriptedSource source({".\r\n"});
  std::string received = "stale";
  ASSERT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, "");
}

TEST(ReadRawReply, LargeReplyTakenInChunks) {
  std::string big;
  while (big.size() < 200000) big += "0123456789 abcdefghijklmnopqrstuvwxyz\r\n";
  const std::string reply = big + ".\r\n";
  ScriptedSource source({reply.substr(0, 80000), reply.substr(80000, 100000), reply.substr(180000)});
  std::vector<size_t> lengths;
  RawReplyEvents events;
  events.Received = [&](size_t n) { lengths.push_back(n); };
  std::string received;
  ASSERT_EQ(ReadRawReply(source, received, events), RawReplyEnd::Complete);
  EXPECT_EQ(received, big.substr(0, big.size() - 2));
  // 80000 alone; then 100000 arrives: 80000 now and the rest without a wait.
  ASSERT_GE(source.takes.size(), 3u);
  EXPECT_EQ(source.takes[0], 80000);
  EXPECT_EQ(source.takes[1], 80000);
  EXPECT_EQ(source.takes[2], 20000);
  ASSERT_GE(source.waits.size(), 2u);
  EXPECT_EQ(source.waits[0], 1000);
  EXPECT_EQ(source.waits[1], 500) << "after a full chunk the wait is shorter";
  EXPECT_EQ(source.waits.size(), 3u);
  EXPECT_EQ(lengths.back(), reply.size());
}

TEST(ReadRawReply, ClosedBeforeTheEnd) {
  ScriptedSource source({"Subject: x\r\n\r\nhalf"});
  source.closeWhenDrained = true;
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Closed);
}

TEST(ReadRawReply, CompleteReplyKeptWhenThePeerClosesAfterIt) {
  ScriptedSource source({kBody});
  source.closeWhenDrained = true;
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, kMessage);
}

TEST(ReadRawReply, EndBehindAFullChunkIsFoundAfterThePeerClosed) {
  std::string body(100000, 'x');
  ScriptedSource source({});
  source.Preload(body + "\r\n.\r\n");
  source.Close();  // the peer is gone; what it sent is all buffered
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(received, body);
}

TEST(ReadRawReply, SixteenFailedWaitsInARowClose) {
  ScriptedSource source({});
  source.failuresLeft = 1000;
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Closed);
  EXPECT_EQ(source.closes, 1);
  EXPECT_EQ(source.waits.size(), 16u);
}

TEST(ReadRawReply, AGoodWaitResetsTheFailureCount) {
  ScriptedSource source({"Subject: x\r\n", "\r\nbody\r\n.\r\n"});
  source.failuresLeft = 15;  // fifteen failures, then the data
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, {}), RawReplyEnd::Complete);
  EXPECT_EQ(source.closes, 0);
  EXPECT_EQ(received, "Subject: x\r\n\r\nbody");
}

TEST(ReadRawReply, StopsWhenTheWindowCloses) {
  ScriptedSource source({"Subject: x\r\n", "more\r\n", "\r\n.\r\n"});
  int events = 0;
  RawReplyEvents hooks;
  hooks.ProcessEvents = [&] { ++events; };
  hooks.Stop = [&] { return events >= 1; };
  std::string received;
  EXPECT_EQ(ReadRawReply(source, received, hooks), RawReplyEnd::Stopped);
  EXPECT_FALSE(source.Drained());
}

}  // namespace
}  // namespace brevan
