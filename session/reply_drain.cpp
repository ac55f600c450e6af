#include "session/reply_drain.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "common/trim.h"

namespace brevan {

namespace {

constexpr int kSliceMs = 50;  // the longest single wait: the deadline is kept closely, and the window serviced


int RemainingMs(Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, kSliceMs));
}

}  // namespace

DrainEnd ReplyDrain::Fill(Deadline deadline, std::string* open) {
  // Bytes at the front of the source that this drain put back: they are no
  // news, and only more than them ends a wait.
  size_t held = 0;
  for (;;) {
    if (offset_ < pending_.size()) return DrainEnd::Done;
    // An endless reply keeps data coming: the deadline is checked before
    // every piece, not only before waits.
    if (std::chrono::steady_clock::now() >= deadline) return DrainEnd::TimedOut;
    pending_.clear();
    offset_ = 0;
    try {
      const int buffered = source_.BufferedByteCount();
      if (buffered > 0 && static_cast<size_t>(buffered) > held) {
        pending_ = source_.TakeBytes(buffered);
        if (held > 0 && open) open->clear();  // the caller reads its line again from the start
        continue;
      }
      if (!source_.IsOpen()) {
        if (error_.empty()) error_ = "Connection Closed Gracefully.";
        return DrainEnd::Failed;
      }
      // The window runs inside the wait, and what runs there (a disconnect
      // finishing this exchange) must find the unfinished line where the
      // server left it, not half of it in here.
      if (open && !open->empty() && held == 0) {
        source_.Unread(*open);
        held = open->size();
      }
      source_.WaitForData(std::max(1, RemainingMs(deadline)));
    } catch (const std::exception& e) {
      error_ = e.what();
      // A close may still leave bytes to read; nothing buffered is the end.
      try {
        if (static_cast<size_t>(source_.BufferedByteCount()) > held) continue;
      } catch (...) {
      }
      return DrainEnd::Failed;
    }
  }
}

DrainEnd ReplyDrain::StatusLine(Deadline deadline, std::string* status) {
  // A line longer than this is not put back during waits: it is taken as it
  // comes, and only its head is kept.
  constexpr size_t kHoldLimit = 64 * 1024;
  std::string open;     // the line so far, while it is short enough to put back
  std::string head;     // the head of an overlong line
  size_t overlong = 0;  // bytes of an overlong line so far; 0: not overlong
  for (;;) {
    const DrainEnd filled = Fill(deadline, overlong ? nullptr : &open);
    if (filled != DrainEnd::Done) return filled;
    const char* begin = pending_.data() + offset_;
    const size_t available = pending_.size() - offset_;
    const void* lf = std::memchr(begin, '\n', available);
    const size_t segment = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : available;
    if (overlong) {
      // Only the head of an overlong line is kept: the server decides the length.
      if (head.size() < kMaxStatus) head.append(begin, std::min(segment, kMaxStatus - head.size()));
      overlong += segment;
    } else {
      open.append(begin, segment);
      if (open.size() > kHoldLimit) {
        head = open.substr(0, kMaxStatus);
        overlong = open.size();
        open.clear();
      }
    }
    offset_ += segment;
    if (!lf) continue;
    ++offset_;  // the LF
    const std::string line = overlong ? head : open.substr(0, kMaxStatus);
    const size_t lineLength = overlong ? overlong : open.size();
    const std::string trimmed = TrimBlank(line);
    if (!trimmed.empty() || lineLength > line.size()) {
      if (status) *status = trimmed;
      return DrainEnd::Done;
    }
    open.clear();
    head.clear();
    overlong = 0;
  }
}

ReplyDrain::~ReplyDrain() {
  if (offset_ >= pending_.size()) return;
  try {
    source_.Unread(std::string_view(pending_).substr(offset_));
  } catch (...) {
  }
}

bool IsPositiveStatus(std::string_view status) { return status.substr(0, 3) == "+OK"; }

DrainEnd ReplyDrain::Body(Deadline deadline, std::string_view taken) {
  return ReadBody(deadline, taken, nullptr, false);
}

DrainEnd ReplyDrain::Lines(Deadline deadline, std::vector<std::string>& lines, bool unstuff) {
  return ReadBody(deadline, {}, &lines, unstuff);
}

DrainEnd ReplyDrain::ReadBody(Deadline deadline, std::string_view taken, std::vector<std::string>* keep,
                              bool unstuff) {
  ReplyEnd end;
  const size_t lastLf = taken.rfind('\n');
  end.Take(lastLf == std::string_view::npos ? taken : taken.substr(lastLf + 1));
  std::string line;  // with keep: the unfinished line so far
  for (;;) {
    const DrainEnd filled = Fill(deadline, keep ? &line : nullptr);
    if (filled != DrainEnd::Done) return filled;
    if (keep && line.empty()) end.RestartLine();  // put back: read again from its start
    const std::string_view available = std::string_view(pending_).substr(offset_);
    const std::string_view body = available.substr(0, end.Take(available));
    offset_ += body.size();
    if (keep) {
      // Every line the piece finishes; the terminating line is not one.
      size_t from = 0;
      for (size_t lf; (lf = body.find('\n', from)) != std::string_view::npos; from = lf + 1) {
        if (end.Ended() && lf + 1 == body.size()) {
          line.clear();
          break;
        }
        line.append(body.substr(from, lf - from));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (unstuff && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
        keep->push_back(std::move(line));
        line.clear();
      }
      if (!end.Ended()) line.append(body.substr(from));
    }
    if (end.Ended()) return DrainEnd::Done;
  }
}

DrainEnd ReplyDrain::Reply(bool multiLine, Deadline deadline, std::string* status) {
  std::string line;
  const DrainEnd end = StatusLine(deadline, &line);
  if (status) *status = line;
  if (end != DrainEnd::Done || !multiLine || !IsPositiveStatus(line)) return end;
  return Body(deadline);
}

void TrackedExchange::AwaitStatus(bool multiLine) {
  owed_ = Owed::Status;
  multiLine_ = multiLine;
  taken_ = nullptr;
}

void TrackedExchange::AwaitBody(const std::string* taken) {
  owed_ = Owed::Body;
  taken_ = taken;
}

void TrackedExchange::Received() {
  owed_ = Owed::Nothing;
  taken_ = nullptr;
}

bool TrackedExchange::Finish(Deadline deadline) {
  finished_ = true;
  const Owed owed = owed_;
  owed_ = Owed::Nothing;
  ReplyDrain drain(source_);
  switch (owed) {
    case Owed::Nothing:
      return true;
    case Owed::Status:
      return drain.Reply(multiLine_, deadline) == DrainEnd::Done;
    case Owed::Body:
      return drain.Body(deadline, taken_ ? std::string_view(*taken_) : std::string_view()) == DrainEnd::Done;
  }
  return false;
}

}  // namespace brevan
