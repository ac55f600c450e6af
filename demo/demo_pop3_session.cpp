#include "demo/demo_pop3_session.h"

#include <algorithm>
#include <charconv>

namespace brevan {
namespace {

std::string Upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::vector<std::string> SplitCrLf(const std::string& message) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < message.size()) {
    size_t end = message.find("\r\n", start);
    if (end == std::string::npos) end = message.size();
    lines.push_back(message.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

// RFC 1939 section 3: a line that starts with "." gets one more in front.
void AppendStuffed(std::string& out, const std::string& line) {
  if (!line.empty() && line[0] == '.') out += '.';
  out += line;
  out += "\r\n";
}

bool ParseNumber(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value >= 0;
}

}  // namespace

DemoMailStore::DemoMailStore(std::vector<std::string> messages)
    : messages_(std::move(messages)), deleted_(messages_.size(), false) {}

std::vector<size_t> DemoMailStore::Present() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<size_t> present;
  for (size_t i = 0; i < deleted_.size(); ++i)
    if (!deleted_[i]) present.push_back(i);
  return present;
}

void DemoMailStore::Delete(const std::vector<size_t>& indices) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (size_t i : indices)
    if (i < deleted_.size()) deleted_[i] = true;
}

DemoPop3Session::DemoPop3Session(DemoMailStore& store, std::string user, std::string password)
    : store_(store), user_(std::move(user)), password_(std::move(password)) {}

std::string DemoPop3Session::Greeting() const { return "+OK Brevan demo mailbox ready.\r\n"; }

const std::string* DemoPop3Session::Numbered(const std::string& text, size_t& slot) const {
  long n = 0;
  if (!ParseNumber(text, n) || n < 1 || static_cast<size_t>(n) > view_.size()) return nullptr;
  slot = static_cast<size_t>(n - 1);
  if (marked_[slot]) return nullptr;
  return &store_.Message(view_[slot]);
}

std::string DemoPop3Session::Answer(const std::string& line) {
  const size_t space = line.find(' ');
  const std::string keyword = Upper(line.substr(0, space));
  const std::string arg = space == std::string::npos ? std::string() : line.substr(space + 1);

  if (keyword == "QUIT") {
    ended_ = true;
    // RFC 1939 section 6: the UPDATE state only follows a session that
    // logged in; it removes what this session marked, by the store's own
    // index, so another session's deletions meanwhile change nothing here.
    if (loggedIn_) {
      std::vector<size_t> gone;
      for (size_t i = 0; i < view_.size(); ++i)
        if (marked_[i]) gone.push_back(view_[i]);
      store_.Delete(gone);
    }
    return "+OK bye\r\n";
  }
  if (!loggedIn_) {
    if (keyword == "USER") {
      userGiven_ = arg;
      return "+OK\r\n";
    }
    if (keyword == "PASS") {
      const bool accepted = userGiven_ && *userGiven_ == user_ && arg == password_;
      userGiven_.reset();
      if (!accepted) return "-ERR [AUTH] Authentication failed.\r\n";
      loggedIn_ = true;
      view_ = store_.Present();
      marked_.assign(view_.size(), false);
      return "+OK Logged in.\r\n";
    }
    return "-ERR Log in first.\r\n";
  }
  if (keyword == "NOOP") return "+OK\r\n";
  if (keyword == "RSET") {
    marked_.assign(marked_.size(), false);
    return "+OK\r\n";
  }
  if (keyword == "STAT" || ((keyword == "LIST" || keyword == "UIDL") && arg.empty())) {
    size_t count = 0, octets = 0;
    std::string body;
    for (size_t i = 0; i < view_.size(); ++i) {
      if (marked_[i]) continue;
      ++count;
      const std::string& message = store_.Message(view_[i]);
      octets += message.size();
      body += std::to_string(i + 1) + " " +
              (keyword == "UIDL" ? "msg" + std::to_string(view_[i] + 1) : std::to_string(message.size())) + "\r\n";
    }
    if (keyword == "STAT") return "+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n";
    if (keyword == "UIDL") return "+OK\r\n" + body + ".\r\n";
    return "+OK " + std::to_string(count) + " messages (" + std::to_string(octets) + " octets)\r\n" + body + ".\r\n";
  }
  if (keyword == "LIST" || keyword == "UIDL" || keyword == "DELE" || keyword == "RETR" || keyword == "TOP") {
    const std::string numberText = arg.substr(0, arg.find(' '));
    size_t slot = 0;
    const std::string* message = Numbered(numberText, slot);
    if (!message) return "-ERR There's no message " + numberText + ".\r\n";
    if (keyword == "LIST") return "+OK " + numberText + " " + std::to_string(message->size()) + "\r\n";
    if (keyword == "UIDL") return "+OK " + numberText + " msg" + std::to_string(view_[slot] + 1) + "\r\n";
    if (keyword == "DELE") {
      marked_[slot] = true;
      return "+OK Marked to be deleted.\r\n";
    }
    std::string reply;
    if (keyword == "RETR") {
      reply = "+OK " + std::to_string(message->size()) + " octets\r\n";
      for (const std::string& l : SplitCrLf(*message)) AppendStuffed(reply, l);
      return reply + ".\r\n";
    }
    // TOP n k: the header, the empty line and k lines of the body.
    const size_t sp = arg.find(' ');
    long bodyLines = 0;
    if (sp == std::string::npos || !ParseNumber(arg.substr(sp + 1), bodyLines)) return "-ERR Invalid arguments.\r\n";
    reply = "+OK\r\n";
    bool inBody = false;
    long sent = 0;
    for (const std::string& l : SplitCrLf(*message)) {
      if (inBody && sent++ >= bodyLines) break;
      if (!inBody && l.empty()) inBody = true;
      AppendStuffed(reply, l);
    }
    return reply + ".\r\n";
  }
  return "-ERR Unknown command.\r\n";
}

}  // namespace brevan
