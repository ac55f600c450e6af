#pragma once
// The demo mailbox as a POP3 server sees it (RFC 1939): one store of messages
// shared by every connection, and one session per connection with its own
// view of the store. Any number of sessions may be open at once, as with a
// real server: each numbers the messages that were there when it logged in,
// marks deletions for itself, and applies them to the store at its QUIT.
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brevan {

class DemoMailStore {
 public:
  // Messages with CR LF line ends, as they are served.
  explicit DemoMailStore(std::vector<std::string> messages);

  // The messages not deleted by a committed QUIT, as store indices.
  std::vector<size_t> Present() const;
  const std::string& Message(size_t index) const { return messages_[index]; }
  // Deletes the messages for good; one already deleted stays deleted.
  void Delete(const std::vector<size_t>& indices);

 private:
  const std::vector<std::string> messages_;  // never changed: readable without the lock
  mutable std::mutex mutex_;
  std::vector<bool> deleted_;
};

class DemoPop3Session {
 public:
  DemoPop3Session(DemoMailStore& store, std::string user, std::string password);

  // The greeting the server sends first.
  std::string Greeting() const;
  // The whole reply (status line and any multi-line body, each line ending in
  // CR LF) to one command line without its line end.
  std::string Answer(const std::string& line);
  // True once QUIT was answered: the server then closes the connection.
  bool Ended() const { return ended_; }

 private:
  const std::string* Numbered(const std::string& text, size_t& slot) const;

  DemoMailStore& store_;
  const std::string user_, password_;
  std::optional<std::string> userGiven_;
  bool loggedIn_ = false;
  bool ended_ = false;
  std::vector<size_t> view_;   // message number k is store index view_[k - 1]
  std::vector<bool> marked_;   // DELE marks of this session
};

}  // namespace brevan
