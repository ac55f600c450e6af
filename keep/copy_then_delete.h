#pragma once
// The deletion at disconnect that keeps a copy first: for each marked message
// "retr", the reply written as a download writes it into the account's folder
// of kept copies, made durable and given its name, and only then "dele". A
// message whose copy cannot be made (a refused "retr", a lost connection, a
// full disk, a folder that cannot be written) is not deleted, and the result
// says why. Where the server declared PIPELINING (RFC 2449 section 6.6) the
// "retr" commands go out ahead of their replies and each "dele" goes as soon
// as its copy is kept; elsewhere every command waits for the reply before it.
// With copies turned off the messages are deleted as they always were.
//
// Everything the server sends here is untrusted: replies are taken strictly
// in the order the commands went out, and nothing of a reply reaches a file
// name or a message.
#include <chrono>
#include <ctime>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace brevan {

class TIdTCPConnection;
class MessageWriter;

// One marked message: its number on this connection and its subject as the
// list shows it (code page), which names its copy.
struct MarkedMessage {
  int number = 0;
  std::string subject;
};

enum class StayReason {
  None,               // deleted: the server confirmed the "dele"
  RetrRefused,        // the server refused the "retr"
  ConnectionLost,     // the connection failed first
  DiskFull,           // no space (or a file-size limit) for the copy
  FolderNotWritable,  // the folder of kept copies cannot be written
  CopyFailed,         // the copy could not be written or made durable
  Stopped,            // a cancel or a close came first
  DeleRefused,        // the server refused the "dele"
  NoReply,            // the server did not answer in time
  // A disconnect dropped its connection in the middle of a long reply, and
  // the message was to be deleted on a fresh connection:
  NoUniqueId,         // the server gave it no unique id, so it cannot be found again
  NotReopened,        // no fresh connection (or its UIDL) could be had
  Gone,               // its id is no longer on the server
};

struct MessageOutcome {
  int number = 0;
  std::string subject;
  StayReason reason = StayReason::Stopped;
  std::string copyPath;  // the kept copy; empty when none is kept
};

struct CopyThenDeleteResult {
  std::vector<MessageOutcome> messages;  // one per marked message, in the order given
  // Every reply owed was read: the connection may carry the "quit" that
  // commits the deletions (RFC 1939 section 6). Otherwise it must be closed
  // without one, and nothing at all is deleted.
  bool connectionUsable = true;
  std::string error;  // the connection's failure, when it failed

  std::vector<int> Deleted() const;
};

struct CopySteps {
  // After each step: a message's copy kept (or given up), a message settled
  // (its "dele" answered, or given up). With copies turned off a message
  // has only the second step.
  std::function<void(int done, int total)> Progress;
  // Commands just went out (the activity tick).
  std::function<void()> CommandsSent;
  // Lets the window handle its pending events.
  std::function<void()> ProcessEvents;
  // True once the user cancelled or the window began to close: no copy and
  // no "dele" goes out any more; what is owed is read to its end.
  std::function<bool()> Stop;
  // The time a copy is kept at (its name); the clock when empty.
  std::function<std::time_t()> Now;
};

// At most this many "retr" replies are owed at once: enough to keep a 20 ms
// round trip busy, few enough that a cancel reads little more.
constexpr int kKeepPipelineDepth = 32;

class CopyThenDelete {
 public:
  // keptFolder: the account's folder of kept copies (KeptAccountFolder);
  // empty when copies are turned off. marked: in the order the "dele"
  // commands go out.
  CopyThenDelete(TIdTCPConnection& connection, bool pipelining, std::string keptFolder,
                 std::vector<MarkedMessage> marked, CopySteps steps);
  ~CopyThenDelete();
  CopyThenDelete(const CopyThenDelete&) = delete;
  CopyThenDelete& operator=(const CopyThenDelete&) = delete;

  // The longest wait for the server's next bytes while a reply is owed.
  void SetReplyBound(std::chrono::milliseconds bound) { replyBound_ = bound; }

  // Runs the whole exchange; transport failures end up in the result, and
  // every temporary file is gone when it returns.
  CopyThenDeleteResult Run();

 private:
  enum class Kind { Retr, Dele };
  struct Command {
    Kind kind;
    size_t index;  // into the result's messages
    std::string text;
  };

  void QueueCommands();
  void Queue(Kind kind, size_t index);
  bool NothingOwed() const { return nextReply_ == commands_.size(); }
  void Pump(int waitMs);
  void TakeReplies();
  bool TakeStatusLine();
  bool TakeBody();
  void BodyEnded();
  // Copies whose flush to the disk has ended get their names; once none is
  // ready, one flush of the folder makes the names durable and their "dele"
  // commands may go. wait: until every flush has ended.
  void PlaceSynced(bool wait);
  void Stayed(size_t index, StayReason reason);
  void CopyStepDone(size_t index);
  void ReportProgress();
  void Settle(size_t index, StayReason reason);
  void StopSending();
  void Service();
  void Fail(StayReason reason);

  TIdTCPConnection& connection_;
  const bool pipelining_;
  const std::string folder_;
  CopySteps steps_;
  std::chrono::milliseconds replyBound_{30000};
  CopyThenDeleteResult result_;

  std::vector<Command> commands_;  // in the order sent; replies taken in the same order
  size_t nextReply_ = 0;
  size_t unsentFrom_ = 0;  // the first command not wholly sent
  size_t partSent_ = 0;    // bytes of it already sent
  std::string out_;        // bytes of commands not yet sent
  size_t nextRetr_ = 0;    // the next message to "retr"
  int retrOwed_ = 0;
  std::vector<size_t> deleQueue_;  // copies kept, "dele" not yet queued
  std::vector<bool> settledFlags_;
  std::vector<bool> copyCounted_;  // the message's copy step is done
  std::vector<bool> deleSent_;     // the message's "dele" went out, wholly or in part
  int settled_ = 0;
  int copiesDone_ = 0;
  bool stopping_ = false;

  std::string pending_;  // received bytes not yet taken
  size_t pendingAt_ = 0;
  bool inBody_ = false;
  std::unique_ptr<MessageWriter> writer_;

  // Copies whole in their temporary files, on their way to the disk: the
  // flushes run on threads of their own, several at once (the file system
  // commits them together), while the replies after them are read.
  struct Syncing {
    size_t index;
    std::unique_ptr<MessageWriter> writer;
    std::future<bool> synced;  // declared last: joined before the writer goes
  };
  std::deque<Syncing> syncing_;
  std::vector<size_t> placed_;  // named, the folder not yet flushed

  std::chrono::steady_clock::time_point lastBytes_;
  std::chrono::steady_clock::time_point lastService_;
};

// The one message shown at the end when not every marked message was
// deleted: which stayed on the server and why, in the code page; empty when
// all were. committed: the "quit" went out; without it nothing was deleted.
std::string StayedOnServerText(const CopyThenDeleteResult& result, bool committed);

}  // namespace brevan
