// A message downloaded into its file as it arrives: the file equals what the
// whole-text read gives however the reply is split, and a download that does
// not end (a lost connection, a full disk, a folder that cannot be written,
// a disconnect in the middle) leaves no file of any name behind.
#include "session/message_download.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "reply_reference.h"
#include "scripted_reply_source.h"
#include "tests/support/named_rows.h"

namespace brevan {
namespace {

namespace fs = std::filesystem;
using testing_support::ReplyEndOffset;
using testing_support::ReplyFileText;
using testing_support::ScriptedSource;
using namespace std::string_literals;

// ---- what the file must hold ----

// The whole-text read: the file is the reply without its terminating line
// and the line end in front of it, then CR LF. Empty when the text never
// ends the reply.
std::optional<std::string> WholeTextFile(const std::vector<std::string>& pieces) {
  std::string received;
  for (const std::string& piece : pieces) received += piece;
  if (ReplyEndOffset(received) == std::string::npos) return std::nullopt;
  return ReplyFileText(received) + "\r\n";
}

// The piece-by-piece filter over the same pieces, stopping where the read
// does; it must take exactly the reply's bytes and leave the rest.
std::optional<std::string> FilteredFile(const std::vector<std::string>& pieces) {
  ReplyTerminatorFilter filter;
  std::string out;
  std::string whole;
  size_t taken = 0;
  const auto append = [&out](std::string_view bytes) { out.append(bytes); };
  for (const std::string& piece : pieces) {
    whole += piece;
    taken += filter.Take(piece, append);
    if (filter.Ended()) {
      filter.Flush(append);
      EXPECT_EQ(taken, ReplyEndOffset(whole)) << "the bytes past the end are left for the next reply";
      EXPECT_EQ(filter.Received(), taken);
      return out + "\r\n";
    }
  }
  return std::nullopt;
}

std::vector<std::string> OneBytePieces(const std::string& reply) {
  std::vector<std::string> pieces;
  for (char c : reply) pieces.emplace_back(1, c);
  return pieces;
}

// Replies whose terminator, or something like it, meets every split.
class TerminatorSplitTest : public ::testing::TestWithParam<Row> {};

TEST_P(TerminatorSplitTest, EverySplitGivesTheWholeTextFile) {
  const std::string& reply = GetParam().input;
  const std::optional<std::string> whole = WholeTextFile({reply});
  EXPECT_EQ(FilteredFile({reply}), whole);
  ASSERT_TRUE(whole.has_value());
  EXPECT_EQ(*whole, GetParam().expected);
  // Two receives cut anywhere, and three with the middle one around the end.
  for (size_t cut = 0; cut <= reply.size(); ++cut) {
    const std::vector<std::string> two = {reply.substr(0, cut), reply.substr(cut)};
    EXPECT_EQ(FilteredFile(two), WholeTextFile(two)) << "cut at " << cut;
    for (size_t second = cut; second <= reply.size() && second <= cut + 6; ++second) {
      const std::vector<std::string> three = {reply.substr(0, cut), reply.substr(cut, second - cut),
                                              reply.substr(second)};
      EXPECT_EQ(FilteredFile(three), WholeTextFile(three)) << "cuts at " << cut << " and " << second;
    }
  }
  const std::vector<std::string> bytes = OneBytePieces(reply);
  EXPECT_EQ(FilteredFile(bytes), WholeTextFile(bytes)) << "one byte per receive";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TerminatorSplitTest,
    ::testing::Values(
        Row{"plain", "Subject: x\r\n\r\nbody\r\n.\r\n", "Subject: x\r\n\r\nbody\r\n"},
        Row{"stuffed_dots_kept", "a\r\n..\r\n..b\r\n.\r\n", "a\r\n..\r\n..b\r\n"},
        Row{"empty_body", ".\r\n", "\r\n"},
        Row{"empty_line_body", "\r\n.\r\n", "\r\n"},
        // A lone "." as the first line is an empty body, however the bytes
        // are split; what follows is the next reply's.
        Row{"dot_line_at_start", ".\r\nx\r\n.\r\n", "\r\n"},
        Row{"dot_then_text", ".x\r\n.\r\n", ".x\r\n"},
        Row{"double_terminator", "a\r\n.\r\n.\r\n", "a\r\n"},
        Row{"bytes_after_the_end", "a\r\n.\r\nxyzw", "a\r\n"},
        Row{"terminator_inside", "a\r\n.\r\nb\r\n.\r\n", "a\r\n"},
        Row{"crlf_runs", "\r\n\r\n\r\r\n\r.\n\r\n.\r\n", "\r\n\r\n\r\r\n\r.\n\r\n"},
        // The terminating line's CR is optional, as every line's is.
        Row{"lf_terminator", "a\nb\n.\n", "a\nb\r\n"},
        Row{"lf_terminator_after_crlf", "a\r\n.\n", "a\r\n"},
        Row{"crlf_terminator_after_lf", "a\n.\r\n", "a\r\n"},
        Row{"lone_lf_terminator", ".\n", "\r\n"},
        Row{"dot_cr_is_text_before_lf", ".\r.\r\n.\r\n", ".\r.\r\n"},
        Row{"nul_and_high_bytes", "\0\xA4\\\r\n\xFF\r\n.\r\n"s, "\0\xA4\\\r\n\xFF\r\n"s}),
    RowName<Row>);

// Random texts over the bytes the terminator is made of: joined, the pieces
// the filter gives out are the whole-text file of the reply, for any split,
// and of a reply that did not end, the whole text once flushed.
TEST(ReplyTerminatorFilter, RandomTextsAndSplitsMatchTheWholeText) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'\r', '\n', '.', 'a'};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 24);
    for (int i = 0; i < length; ++i) text += alphabet[random() % 4];
    ReplyTerminatorFilter filter;
    std::string out;
    size_t taken = 0;
    const auto append = [&out](std::string_view bytes) { out.append(bytes); };
    for (size_t at = 0; at < text.size();) {
      const size_t piece = 1 + random() % 5;
      taken += filter.Take(std::string_view(text).substr(at, piece), append);
      at += piece;
    }
    filter.Flush(append);
    const size_t end = ReplyEndOffset(text);
    ASSERT_EQ(out, ReplyFileText(text)) << "text of " << text.size() << " bytes, round " << round;
    EXPECT_EQ(filter.Ended(), end != std::string::npos) << "round " << round;
    EXPECT_EQ(taken, end == std::string::npos ? text.size() : end) << "round " << round;
    EXPECT_EQ(filter.Received(), taken);
  }
}

// Only what may begin the terminator waits for the next receive.
TEST(ReplyTerminatorFilter, HoldsBackNoMoreThanATerminatorsStart) {
  ReplyTerminatorFilter filter;
  std::string out;
  const auto append = [&out](std::string_view bytes) { out.append(bytes); };
  filter.Take("Subject: x\r\n\r\nline\r\n.\r", append);
  EXPECT_EQ(out, "Subject: x\r\n\r\nline");
  filter.Take("x", append);
  EXPECT_EQ(out, "Subject: x\r\n\r\nline\r\n.\rx");
  std::string big(300000, 'b');
  filter.Take(big, append);
  EXPECT_EQ(out.size(), 23u + big.size());
}

// ---- the download into its file ----

class DownloadFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/brevan-download-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  // Every name in the folder, hidden ones included.
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    return names;
  }
  std::string Contents(const std::string& name) const {
    std::string contents;
    return ReadWholeFile(dir_ + "/" + name, contents) ? contents : "<missing>";
  }
  std::string dir_;
};

const std::string kReply = "Subject: dots\r\n\r\n..leading dot\r\nline two\r\n.\r\n";
const std::string kFile = "Subject: dots\r\n\r\n..leading dot\r\nline two\r\n";

TEST_F(DownloadFileTest, OneBytePerReceiveGivesTheWholeTextFile) {
  ScriptedSource source(OneBytePieces(kReply));
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  EXPECT_LE(fs::path(download.File().TemporaryPath()).filename().string().size(), 16u)
      << "the temporary name is short whatever the real one is";
  ASSERT_EQ(download.Read({}), RawReplyEnd::Complete);
  int serviced = 0;
  ASSERT_TRUE(download.Sync([&serviced] { ++serviced; }));
  ASSERT_TRUE(download.PlaceAs(dir_ + "/m.eml"));
  EXPECT_EQ(Contents("m.eml"), kFile);
  EXPECT_EQ(Names(), std::vector<std::string>{"m.eml"});
}

TEST_F(DownloadFileTest, LargeMessageInChunksEqualsWhatWasSent) {
  std::string message;
  for (int i = 0; message.size() < 1000000; ++i) message += "." + std::to_string(i) + " of the body\r\n";
  const std::string reply = message + ".\r\n";
  std::vector<std::string> pieces;
  for (size_t at = 0; at < reply.size(); at += 32768) pieces.push_back(reply.substr(at, 32768));
  ScriptedSource source(pieces);
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  std::vector<size_t> progress;
  RawReplyEvents events;
  events.Received = [&progress](size_t n) { progress.push_back(n); };
  ASSERT_EQ(download.Read(events), RawReplyEnd::Complete);
  ASSERT_TRUE(download.Sync(nullptr));
  ASSERT_TRUE(download.PlaceAs(dir_ + "/big.eml"));
  EXPECT_EQ(Contents("big.eml"), message);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), reply.size()) << "the bar counts the bytes as received";
}

// The peer goes away after every possible number of bytes of the reply.
TEST_F(DownloadFileTest, ConnectionLostAtEveryByteLeavesNoFile) {
  for (size_t sent = 0; sent + 1 < kReply.size(); ++sent) {
    ScriptedSource source({kReply.substr(0, sent)});
    source.closeWhenDrained = true;
    MessageDownload download(source);
    download.StatusRead(true);
    ASSERT_TRUE(download.Open(dir_));
    EXPECT_EQ(download.Read({}), RawReplyEnd::Closed) << sent << " bytes";
    EXPECT_FALSE(download.Sync(nullptr));
    EXPECT_FALSE(download.PlaceAs(dir_ + "/m.eml"));
    EXPECT_TRUE(Names().empty()) << sent << " bytes";
  }
}

TEST_F(DownloadFileTest, FailedWaitsCloseAndLeaveNoFile) {
  ScriptedSource source({"Subject: x\r\n"});
  source.failuresLeft = 1000;
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  EXPECT_EQ(download.Read({}), RawReplyEnd::Closed);
  EXPECT_EQ(source.closes, 1);
  EXPECT_TRUE(Names().empty());
}

TEST_F(DownloadFileTest, WindowClosingStopsAndLeavesNoFile) {
  ScriptedSource source({"Subject: x\r\n", "more\r\n", "\r\n.\r\n"});
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  int rounds = 0;
  RawReplyEvents events;
  events.ProcessEvents = [&rounds] { ++rounds; };
  events.Stop = [&rounds] { return rounds >= 1; };
  EXPECT_EQ(download.Read(events), RawReplyEnd::Stopped);
  EXPECT_TRUE(Names().empty());
}

// A folder that cannot take the file: the message is still read to its end,
// so the connection is ready for the next command, and nothing is written.
TEST_F(DownloadFileTest, MissingFolderReadsTheReplyToItsEnd) {
  ScriptedSource source({kReply.substr(0, 10), kReply.substr(10), "+OK next\r\n"});
  MessageDownload download(source);
  download.StatusRead(true);
  EXPECT_FALSE(download.Open(dir_ + "/gone"));
  EXPECT_EQ(download.Read({}), RawReplyEnd::Complete);
  EXPECT_FALSE(download.Written());
  EXPECT_FALSE(download.Sync(nullptr));
  EXPECT_EQ(source.Left(), "+OK next\r\n");
  EXPECT_TRUE(Names().empty());
}

// A disk that fills up under the download (a file-size limit, in a child so
// the limit stays there): no file under the real name, no temporary file.
TEST_F(DownloadFileTest, FullDiskLeavesNoFile) {
  // Larger than the pieces the file is written in, so the disk fills while
  // the reply still comes.
  std::string message;
  while (message.size() < 3000000) message += "a line of the body that fills the disk\r\n";
  const std::string reply = message + ".\r\n";
  std::vector<std::string> pieces;
  for (size_t at = 0; at < reply.size(); at += 80000) pieces.push_back(reply.substr(at, 80000));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
    rlimit limit{1500000, 1500000};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(10);
    ScriptedSource source(pieces);
    MessageDownload download(source);
    download.StatusRead(true);
    if (!download.Open(dir_)) ::_exit(11);
    if (download.Read({}) != RawReplyEnd::Complete) ::_exit(12);  // read to its end all the same
    if (!source.Left().empty()) ::_exit(13);
    if (download.Written()) ::_exit(18);
    if (download.Sync(nullptr)) ::_exit(14);
    if (download.PlaceAs(dir_ + "/m.eml")) ::_exit(15);
    // The whole-file write meets the same limit and keeps the old file.
    if (!WriteFileAtomic(dir_ + "/kept.txt", "old")) ::_exit(16);
    if (WriteFileAtomic(dir_ + "/kept.txt", message)) ::_exit(17);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(Names(), std::vector<std::string>{"kept.txt"});
  EXPECT_EQ(Contents("kept.txt"), "old");
}

// ---- a download finished from outside ----

struct FinishRow {
  const char* name;
  bool statusRead;      // the handler had read the status line already
  std::string before;   // received before the Finish
  std::string after;    // waiting when the Finish starts
  bool finished;        // what the Finish answers
};
void PrintTo(const FinishRow& r, std::ostream* os) { *os << r.name; }

class FinishTest : public DownloadFileTest, public ::testing::WithParamInterface<FinishRow> {};

// The next command's reply, which the Finish must leave alone.
const std::string kNext = "+OK next\r\n";

// The disconnect comes inside one of the read's waits: it takes the rest of
// the reply, the read stops without touching the connection again, and no
// file is left.
TEST_P(FinishTest, DrainsTheReplyAndLeavesNoFile) {
  const FinishRow& row = GetParam();
  ScriptedSource source({row.before, kNext});
  MessageDownload download(source);
  bool answer = !row.finished;
  const auto finish = [&] {
    source.Preload(row.after);
    answer = download.Finish(std::chrono::steady_clock::now() + std::chrono::seconds(5));
  };
  if (row.statusRead) {
    download.StatusRead(true);
    ASSERT_TRUE(download.Open(dir_));
    // The first piece comes in and is written; the Finish runs in the next wait.
    source.duringWait = [&] { source.duringWait = finish; };
    EXPECT_EQ(download.Read({}), RawReplyEnd::Stopped);
  } else {
    // Inside the wait for the status line.
    source.WaitForData(1000);
    source.duringWait = finish;
    source.WaitForData(1000);
  }
  EXPECT_EQ(answer, row.finished);
  EXPECT_TRUE(download.Finished());
  if (row.finished) EXPECT_EQ(source.Left(), kNext);
  EXPECT_TRUE(Names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FinishTest,
    ::testing::Values(
        FinishRow{"in_the_message", true, "Subject: x\r\n\r\n", "body\r\n.\r\n", true},
        FinishRow{"terminator_split", true, "Subject: x\r\n\r\nbody\r", "\n.\r\n", true},
        FinishRow{"dotted_line_not_the_end", true, "a\r\n", "..\r\nb\r\n.\r\n", true},
        FinishRow{"before_the_status_line", false, "", "+OK 9 octets\r\nbody\r\n.\r\n", true},
        FinishRow{"status_line_split", false, "+O", "K\r\nbody\r\n.\r\n", true},
        FinishRow{"blank_line_before_status", false, "\r\n", "+OK\r\n.\r\n", true},
        FinishRow{"refused_owes_nothing_more", false, "", "-ERR no such message\r\n", true},
        FinishRow{"lower_case_ok_is_a_refusal", false, "", "+ok\r\n", true}),
    RowName<FinishRow>);

TEST_F(DownloadFileTest, FinishGivesUpOnAnEndlessReplyAtTheDeadline) {
  ScriptedSource source({});
  source.endless = [] { return std::string(4096, 'x') + "\r\n"; };
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(download.Finish(start + std::chrono::milliseconds(50)));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(2));
  EXPECT_TRUE(Names().empty());
}

TEST_F(DownloadFileTest, FinishWhenThePeerHasGoneAnswersFalse) {
  ScriptedSource source({"Subject: x\r\n"});
  source.closeWhenDrained = true;
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  EXPECT_FALSE(download.Finish(std::chrono::steady_clock::now() + std::chrono::seconds(5)));
  EXPECT_TRUE(Names().empty());
}

TEST_F(DownloadFileTest, FinishAfterTheEndOwesNothing) {
  ScriptedSource source({kReply, "+OK next\r\n"});
  MessageDownload download(source);
  download.StatusRead(true);
  ASSERT_TRUE(download.Open(dir_));
  ASSERT_EQ(download.Read({}), RawReplyEnd::Complete);
  EXPECT_TRUE(download.Finish(std::chrono::steady_clock::now()));
  EXPECT_EQ(source.Left(), "+OK next\r\n");
}

}  // namespace
}  // namespace brevan
