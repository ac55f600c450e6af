#pragma once
// A message downloaded straight into its file. The RETR reply goes, as it
// arrives, into a temporary file with a short name in the download folder;
// only the part that may still be the start of the terminating line is held
// back, so memory stays the same whatever the message's size. The file gets
// its real name by a rename once the reply has ended and the file is on the
// disk; every other way out removes it, so nothing ever appears under a
// message's name that is not the whole message.
//
// The file holds exactly what the whole-text read gives: the reply without
// its terminating line (RemoveReplyTerminator), then one CR LF.
#include <functional>
#include <string>

#include "common/file_io.h"
#include "session/message_writer.h"
#include "session/outstanding_exchange.h"
#include "session/pop3_exchanges.h"

namespace brevan {

class MessageDownload : public OutstandingExchange {
 public:
  // source: the connection the RETR went out on. The exchange is owed from
  // the moment the command is sent: first its status line, then, when that
  // is positive, the message.
  explicit MessageDownload(RawReplySource& source) : source_(source) {}
  ~MessageDownload() override = default;  // the temporary file goes with it
  MessageDownload(const MessageDownload&) = delete;
  MessageDownload& operator=(const MessageDownload&) = delete;

  // The status line has been read; accepted when the message follows it.
  void StatusRead(bool accepted) { phase_ = accepted ? Phase::Message : Phase::Done; }

  // Creates the temporary file in folder. When it cannot be created the
  // message is still read to its end (the server sends it anyway) and
  // dropped, and Written() is false.
  bool Open(const std::string& folder);

  // The raw reply read, each piece written as it comes. On Complete the file
  // holds the message and its closing CR LF, unless a write failed.
  RawReplyEnd Read(const RawReplyEvents& events);

  // True while every byte of the message so far is in the file.
  bool Written() const { return writer_.Written(); }

  // Waits until the file is on the disk. The wait itself runs on a thread of
  // its own (that one blocking call and nothing else) while service runs
  // here every few milliseconds, so the window stays alive however slow the
  // disk is. False when the file could not be made durable.
  bool Sync(const std::function<void()>& service) { return writer_.Sync(service); }

  // Gives the file its real name (see TemporaryFile::PlaceAs).
  bool PlaceAs(const std::string& path) { return writer_.File().PlaceAs(path); }

  // Ends the download from outside (a disconnect, a closing window): the
  // temporary file goes, and what is left of the reply is read and dropped
  // until its end or the deadline.
  bool Finish(Deadline deadline) override;
  // The message follows its status line: the whole reply is long.
  bool OwesLongReply() const override { return phase_ != Phase::Done; }

  const TemporaryFile& File() const { return writer_.File(); }

 private:
  enum class Phase { Status, Message, Done };

  bool ReadStatusLine(Deadline deadline, bool& accepted);
  bool DropRestOfMessage(Deadline deadline);

  RawReplySource& source_;
  Phase phase_ = Phase::Status;
  MessageWriter writer_;
};

}  // namespace brevan
