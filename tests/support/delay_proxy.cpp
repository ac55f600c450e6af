#include "tests/support/delay_proxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <stdexcept>
#include <string>

namespace brevan::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
  Clock::time_point due;
  std::string bytes;
};

// One direction: bytes read from `from` wait in the queue until they are due,
// then go to `to`.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Chunk> queue;
  bool ended = false;  // `from` has closed; `to` is shut once the queue is empty
  bool shut = false;
};

void Rewrite(std::string& text) {
  static const std::string kFrom = "\r\nPIPELINING\r\n", kTo = "\r\nXIPELINING\r\n";
  for (size_t at = text.find(kFrom); at != std::string::npos; at = text.find(kFrom, at + kTo.size()))
    text.replace(at, kFrom.size(), kTo);
}

}  // namespace

DelayProxy::DelayProxy(int targetPort, int delayMsEachWay, bool hidePipelining)
    : target_(targetPort), delayMs_(delayMsEachWay), hidePipelining_(hidePipelining) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 8) != 0 ||
      ::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
    ::close(listen_);
    throw std::runtime_error("delay proxy: cannot listen");
  }
  socklen_t n = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
  port_ = ntohs(a.sin_port);
  acceptor_ = std::thread([this] { Accept(); });
}

DelayProxy::~DelayProxy() { Stop(); }

void DelayProxy::Stop() {
  if (stop_.exchange(true)) return;
  [[maybe_unused]] ssize_t w = ::write(wake_[1], "x", 1);
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    threads.swap(connections_);
  }
  for (std::thread& t : threads) t.join();
  ::close(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

void DelayProxy::Accept() {
  for (;;) {
    pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 && errno != EINTR) return;
    if (stop_) return;
    if (!(p[0].revents & POLLIN)) continue;
    const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    connections_.emplace_back([this, client] { Serve(client); });
  }
}

void DelayProxy::Serve(int client) {
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(target_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(server);
    ::close(client);
    return;
  }
  // Small writes go out at once: the delay is ours, not Nagle's.
  int one = 1;
  ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  Direction up, down;
  up.from = down.to = client;
  up.to = down.from = server;
  const auto delay = std::chrono::milliseconds(delayMs_);
  char buffer[65536];
  while (!stop_) {
    // Deliver what is due; find how long until the next chunk is.
    int waitMs = -1;
    for (Direction* d : {&up, &down}) {
      while (!d->queue.empty() && d->queue.front().due <= Clock::now()) {
        const std::string& bytes = d->queue.front().bytes;
        size_t sent = 0;
        while (sent < bytes.size()) {
          const ssize_t n = ::send(d->to, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
        d->queue.pop_front();
      }
      if (d->ended && d->queue.empty() && !d->shut) {
        ::shutdown(d->to, SHUT_WR);
        d->shut = true;
      }
      if (!d->queue.empty()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(d->queue.front().due - Clock::now()).count() + 1;
        waitMs = waitMs < 0 ? static_cast<int>(left) : std::min(waitMs, static_cast<int>(left));
      }
    }
    if (up.shut && down.shut) break;
    pollfd p[3] = {{up.from, static_cast<short>(up.ended ? 0 : POLLIN), 0},
                   {down.from, static_cast<short>(down.ended ? 0 : POLLIN), 0},
                   {wake_[0], POLLIN, 0}};
    if (::poll(p, 3, waitMs) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      Direction& d = i == 0 ? up : down;
      if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::recv(d.from, buffer, sizeof buffer, 0);
      if (n <= 0) {
        d.ended = true;
        continue;
      }
      std::string bytes(buffer, static_cast<size_t>(n));
      // The CAPA reply is a few dozen bytes and comes in one piece.
      if (i == 1 && hidePipelining_) Rewrite(bytes);
      d.queue.push_back({Clock::now() + delay, std::move(bytes)});
    }
  }
  ::close(server);
  ::close(client);
}

}  // namespace brevan::test
