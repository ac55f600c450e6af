#pragma once
// A loopback POP3 mailbox for the message-list tests: it serves given
// messages to one client at a time on 127.0.0.1 (an ephemeral port), records
// every command line, and fails on request at a given command.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brevan::testing_support {

class MailboxServer {
 public:
  // What the server does instead of answering a command.
  enum class Fault { None, Err, Drop, DropMidReply, SlowReply };

  explicit MailboxServer(std::vector<std::string> messages) : messages_(std::move(messages)) {
    for (size_t i = 0; i < messages_.size(); ++i)
      listLines_.push_back(std::to_string(i + 1) + " " + std::to_string(messages_[i].size()));
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ok_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listen_, 4) == 0;
    socklen_t length = sizeof address;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~MailboxServer() { Stop(); }
  MailboxServer(const MailboxServer&) = delete;
  MailboxServer& operator=(const MailboxServer&) = delete;

  // Before Start: the LIST lines as the server writes them.
  void SetListLines(std::vector<std::string> lines) { listLines_ = std::move(lines); }
  // Before Start: the command line (lower case, as sent) that meets a fault.
  // May be called while a client is connected: the next time the command
  // arrives it meets the fault.
  void FailAt(const std::string& command, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_[command] = fault;
  }

  void Start() { thread_ = std::thread([this] { Run(); }); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
  }

  bool Ok() const { return ok_; }
  int Port() const { return port_; }
  std::vector<std::string> Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
  }
  // The commands once the given one has arrived, or when the bound has run
  // out: a line the client wrote last (a "quit" it does not wait for) may
  // still be on its way when the client's call returns.
  std::vector<std::string> CommandsThrough(const std::string& last,
                                           std::chrono::milliseconds bound = std::chrono::seconds(2)) const {
    const auto until = std::chrono::steady_clock::now() + bound;
    for (;;) {
      std::vector<std::string> sent = Commands();
      if ((!sent.empty() && sent.back() == last) || std::chrono::steady_clock::now() >= until) return sent;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // RFC 1939 section 3: a line starting with "." goes out with one more.
  static std::string DotStuffed(const std::string& text) {
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      const size_t stop = end == std::string::npos ? text.size() : end + 2;
      if (text[start] == '.') out += '.';
      out.append(text, start, stop - start);
      start = stop;
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0)) out += "\r\n";
    return out;
  }

 private:
  bool Readable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }

  static void SendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

  void Run() {
    while (!stop_) {
      if (!Readable(listen_)) return;
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      Serve(fd);
      ::close(fd);
    }
  }

  std::string Top(size_t index, int bodyLines) const {
    const std::string& message = messages_[index];
    size_t split = message.find("\r\n\r\n");
    if (split == std::string::npos) return DotStuffed(message);
    std::string out = message.substr(0, split + 4);
    size_t at = split + 4;
    for (int i = 0; i < bodyLines && at < message.size(); ++i) {
      size_t end = message.find("\r\n", at);
      size_t stop = end == std::string::npos ? message.size() : end + 2;
      out.append(message, at, stop - at);
      at = stop;
    }
    return DotStuffed(out);
  }

  void Serve(int fd) {
    SendAll(fd, "+OK mailbox ready\r\n");
    std::string pending;
    for (;;) {
      size_t end;
      while ((end = pending.find("\r\n")) == std::string::npos) {
        if (!Readable(fd)) return;
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        pending.append(buffer, static_cast<size_t>(n));
      }
      const std::string line = pending.substr(0, end);
      pending.erase(0, end + 2);
      Fault what = Fault::None;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        commands_.push_back(line);
        const auto fault = faults_.find(line);
        if (fault != faults_.end()) what = fault->second;
      }
      if (what == Fault::Err) {
        SendAll(fd, "-ERR refused: " + line + "\r\n");
        continue;
      }
      if (what == Fault::Drop) return;
      std::string reply = Answer(line);
      if (what == Fault::DropMidReply) {
        SendAll(fd, reply.substr(0, reply.size() / 2));
        return;
      }
      if (what == Fault::SlowReply) {
        // The status line now, the rest after a pause the client must wait through.
        const size_t status = reply.find("\r\n") + 2;
        SendAll(fd, reply.substr(0, status));
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        reply.erase(0, status);
      }
      SendAll(fd, reply);
      if (line == "quit") return;
    }
  }

  std::string Answer(const std::string& line) const {
    const std::string verb = line.substr(0, line.find(' '));
    if (verb == "user" || verb == "pass" || verb == "noop" || verb == "dele" || verb == "quit") return "+OK\r\n";
    if (verb == "list") {
      std::string out = "+OK " + std::to_string(listLines_.size()) + " messages\r\n";
      for (const std::string& l : listLines_) out += l + "\r\n";
      return out + ".\r\n";
    }
    unsigned number = 0;
    int lines = 0;
    if (verb == "top" && std::sscanf(line.c_str(), "top %u %d", &number, &lines) == 2 && number >= 1 &&
        number <= messages_.size())
      return "+OK\r\n" + Top(number - 1, lines) + ".\r\n";
    if (verb == "retr" && std::sscanf(line.c_str(), "retr %u", &number) == 1 && number >= 1 &&
        number <= messages_.size())
      return "+OK " + std::to_string(messages_[number - 1].size()) + " octets\r\n" +
             DotStuffed(messages_[number - 1]) + ".\r\n";
    return "-ERR no such message\r\n";
  }

  std::vector<std::string> messages_;
  std::vector<std::string> listLines_;
  std::map<std::string, Fault> faults_;
  int listen_ = -1;
  int port_ = 0;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
};

}  // namespace brevan::testing_support
