#pragma once
// A command exchange whose replies the server still owes on a connection.
// While one is registered with its window, nothing else may be sent on that
// connection: a reply taken by the wrong command is how a message the user
// never marked gets deleted. A disconnect (or a closing window) ends the
// registered exchange first, and only then sends anything of its own.
#include <chrono>

namespace brevan {

using Deadline = std::chrono::steady_clock::time_point;

class OutstandingExchange {
 public:
  virtual ~OutstandingExchange() = default;

  // Ends the exchange from outside: it stops its own work and reads and
  // discards every reply still owed, waiting no later than the deadline.
  // True when nothing is owed any more and the connection may carry the next
  // command; false when a reply did not end in time or the connection failed,
  // and the caller then closes the connection without sending anything more.
  virtual bool Finish(Deadline deadline) = 0;

  // True while what is owed may be long: a multi-line reply (a message, a
  // preview, the listing) awaited or under way. A disconnect does not wait
  // for such a reply; a status line alone it reads.
  virtual bool OwesLongReply() const { return false; }

  // True once Finish has run; the exchange's own code returns quietly as soon
  // as it regains control, without touching the connection again.
  bool Finished() const { return finished_; }

  // Ends the exchange from outside without reading anything: the connection
  // is about to be closed under it (a disconnect with nothing to delete).
  void Abandon() { finished_ = true; }

 protected:
  bool finished_ = false;
};

}  // namespace brevan
