#pragma once
// The Qt-free parts of a session's message exchanges: the LIST-line size, the
// header lines the listing looks at, and the raw reply read that collects a
// multi-line TOP or RETR reply in chunks. Everything the server sends here is
// untrusted text.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter_rules.h"
#include "session/reply_end.h"

namespace brevan {

class TIdTCPConnection;

// ---- the listing ----

// The size of a LIST line: its second space-separated token (the server's own
// message number comes first and is dropped). Empty when the line holds no space.
std::string ListLineSize(const std::string& line);

// True when a CAPA reply's lines (between its status line and its ".") hold
// the capability tag: the first word of a line, in any case (RFC 2449
// section 5).
bool CapabilitiesOffer(const std::vector<std::string>& capabilityLines, std::string_view tag);

enum class HeaderField { None, From, Subject, Date };

// Recognises a From, Subject or Date line of a header block. The name is
// compared ASCII-case-insensitively at the very start of the line, colon
// included; the value starts one character after the colon, whatever that
// character is. Continuation lines of a folded header never match.
HeaderField RecognizeHeaderLine(std::string_view line, std::string* value);

// What the listing keeps of one message's header block.
struct ListedHeaders {
  std::string Sender;   // decoded to Unicode (UTF-8)
  std::string Subject;  // decoded to Unicode (UTF-8) and cleaned up
  std::string Date;     // as sent
  bool Junk = false;    // any Subject line of the block was judged junk
  JunkVerdict Reason;   // why: the verdict of the first Subject line judged junk
  std::vector<std::string> HeaderLines;  // the whole block as received, for the learned judgement
};

// The junk test of a subject: the disguised-word test, then the rule list.
bool IsJunk(const std::vector<std::string>& rules, std::string_view subject);

// Why a row was marked, for its hint: "原因: 偽裝字 <word>" or
// "原因: 規則 <rule> (第 <n> 行)", in the code page; empty for no verdict.
std::string JunkReasonText(const JunkVerdict& verdict);

// Takes one header line into headers: a later occurrence of a header replaces
// the earlier one, and Junk (with its Reason) is only ever set, never cleared
// or replaced. The subject is judged in the code page and in its Traditional
// form (filter_rules.h, SubjectForms). Returns the field the line was.
HeaderField TakeHeaderLine(std::string_view line, const std::vector<std::string>& rules,
                           ListedHeaders& headers);

// ---- the raw reply read ----

// The bytes the raw reply read works on. The connection is one; tests feed
// their own.
class RawReplySource {
 public:
  virtual ~RawReplySource() = default;
  virtual int WaitForData(int timeoutMs) = 0;
  virtual int BufferedByteCount() = 0;
  virtual std::string TakeBytes(int n) = 0;
  // Bytes taken past the reply a reader wanted go back, for the next reader.
  virtual void Unread(std::string_view bytes) = 0;
  virtual bool IsOpen() = 0;
  virtual void Close() = 0;
};

class ConnectionReplySource : public RawReplySource {
 public:
  explicit ConnectionReplySource(TIdTCPConnection& connection) : connection_(connection) {}
  int WaitForData(int timeoutMs) override;
  int BufferedByteCount() override;
  std::string TakeBytes(int n) override;
  void Unread(std::string_view bytes) override;
  bool IsOpen() override;
  void Close() override;

 private:
  TIdTCPConnection& connection_;
};

// What the read reports while it runs; every member may be empty.
struct RawReplyEvents {
  std::function<void()> ProcessEvents;        // let the window handle pending events
  std::function<void()> Activity;             // before each wait (the download sets the activity tick)
  std::function<void(size_t)> Received;       // the received length after bytes were taken
  std::function<bool()> Stop;                 // true when the window began to close
};

enum class RawReplyEnd {
  Complete,  // the terminating line arrived; received holds the reply without it
  Closed,    // the connection closed before the reply ended
  Stopped,   // Stop answered true
};

constexpr int kRawReplyChunk = 80000;
constexpr int kRawReplyWait = 1000;       // ms, after a short chunk
constexpr int kRawReplyBusyWait = 500;    // ms, after a full chunk
constexpr int kRawReplyMaxFailures = 15;  // failed waits in a row tolerated before closing
constexpr int kRawReplyEventsMs = 10;     // the loop's own event rounds, at most this often

// A raw multi-line reply on its way to a file, piece by piece as the bytes
// arrive: it ends where ReplyEnd says, and what is given out is the reply
// without its terminating line and without the line end in front of that
// line (nothing at all for an empty body), dot-stuffed lines as they came.
// The pieces given out, joined, are the same however the bytes were split;
// only what may still turn out to be that line end and the start of the
// terminating line (at most four bytes) is held back until the next bytes
// decide it.
class ReplyTerminatorFilter {
 public:
  using Output = std::function<void(std::string_view)>;

  // Returns how many of bytes belong to the reply: bytes past its end are
  // the next reply's, and the caller gives them back to the connection.
  size_t Take(std::string_view bytes, const Output& output);
  // The bytes still held back of a reply that did not end.
  void Flush(const Output& output);
  bool Ended() const { return end_.Ended(); }
  // How many bytes of the reply were taken, the terminating line included.
  size_t Received() const { return received_; }

 private:
  // The i-th byte from the end of what was taken and not yet given out
  // (held_ then reply); NUL before it.
  char Back(std::string_view reply, size_t i) const;
  // Gives out held_ and reply but their last keep bytes, which are held.
  void Emit(std::string_view reply, size_t keep, const Output& output);

  ReplyEnd end_;
  size_t received_ = 0;
  std::string held_;  // the bytes held back
};

// Reads a multi-line reply whose status line has already been read.
// Buffered bytes are taken in chunks of at most kRawReplyChunk, and the end is
// tested before every wait, so a reply that has already arrived costs no wait.
// A failing wait is counted; after more than kRawReplyMaxFailures in a row the
// connection is closed. What was received goes through filter to output as it
// arrives; on Complete the filter is flushed, so output has had the whole
// reply without its terminating line; bytes past the end go back to the
// source. Stop is asked right after every wait
// and event round, before the connection is touched again.
RawReplyEnd ReadRawReply(RawReplySource& source, ReplyTerminatorFilter& filter,
                         const ReplyTerminatorFilter::Output& output, const RawReplyEvents& events);

// The same, collecting the reply in received.
RawReplyEnd ReadRawReply(RawReplySource& source, std::string& received, const RawReplyEvents& events);

}  // namespace brevan
