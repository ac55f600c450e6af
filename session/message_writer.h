#pragma once
// A message file written as the RETR reply arrives: the reply's bytes go
// through the terminator filter into a temporary file with a short name in
// the target folder, in large pieces; at the end the file holds the reply
// without its terminating line (RemoveReplyTerminator), then one CR LF, and is
// made durable before it takes its real name. Every way out that is not a
// placed file removes it, so nothing ever appears under a message's name that
// is not the whole message. The download and the copy kept before a deletion
// both write this way, so their files are byte for byte the same.
#include <functional>
#include <string>
#include <string_view>

#include "common/file_io.h"
#include "session/pop3_exchanges.h"

namespace brevan {

class MessageWriter {
 public:
  MessageWriter() = default;
  MessageWriter(const MessageWriter&) = delete;
  MessageWriter& operator=(const MessageWriter&) = delete;

  // Creates the temporary file in folder. When it cannot be created the
  // reply is still taken (the server sends it anyway) and dropped, and
  // Written() is false.
  bool Open(const std::string& folder);

  // The filter the raw reply goes through, and where its output goes.
  ReplyTerminatorFilter& Filter() { return filter_; }
  void Write(std::string_view bytes);
  ReplyTerminatorFilter::Output Output() {
    return [this](std::string_view bytes) { Write(bytes); };
  }

  // The reply ended: the held-back bytes and the closing CR LF go to the file.
  void End();
  // The reply did not end: the file goes.
  void Drop();

  // True while every byte of the message so far is in the file.
  bool Written() const { return file_.IsOpen() && !writeFailed_; }
  // errno of the create or write that failed; 0 when none did.
  int Error() const { return file_.Error(); }

  // Waits until the file is on the disk. The wait itself runs on a thread of
  // its own (that one blocking call and nothing else) while service runs
  // here every few milliseconds, so the window stays alive however slow the
  // disk is. False when the file could not be made durable.
  bool Sync(const std::function<void()>& service);

  TemporaryFile& File() { return file_; }
  const TemporaryFile& File() const { return file_; }

 private:
  void WriteBatch();

  ReplyTerminatorFilter filter_;
  TemporaryFile file_;
  bool writeFailed_ = false;
  std::string batch_;  // received bytes on their way to the file
};

}  // namespace brevan
