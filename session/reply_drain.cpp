#include "session/reply_drain.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>

#include "common/trim.h"

namespace brevan {

namespace {

constexpr int kSliceMs = 250;  // the longest single wait, so the deadline is kept closely

bool IsPositive(std::string_view reply) { return reply.compare(0, 3, "+OK") == 0; }

int RemainingMs(Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  return static_cast<int>(std::clamp<long long>(left.count(), 0, kSliceMs));
}

}  // namespace

DrainEnd ReplyDrain::Fill(Deadline deadline) {
  for (;;) {
    if (offset_ < pending_.size()) return DrainEnd::Done;
    // An endless reply keeps data coming: the deadline is checked before
    // every piece, not only before waits.
    if (std::chrono::steady_clock::now() >= deadline) return DrainEnd::TimedOut;
    pending_.clear();
    offset_ = 0;
    int buffered = 0;
    try {
      buffered = source_.BufferedByteCount();
      if (buffered > 0) {
        pending_ = source_.TakeBytes(buffered);
        continue;
      }
      if (!source_.IsOpen()) {
        if (error_.empty()) error_ = "Connection Closed Gracefully.";
        return DrainEnd::Failed;
      }
      source_.WaitForData(std::max(1, RemainingMs(deadline)));
    } catch (const std::exception& e) {
      error_ = e.what();
      // A close may still leave bytes to read; nothing buffered is the end.
      try {
        if (source_.BufferedByteCount() > 0) continue;
      } catch (...) {
      }
      return DrainEnd::Failed;
    }
  }
}

DrainEnd ReplyDrain::StatusLine(Deadline deadline, std::string* status) {
  std::string line;
  size_t lineLength = 0;
  for (;;) {
    const DrainEnd filled = Fill(deadline);
    if (filled != DrainEnd::Done) return filled;
    const char* begin = pending_.data() + offset_;
    const size_t available = pending_.size() - offset_;
    const void* lf = std::memchr(begin, '\n', available);
    const size_t segment = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : available;
    // Only the head of an overlong line is kept: the server decides the length.
    if (line.size() < kMaxStatus) line.append(begin, std::min(segment, kMaxStatus - line.size()));
    lineLength += segment;
    offset_ += segment;
    if (!lf) continue;
    ++offset_;  // the LF
    const std::string trimmed = TrimBlank(line);
    if (!trimmed.empty() || lineLength > line.size()) {
      if (status) *status = trimmed;
      return DrainEnd::Done;
    }
    line.clear();
    lineLength = 0;
  }
}

DrainEnd ReplyDrain::Body(Deadline deadline, std::string_view taken) {
  // Only the length of the current line and its first two bytes matter: the
  // terminating line is "." alone, before CR LF or a bare LF.
  size_t lineLength = 0;
  char head[2] = {0, 0};
  auto add = [&](const char* bytes, size_t n) {
    for (size_t i = 0; i < n && lineLength + i < 2; ++i) head[lineLength + i] = bytes[i];
    lineLength += n;
  };
  auto terminating = [&] {
    return (lineLength == 1 && head[0] == '.') || (lineLength == 2 && head[0] == '.' && head[1] == '\r');
  };
  const size_t lastLf = taken.rfind('\n');
  const std::string_view open = lastLf == std::string_view::npos ? taken : taken.substr(lastLf + 1);
  add(open.data(), open.size());

  for (;;) {
    const DrainEnd filled = Fill(deadline);
    if (filled != DrainEnd::Done) return filled;
    const char* begin = pending_.data() + offset_;
    const size_t available = pending_.size() - offset_;
    const void* lf = std::memchr(begin, '\n', available);
    const size_t segment = lf ? static_cast<size_t>(static_cast<const char*>(lf) - begin) : available;
    add(begin, segment);
    offset_ += segment;
    if (!lf) continue;
    ++offset_;
    if (terminating()) return DrainEnd::Done;
    lineLength = 0;
  }
}

DrainEnd ReplyDrain::Reply(bool multiLine, Deadline deadline, std::string* status) {
  std::string line;
  const DrainEnd end = StatusLine(deadline, &line);
  if (status) *status = line;
  if (end != DrainEnd::Done || !multiLine || !IsPositive(line)) return end;
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
