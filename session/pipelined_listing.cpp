#include "session/pipelined_listing.h"

#include <algorithm>
#include <exception>

#include "common/trim.h"
#include "net/tcp_client.h"
#include "session/reply_drain.h"

namespace brevan {

namespace {

using Clock = std::chrono::steady_clock;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

int MillisecondsSince(Clock::time_point then) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - then).count());
}

}  // namespace

bool CapabilitiesOfferPipelining(const std::vector<std::string>& capabilityLines) {
  for (const std::string& line : capabilityLines) {
    // RFC 2449 section 5: a capability is a tag, then its blank-separated
    // parameters; tags are case-insensitive.
    const std::string_view trimmed = TrimBlankView(line);
    const std::string_view tag = trimmed.substr(0, trimmed.find_first_of(" \t"));
    if (AsciiLower(tag) == "pipelining") return true;
  }
  return false;
}

PipelinedListing::PipelinedListing(TIdTCPConnection& connection, bool pipelining,
                                   const std::vector<std::string>& rules, ListingSteps steps, bool askUidl)
    : connection_(connection), pipelining_(pipelining), askUidl_(askUidl), rules_(rules), steps_(std::move(steps)) {}

size_t PipelinedListing::Owed() const {
  const size_t begun = unsentFrom_ + (partSent_ > 0 ? 1 : 0);
  return begun > nextReply_ ? begun - nextReply_ : 0;
}

void PipelinedListing::QueueCommands() {
  if (messageCount_ < 0) return;
  while (nextNumber_ <= messageCount_) {
    const bool nothingOwed = nextReply_ == commands_.size();
    std::string text = "top " + std::to_string(nextNumber_) + " 0\r\n";
    // Without pipelining a command waits for the reply before it; with it,
    // commands go ahead while their bytes stay within the window.
    const bool fits = pipelining_ ? outstandingBytes_ + text.size() <= kPipelineWindowBytes : false;
    if (!nothingOwed && !fits) break;
    outstandingBytes_ += text.size();
    out_ += text;
    commands_.push_back({std::move(text), nextNumber_});
    ++nextNumber_;
  }
}

void PipelinedListing::Pump(int waitMs) {
  const Clock::time_point before = Clock::now();
  size_t sent = connection_.SendSomeAndReceive(out_, waitMs);
  waited_ += Clock::now() - before;
  if (sent == 0) return;
  out_.erase(0, sent);
  while (sent > 0 && unsentFrom_ < commands_.size()) {
    const size_t left = commands_[unsentFrom_].text.size() - partSent_;
    if (sent >= left) {
      sent -= left;
      ++unsentFrom_;
      partSent_ = 0;
    } else {
      partSent_ += sent;
      sent = 0;
    }
  }
  if (steps_.CommandsSent) steps_.CommandsSent();
}

bool PipelinedListing::ServiceDue() const {
  const int wall = MillisecondsSince(lastService_);
  const int own = wall - static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(waited_).count());
  return own >= kListingServiceMs || wall >= kListingEventsBoundMs;
}

void PipelinedListing::Service() {
  lastService_ = Clock::now();
  waited_ = {};
  if (steps_.ProcessEvents) steps_.ProcessEvents();
  // The events may have run for a while (a message box, say): the budget
  // counts from their end.
  lastService_ = Clock::now();
}

bool PipelinedListing::NextLine(std::string& line) {
  const size_t lf = pending_.find('\n', pendingAt_);
  if (lf == std::string::npos) {
    // Keep only the uncut tail, so the buffer never grows with the mailbox.
    pending_.erase(0, pendingAt_);
    pendingAt_ = 0;
    return false;
  }
  line.assign(pending_, pendingAt_, lf - pendingAt_);
  pendingAt_ = lf + 1;
  // The line rules of the connection: LF ends a line, one CR before it goes.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

bool PipelinedListing::TakeReplies(bool discard) {
  const int buffered = connection_.BufferedByteCount();
  if (buffered > 0) pending_ += connection_.TakeBytes(buffered);
  std::string line;
  while (nextReply_ < commands_.size() && NextLine(line)) {
    TakeLine(line, discard);
    if (!discard && ServiceDue()) {
      Service();
      if (finished_) return false;
      if (steps_.Stop && steps_.Stop()) {
        stopped_ = true;
        return false;
      }
    }
  }
  return true;
}

// A status line: blank lines are skipped, the line is trimmed, and a line
// whose 4th character is "-" continues until a line that is shorter than 4
// characters or starts with its first three characters and a blank.
void PipelinedListing::TakeLine(const std::string& line, bool discard) {
  switch (part_) {
    case ReplyPart::Status: {
      std::string status = TrimBlank(line);
      if (status.empty()) return;
      statusLines_.push_back(status);
      if (status.size() > 3 && status[3] == '-') {
        endPrefix_ = status.substr(0, 3) + " ";
        part_ = ReplyPart::StatusContinued;
        return;
      }
      StatusDone(discard);
      return;
    }
    case ReplyPart::StatusContinued: {
      std::string status = TrimBlank(line);
      if (status.empty()) return;
      statusLines_.push_back(status);
      if (status.size() < 4 || StartsWithNoCase(status, endPrefix_)) StatusDone(discard);
      return;
    }
    case ReplyPart::Lines:
      // Lines are kept as received: no trimming, doubled dots stay doubled.
      if (IsTerminatingLine(line)) {
        ReplyTaken(discard);
        return;
      }
      replyLines_.push_back(line);
      return;
  }
}

void PipelinedListing::StatusDone(bool discard) {
  const Command& command = commands_[nextReply_];
  // The LIST status is not judged: its lines are read up to "." whatever it
  // says. A UIDL or TOP reply has lines only after "+OK".
  if (command.number == 0 || IsPositiveStatus(statusLines_.back())) {
    part_ = ReplyPart::Lines;
    return;
  }
  ReplyTaken(discard);
}

void PipelinedListing::ReplyTaken(bool discard) {
  const Command command = commands_[nextReply_];
  const bool positive = part_ == ReplyPart::Lines;
  ++nextReply_;
  outstandingBytes_ -= command.text.size();
  part_ = ReplyPart::Status;
  statusLines_.clear();
  std::vector<std::string> lines;
  lines.swap(replyLines_);
  if (discard) return;

  // The next commands go before this reply is worked on: a server with
  // nothing else to do (always so without pipelining) answers while the
  // headers are decoded and judged. A failure of this send is reported
  // after the reply has been, as when the next command itself fails.
  if (command.number == 0) {
    messageCount_ = static_cast<int>(lines.size());
    // The unique ids come before the first TOP reply, so every row knows its
    // id from its start.
    if (askUidl_ && messageCount_ > 0) {
      std::string text = "uidl\r\n";
      outstandingBytes_ += text.size();
      out_ += text;
      commands_.push_back({std::move(text), kUidlCommand});
    }
  }
  std::exception_ptr sendFailure;
  if (unsentFrom_ == nextReply_) {
    QueueCommands();
    try {
      if (!out_.empty()) Pump(0);
    } catch (...) {
      sendFailure = std::current_exception();
    }
  }

  if (command.number == 0) {
    listLines_ = std::move(lines);
    messageCount_ = static_cast<int>(listLines_.size());
    if (steps_.Listed) steps_.Listed(listLines_);
  } else if (command.number == kUidlCommand) {
    if (positive && steps_.UidsTaken) steps_.UidsTaken(lines);
  } else if (positive) {
    ListedHeaders headers;
    for (const std::string& line : lines) TakeHeaderLine(line, rules_, headers);
    headers.HeaderLines = std::move(lines);
    if (steps_.HeadersTaken) steps_.HeadersTaken(command.number, headers);
  }
  // After "list" the first row starts with the reply after it: the UIDL
  // reply's, when one was asked.
  const bool uidlNext = command.number == 0 && nextReply_ < commands_.size() &&
                        commands_[nextReply_].number == kUidlCommand;
  const int next = command.number == kUidlCommand ? 1 : command.number + 1;
  if (!uidlNext && next <= messageCount_ && steps_.MessageStarted) steps_.MessageStarted(next);
  QueueCommands();
  if (sendFailure) std::rethrow_exception(sendFailure);
}

PipelinedListing::End PipelinedListing::Run() {
  lastService_ = Clock::now();
  out_ = "list\r\n";
  commands_.push_back({out_, 0});
  outstandingBytes_ = out_.size();
  for (;;) {
    if (!TakeReplies(false)) return finished_ ? End::Finished : End::Stopped;
    if (messageCount_ >= 0 && nextReply_ == commands_.size()) return End::Complete;
    const int wait =
        std::clamp(kListingEventsBoundMs - MillisecondsSince(lastService_), 0, kListingEventsBoundMs);
    Pump(wait);
    if (ServiceDue()) {
      Service();
      if (finished_) return End::Finished;
      if (steps_.Stop && steps_.Stop()) return End::Stopped;
    }
  }
}

bool PipelinedListing::Finish(Deadline deadline) {
  // A Finish from inside our own servicing of the window (a second
  // disconnect while the first one drains) cannot drain as well: the caller
  // abandons the connection, and the first drain then fails on it.
  if (finishing_) return false;
  finishing_ = true;
  finished_ = true;
  // Commands not begun are never sent. One cut short in the socket must be
  // completed, or the next command would run into it on the same line.
  const size_t begun = unsentFrom_ + (partSent_ > 0 ? 1 : 0);
  commands_.resize(std::max(begun, nextReply_));
  out_ = partSent_ > 0 ? commands_[unsentFrom_].text.substr(partSent_) : std::string();
  try {
    for (;;) {
      TakeReplies(true);
      if (nextReply_ >= commands_.size()) return true;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return false;
      Pump(static_cast<int>(std::min<long long>(left, kListingServiceMs)));
      if (ServiceDue()) Service();
    }
  } catch (...) {
    return false;
  }
}

}  // namespace brevan
