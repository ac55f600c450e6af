#include "session/message_download.h"

#include <algorithm>
#include <chrono>

#include "session/reply_drain.h"

namespace brevan {

namespace {

using Clock = std::chrono::steady_clock;

// The longest single wait while a reply is drained against a deadline: the
// connection services the window after each one.
constexpr int kDrainSliceMs = 50;

// Milliseconds left until the deadline, at most one slice; 0 when it has passed.
int WaitBefore(Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, kDrainSliceMs));
}

}  // namespace

bool MessageDownload::Open(const std::string& folder) { return writer_.Open(folder); }

RawReplyEnd MessageDownload::Read(const RawReplyEvents& events) {
  RawReplyEvents hooks = events;
  // A Finish that ran inside one of the read's waits has taken the rest of
  // the reply: the read must not touch the connection again.
  hooks.Stop = [this, &events] { return finished_ || (events.Stop && events.Stop()); };
  const RawReplyEnd end = ReadRawReply(source_, writer_.Filter(), writer_.Output(), hooks);
  if (end == RawReplyEnd::Complete) {
    phase_ = Phase::Done;
    writer_.End();
  } else {
    writer_.Drop();
  }
  return end;
}

bool MessageDownload::Finish(Deadline deadline) {
  finished_ = true;
  writer_.Drop();
  try {
    if (phase_ == Phase::Status) {
      bool accepted = false;
      if (!ReadStatusLine(deadline, accepted)) return false;
      phase_ = accepted ? Phase::Message : Phase::Done;
    }
    if (phase_ == Phase::Message) {
      if (!DropRestOfMessage(deadline)) return false;
      phase_ = Phase::Done;
    }
    return true;
  } catch (...) {
    // The connection failed under the drain: the rest of the reply is lost
    // with it.
    return false;
  }
}

bool MessageDownload::ReadStatusLine(Deadline deadline, bool& accepted) {
  std::string status;
  ReplyDrain reader(source_);
  if (reader.StatusLine(deadline, &status) != DrainEnd::Done) return false;
  accepted = IsPositiveStatus(status);
  return true;
}

bool MessageDownload::DropRestOfMessage(Deadline deadline) {
  const auto drop = [](std::string_view) {};
  for (;;) {
    const int buffered = source_.BufferedByteCount();
    if (buffered > 0) {
      const std::string bytes = source_.TakeBytes(std::min(buffered, kRawReplyChunk));
      const size_t used = writer_.Filter().Take(bytes, drop);
      if (used < bytes.size()) source_.Unread(std::string_view(bytes).substr(used));
    }
    if (writer_.Filter().Ended()) return true;
    if (buffered > kRawReplyChunk) continue;
    if (!source_.IsOpen()) return false;
    const int wait = WaitBefore(deadline);
    if (wait <= 0) return false;
    source_.WaitForData(wait);
  }
}

}  // namespace brevan
