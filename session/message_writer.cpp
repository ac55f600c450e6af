#include "session/message_writer.h"

#include <chrono>
#include <future>
#include <system_error>

namespace brevan {

namespace {

// The file is written in pieces of this size: the received chunks are small,
// and a write costs the file system far less per byte when it is large.
constexpr size_t kWriteBatch = 1024 * 1024;
// How often the window is serviced while the file is flushed to the disk.
constexpr std::chrono::milliseconds kSyncServiceInterval{5};

}  // namespace

bool MessageWriter::Open(const std::string& folder) {
  writeFailed_ = false;
  return file_.Create(folder);
}

void MessageWriter::Write(std::string_view bytes) {
  if (writeFailed_ || !file_.IsOpen()) return;
  if (batch_.capacity() < kWriteBatch) batch_.reserve(kWriteBatch);
  batch_.append(bytes);
  if (batch_.size() >= kWriteBatch) WriteBatch();
}

void MessageWriter::WriteBatch() {
  if (!writeFailed_ && file_.IsOpen() && !batch_.empty()) {
    // A failed write has removed the file; the rest of the reply is dropped.
    if (!file_.Write(batch_)) writeFailed_ = true;
  }
  batch_.clear();
}

void MessageWriter::End() {
  filter_.Flush(Output());
  Write("\r\n");
  WriteBatch();
}

void MessageWriter::Drop() {
  file_.Remove();
  batch_.clear();
}

bool MessageWriter::Sync(const std::function<void()>& service) {
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

}  // namespace brevan
