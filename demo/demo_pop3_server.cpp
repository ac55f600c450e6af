#include "demo/demo_pop3_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace brevan {
namespace {

// A command line longer than this is no POP3 command (RFC 2449 section 4
// allows 255 octets); the connection is ended rather than buffered forever.
constexpr size_t kMaxLine = 4096;

bool WriteAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

DemoPop3Server::DemoPop3Server(DemoMailStore& store, std::string user, std::string password, int port)
    : store_(store), user_(std::move(user)), password_(std::move(password)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("demo server: pipe");
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listen_, 16) != 0) {
    const int error = errno;
    if (listen_ >= 0) ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
    throw std::runtime_error("demo server: cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                             std::strerror(error));
  }
  socklen_t length = sizeof address;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

DemoPop3Server::~DemoPop3Server() { Stop(); }

void DemoPop3Server::Stop() {
  if (stopping_.exchange(true)) return;
  const char byte = 0;
  [[maybe_unused]] ssize_t n = ::write(wake_[1], &byte, 1);
  if (acceptThread_.joinable()) acceptThread_.join();
  std::list<std::unique_ptr<Connection>> connections;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& connection : connections)
    if (connection->thread.joinable()) connection->thread.join();
  ::close(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void DemoPop3Server::AcceptLoop() {
  for (;;) {
    pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents || stopping_) return;
    if (!(fds[0].revents & POLLIN)) continue;
    const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    // Threads of ended connections are joined here, so a long run does not
    // collect them.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    auto connection = std::make_unique<Connection>();
    Connection* raw = connection.get();
    connection->thread = std::thread([this, fd, raw] {
      Serve(fd);
      raw->done = true;
    });
    connections_.push_back(std::move(connection));
  }
}

void DemoPop3Server::Serve(int fd) {
  DemoPop3Session session(store_, user_, password_);
  std::string pending;
  bool open = WriteAll(fd, session.Greeting());
  while (open && !session.Ended()) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[1].revents || stopping_) break;
    char buffer[4096];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    // Each complete line (CR LF, or a bare LF) gets its answer in turn.
    size_t end;
    while (open && !session.Ended() && (end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      open = WriteAll(fd, session.Answer(line));
    }
    if (pending.size() > kMaxLine) break;
  }
  ::close(fd);
}

}  // namespace brevan
