#pragma once
// The header listing's dialogue with the server, without a window: "list",
// "uidl" where asked for, then "top k 0" for every message. Where the server declared PIPELINING in
// its CAPA reply (RFC 2449 section 6.6) the TOP commands go out ahead of their
// replies, up to a bound of outstanding command bytes, and the replies are
// taken in order; elsewhere each command waits for the reply before it. Either
// way every reply is taken by the same rules, so the rows come out the same.
//
// While replies are owed, nothing else may be sent on the connection: the
// listing is an OutstandingExchange, and Finish (from a disconnect) ends it
// and reads every reply still owed before the connection carries anything
// else.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "session/outstanding_exchange.h"
#include "session/pop3_exchanges.h"

namespace brevan {

class TIdTCPConnection;

// True when a CAPA reply's lines (between its status line and its ".") hold
// the PIPELINING capability: the first word of a line, in any case.
bool CapabilitiesOfferPipelining(const std::vector<std::string>& capabilityLines);

// Bytes of TOP commands the pipelined listing keeps outstanding: a few
// thousand messages go out in a handful of round trips, and the commands
// always fit the socket buffers of both ends.
constexpr size_t kPipelineWindowBytes = 16 * 1024;
// The listing lets the window handle its events (and so paint) after this
// much work of its own...
constexpr int kListingServiceMs = 30;
// ...and, however little of it there was (a server answering one command at
// a time keeps the listing mostly waiting), at least this often.
constexpr int kListingEventsBoundMs = 35;

// What the listing reports as it goes; every member may be empty.
struct ListingSteps {
  // The LIST reply's lines, before any TOP reply is taken.
  std::function<void(const std::vector<std::string>& listLines)> Listed;
  // The lines of a positive UIDL reply ("number unique-id"), before the
  // first TOP reply is taken; not called when the server refused it.
  std::function<void(const std::vector<std::string>& uidlLines)> UidsTaken;
  // The reply to "top number 0" is the next one taken: its row starts here.
  std::function<void(int number)> MessageStarted;
  // The headers of a positive TOP reply (a refused one reports nothing).
  std::function<void(int number, const ListedHeaders& headers)> HeadersTaken;
  // Commands just went out (the activity tick).
  std::function<void()> CommandsSent;
  // Lets the window handle its pending events.
  std::function<void()> ProcessEvents;
  // True once the window began to close: the listing stops where it is.
  std::function<bool()> Stop;
};

class PipelinedListing : public OutstandingExchange {
 public:
  // rules: the junk rules, read as each subject is judged. askUidl: the
  // server offers UIDL (RFC 1939 section 7); it is asked right after "list".
  PipelinedListing(TIdTCPConnection& connection, bool pipelining, const std::vector<std::string>& rules,
                   ListingSteps steps, bool askUidl = false);

  enum class End {
    Complete,  // every message listed
    Finished,  // ended from outside by Finish
    Stopped,   // Stop answered true; replies may still be owed
  };
  // Runs the whole listing. Transport failures raise (the connection's
  // errors); the messages taken so far have been reported.
  End Run();

  bool Finish(Deadline deadline) override;
  bool OwesLongReply() const override { return Owed() > 0; }

  // Commands sent (wholly or in part) whose replies have not been taken.
  size_t Owed() const;

 private:
  // One reply, taken line by line as the lines arrive.
  enum class ReplyPart { Status, StatusContinued, Lines };
  struct Command {
    std::string text;  // with CR LF
    int number;        // 0: "list"; kUidlCommand: "uidl"
  };

  void QueueCommands();
  // Takes every complete line the connection has buffered into the reply in
  // progress. discard: replies owed at a Finish, read and dropped. False when
  // the listing was ended or stopped while it let the window run.
  bool TakeReplies(bool discard);
  bool NextLine(std::string& line);
  void TakeLine(const std::string& line, bool discard);
  void StatusDone(bool discard);
  void ReplyTaken(bool discard);
  void Pump(int waitMs);
  bool ServiceDue() const;
  void Service();

  static constexpr int kUidlCommand = -1;

  TIdTCPConnection& connection_;
  const bool pipelining_;
  const bool askUidl_;
  const std::vector<std::string>& rules_;
  ListingSteps steps_;

  std::vector<Command> commands_;  // in the order sent; replies taken in the same order
  size_t nextReply_ = 0;           // index into commands_ of the reply being taken
  std::string out_;                // bytes of commands not yet sent
  size_t outstandingBytes_ = 0;    // command bytes whose replies are not taken yet
  size_t unsentFrom_ = 0;          // index of the first command not wholly sent
  size_t partSent_ = 0;            // bytes of that command already sent
  int messageCount_ = -1;          // known after the LIST reply
  int nextNumber_ = 1;             // the next TOP to queue

  std::string pending_;  // received bytes not yet cut into lines
  size_t pendingAt_ = 0;  // where the uncut bytes of pending_ start
  ReplyPart part_ = ReplyPart::Status;
  std::vector<std::string> statusLines_;
  std::string endPrefix_;
  std::vector<std::string> replyLines_;
  std::vector<std::string> listLines_;

  std::chrono::steady_clock::time_point lastService_;
  std::chrono::steady_clock::duration waited_{};  // in the socket wait since lastService_
  bool finishing_ = false;
  bool stopped_ = false;
};

}  // namespace brevan
