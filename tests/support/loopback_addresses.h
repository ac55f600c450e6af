#pragma once
// Loopback addresses for connection tests: a port that refuses, a listener
// that never answers a connect, and whether IPv6 loopback exists here.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "net/tcp_client.h"

namespace brevan::test {

inline NetAddress Loopback(int family, int port) {
  NetAddress a;
  if (family == AF_INET6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    a.length = sizeof *v6;
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&a.storage);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4->sin_port = htons(static_cast<uint16_t>(port));
    a.length = sizeof *v4;
  }
  return a;
}

// A loopback port where nothing listens: a connect is refused at once.
inline NetAddress RefusingAddress(int family) {
  int probe = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  NetAddress a = Loopback(family, 0);
  socklen_t len = a.length;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&a.storage), a.length) != 0) throw std::runtime_error("bind");
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&a.storage), &len);
  ::close(probe);
  return a;
}

// A loopback listener that never answers a connect: its accept queue is
// kept full by one connection of its own, so the kernel drops new SYNs and
// a connect to it stays pending, as towards a host that does not answer.
class SilentListener {
 public:
  explicit SilentListener(int family) {
    listen_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address_ = Loopback(family, 0);
    socklen_t len = address_.length;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address_.storage), address_.length) != 0 ||
        ::listen(listen_, 0) != 0) {
      throw std::runtime_error("silent listener");
    }
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address_.storage), &len);
    filler_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(filler_, reinterpret_cast<sockaddr*>(&address_.storage), address_.length) != 0) {
      throw std::runtime_error("silent listener: filler");
    }
  }
  ~SilentListener() {
    ::close(filler_);
    ::close(listen_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  const NetAddress& Address() const { return address_; }

 private:
  int listen_ = -1;
  int filler_ = -1;
  NetAddress address_;
};

// Whether this machine has the IPv6 loopback at all (some containers do not).
inline bool HasIpv6Loopback() {
  int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  NetAddress a = Loopback(AF_INET6, 0);
  bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&a.storage), a.length) == 0;
  ::close(fd);
  return ok;
}

// Skips the test where there is no IPv6 loopback to test with.
#define REQUIRE_IPV6()                                                                      \
  do {                                                                                      \
    if (!::brevan::test::HasIpv6Loopback()) GTEST_SKIP() << "no IPv6 loopback on this host"; \
  } while (0)

}  // namespace brevan::test
