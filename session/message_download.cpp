#include "session/message_download.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <system_error>

#include "session/reply_drain.h"

namespace brevan {

namespace {

using Clock = std::chrono::steady_clock;

// The longest single wait while a reply is drained against a deadline: the
// connection services the window after each one.
constexpr int kDrainSliceMs = 50;
// The file is written in pieces of this size: the received chunks are small,
// and a write costs the file system far less per byte when it is large.
constexpr size_t kWriteBatch = 1024 * 1024;
// How often the window is serviced while the file is flushed to the disk.
constexpr std::chrono::milliseconds kSyncServiceInterval{5};

// Milliseconds left until the deadline, at most one slice; 0 when it has passed.
int WaitBefore(Deadline deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<long long>(left, kDrainSliceMs));
}

}  // namespace

bool MessageDownload::Open(const std::string& folder) {
  writeFailed_ = false;
  return file_.Create(folder);
}

void MessageDownload::Write(std::string_view bytes) {
  if (writeFailed_ || !file_.IsOpen()) return;
  if (batch_.capacity() < kWriteBatch) batch_.reserve(kWriteBatch);
  batch_.append(bytes);
  if (batch_.size() >= kWriteBatch) WriteBatch();
}

void MessageDownload::WriteBatch() {
  if (!writeFailed_ && file_.IsOpen() && !batch_.empty()) {
    // A failed write has removed the file; the rest of the reply is dropped.
    if (!file_.Write(batch_)) writeFailed_ = true;
  }
  batch_.clear();
}

RawReplyEnd MessageDownload::Read(const RawReplyEvents& events) {
  RawReplyEvents hooks = events;
  // A Finish that ran inside one of the read's waits has taken the rest of
  // the reply: the read must not touch the connection again.
  hooks.Stop = [this, &events] { return finished_ || (events.Stop && events.Stop()); };
  const RawReplyEnd end =
      ReadRawReply(source_, filter_, [this](std::string_view bytes) { Write(bytes); }, hooks);
  if (end == RawReplyEnd::Complete) {
    phase_ = Phase::Done;
    Write("\r\n");
    WriteBatch();
  } else {
    file_.Remove();
  }
  return end;
}

bool MessageDownload::Sync(const std::function<void()>& service) {
  if (!Written()) return false;
  std::future<bool> synced;
  try {
    synced = std::async(std::launch::async, [this] { return file_.Sync(); });
  } catch (const std::system_error&) {
    return file_.Sync();  // no thread to be had: wait here
  }
  while (synced.wait_for(kSyncServiceInterval) != std::future_status::ready) {
    if (service) service();
  }
  return synced.get();
}

bool MessageDownload::Finish(Deadline deadline) {
  finished_ = true;
  file_.Remove();
  batch_.clear();
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
    if (buffered > 0) filter_.Take(source_.TakeBytes(std::min(buffered, kRawReplyChunk)), drop);
    if (filter_.Ended()) return true;
    if (buffered > kRawReplyChunk) continue;
    if (!source_.IsOpen()) return false;
    const int wait = WaitBefore(deadline);
    if (wait <= 0) return false;
    source_.WaitForData(wait);
  }
}

}  // namespace brevan
