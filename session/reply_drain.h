#pragma once
// Reading and discarding replies the server still owes, never past a
// deadline. A disconnect uses it to end another exchange before its first
// "dele" and to await each "dele" reply; an exchange tracks what it owes with
// TrackedExchange so that a disconnect can finish it from outside.
#include <string>
#include <string_view>
#include <vector>

#include "session/outstanding_exchange.h"
#include "session/pop3_exchanges.h"
#include "session/reply_end.h"

namespace brevan {

// RFC 1939 section 3: a positive status indicator is exactly "+OK".
bool IsPositiveStatus(std::string_view status);

enum class DrainEnd {
  Done,      // the reply ended; the source may carry the next command
  TimedOut,  // the deadline passed first
  Failed,    // the connection closed or failed first (Error() tells how)
};

// Replies are read in whatever pieces the source hands over; bytes taken past
// the end of one reply stay here for the next call, so one drain reads any
// number of replies in a row exactly.
class ReplyDrain {
 public:
  explicit ReplyDrain(RawReplySource& source) : source_(source) {}
  // Bytes taken past the last reply read go back to the source, so the
  // next reader of the connection starts exactly where this one ended.
  ~ReplyDrain();
  ReplyDrain(const ReplyDrain&) = delete;
  ReplyDrain& operator=(const ReplyDrain&) = delete;

  // One status line. Blank lines are skipped, as the command reader skips
  // them; the line, trimmed and cut to kMaxStatus bytes, goes to *status.
  DrainEnd StatusLine(Deadline deadline, std::string* status = nullptr);
  // The rest of a multi-line body, its terminating "." line included. taken
  // is what the body's own reader has taken of it already: its last,
  // unfinished line is where this one goes on.
  DrainEnd Body(Deadline deadline, std::string_view taken = {});
  // A multi-line body kept line by line (without line ends); unstuff takes
  // the first "." off a line that starts with two (RFC 1939 section 3).
  // Ends as Body does, at the same terminating line.
  DrainEnd Lines(Deadline deadline, std::vector<std::string>& lines, bool unstuff);
  // A status line and, when it is positive ("+OK") and multiLine, its body.
  DrainEnd Reply(bool multiLine, Deadline deadline, std::string* status = nullptr);

  const std::string& Error() const { return error_; }

  // More than a message box shows (kMaxShownServerBytes), so that a cut
  // line is still seen to be one when it is shown.
  static constexpr size_t kMaxStatus = 1024;

 private:
  // Makes pending_ non-empty: buffered bytes first, then waits of at most
  // kSliceMs while the deadline allows.
  // open: the caller's unfinished line, put back into the source before a
  // wait (and cleared; the caller then reads it again from its start).
  DrainEnd Fill(Deadline deadline, std::string* open = nullptr);
  // The one body loop of Body and Lines, ended by ReplyEnd; keep, when set,
  // gets every line.
  DrainEnd ReadBody(Deadline deadline, std::string_view taken, std::vector<std::string>* keep, bool unstuff);

  RawReplySource& source_;
  std::string pending_;
  size_t offset_ = 0;  // consumed bytes at the front of pending_
  std::string error_;
};

// An exchange that says, before each wait, which reply it awaits; Finish
// then reads exactly that reply to its end. One command at a time.
class TrackedExchange : public OutstandingExchange {
 public:
  explicit TrackedExchange(RawReplySource& source) : source_(source) {}

  // A status line is awaited, followed by a body when it is positive and
  // multiLine says so.
  void AwaitStatus(bool multiLine);
  // A positive status line has been read; its body is awaited. *taken is the
  // reader's own buffer of it and may grow until Finish reads it.
  void AwaitBody(const std::string* taken);
  // Nothing is owed.
  void Received();

  bool Finish(Deadline deadline) override;
  bool OwesLongReply() const override {
    return owed_ == Owed::Body || (owed_ == Owed::Status && multiLine_);
  }

 private:
  enum class Owed { Nothing, Status, Body };
  RawReplySource& source_;
  Owed owed_ = Owed::Nothing;
  bool multiLine_ = false;
  const std::string* taken_ = nullptr;
};

}  // namespace brevan
