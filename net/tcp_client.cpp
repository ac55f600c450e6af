#include "net/tcp_client.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "net/tls_intercept.h"

namespace brevan {
namespace {

constexpr size_t kReceiveChunk = 32768;  // the most one receive asks for
constexpr int kSliceMs = 50;             // longest wait without servicing

std::function<void()>& ServiceCallback() {
  static std::function<void()> callback;
  return callback;
}

void RunService() {
  // A copy: the callback may install another one while it runs.
  std::function<void()> callback = ServiceCallback();
  if (callback) callback();
}

NetError ClosedError() { return NetError("Connection Closed Gracefully."); }

NetError SocketError(int code) {
  char text[512];
  std::snprintf(text, sizeof text, "Socket Error # %d\r\n%s", code, std::strerror(code));
  return NetError(text, code);
}

NetError SocketError(int code, const char* systemText) {
  std::string text = "Socket Error # " + std::to_string(code) + "\r\n" + systemText;
  return NetError(text, code);
}

// The "shutdown" socket error: the connection is gone for sending.
bool IsShutdownError(int code) { return code == EPIPE || code == ESHUTDOWN; }

// The input buffer: bytes live in [begin_, end_). Consumed bytes only move
// the read offset; the live bytes are moved to the front when the free tail
// is too short and at least as many bytes are dead as alive, so each byte is
// moved a bounded number of times however a download is taken.
class InputBuffer {
 public:
  size_t Size() const { return end_ - begin_; }
  const char* Data() const { return data_.get() + begin_; }
  void Clear() { begin_ = end_ = 0; }

  // Room for n more bytes at the end; Commit tells how many arrived.
  char* Reserve(size_t n) {
    if (cap_ - end_ < n) {
      size_t live = Size();
      if (begin_ > 0 && begin_ >= live && cap_ - live >= n) {
        std::memmove(data_.get(), data_.get() + begin_, live);
      } else {
        size_t cap = cap_ ? cap_ : kReceiveChunk * 2;
        while (cap - live < n) cap *= 2;
        std::unique_ptr<char[]> bigger(new char[cap]);
        if (live) std::memcpy(bigger.get(), data_.get() + begin_, live);
        data_ = std::move(bigger);
        cap_ = cap;
      }
      begin_ = 0;
      end_ = live;
    }
    return data_.get() + end_;
  }
  void Commit(size_t n) { end_ += n; }

  // Puts bytes taken too early back at the front.
  void Unread(std::string_view bytes) {
    if (bytes.empty()) return;
    if (begin_ >= bytes.size()) {
      begin_ -= bytes.size();
      std::memcpy(data_.get() + begin_, bytes.data(), bytes.size());
      return;
    }
    const size_t live = Size();
    std::unique_ptr<char[]> bigger(new char[std::max(cap_, live + bytes.size())]);
    std::memcpy(bigger.get(), bytes.data(), bytes.size());
    if (live) std::memcpy(bigger.get() + bytes.size(), Data(), live);
    cap_ = std::max(cap_, live + bytes.size());
    data_ = std::move(bigger);
    begin_ = 0;
    end_ = live + bytes.size();
  }

  std::string Take(size_t n) {
    std::string out(Data(), n);
    begin_ += n;
    if (begin_ == end_) Clear();
    return out;
  }

 private:
  std::unique_ptr<char[]> data_;
  size_t cap_ = 0;
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace

struct TIdTCPConnection::Impl {
  int fd = -1;
  InputBuffer input;
  bool closedByPeer = false;
  // Inside Open: the socket is held but not connected yet, so nested reads
  // and writes from the service callback find the connection closed.
  bool opening = false;
  // Bumped by every Open and Close: a wait that services the program sees
  // when a nested call has closed (or closed and reopened) the connection.
  unsigned long generation = 0;
  // Cleared when the connection object is destroyed, possibly by a nested
  // call inside one of our own waits.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
  TIdConnectionInterceptOpenSSL tls;

  bool Held() const { return fd >= 0; }
};

TIdTCPConnection::TIdTCPConnection() : impl_(new Impl) {}

TIdTCPConnection::~TIdTCPConnection() {
  *impl_->alive = false;
  // Destruction releases the connection without sending anything and
  // without notifying: the owner is going away.
  if (impl_->fd >= 0) ::close(impl_->fd);
  delete impl_;
}

void TIdTCPConnection::SetServiceCallback(std::function<void()> callback) {
  ServiceCallback() = std::move(callback);
}

TlsPeerCheck TIdTCPConnection::CheckTlsPeer() const {
  const Impl& s = *impl_;
  if (!s.Held() || !s.tls.Established()) return {};
  return s.tls.CheckPeer(Host);
}

void TIdTCPConnection::SetTlsLibraryNames(const std::string& ssl, const std::string& crypto) {
  TIdConnectionInterceptOpenSSL::SetLibraryNames(ssl, crypto);
}

namespace {

// A host written as "[address]", as in addresses with a port, without them.
std::string Unbracketed(const std::string& host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
  return host;
}

void SetPort(NetAddress& address, int port) {
  const auto net = htons(static_cast<uint16_t>(port));
  if (address.storage.ss_family == AF_INET6) {
    reinterpret_cast<sockaddr_in6*>(&address.storage)->sin6_port = net;
  } else {
    reinterpret_cast<sockaddr_in*>(&address.storage)->sin_port = net;
  }
}

// The name a TLS handshake announces (SNI): none for an address, and
// without the final dot of a fully qualified name.
std::string ServerNameOf(const std::string& host) {
  if (host.empty() || IsAddressLiteral(host)) return std::string();
  std::string name = host;
  if (name.size() > 1 && name.back() == '.') name.pop_back();
  return name;
}

// Closes the sockets of the connect attempts still listed when it goes.
struct Attempts {
  std::vector<int> fds;
  Attempts() = default;
  Attempts(const Attempts&) = delete;
  Attempts& operator=(const Attempts&) = delete;
  ~Attempts() {
    for (int fd : fds) ::close(fd);
  }
};

// Connects to the first of the addresses that answers, within timeoutMs in
// all, and returns its socket. The next address is started when one fails,
// and also when the ones started have not answered within a slice while the
// earlier attempts go on: an address that never answers (a dead IPv6 route)
// costs a slice, not the whole bound. `service` runs after every wait slice
// and may raise; every socket but the one returned is closed on every path.
// Raises the socket error of the last attempt that failed, or ETIMEDOUT.
int ConnectFirst(const std::vector<NetAddress>& addresses, int timeoutMs, const std::function<void()>& service) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  auto nextStart = Clock::now();
  size_t next = 0;
  int lastError = EHOSTUNREACH;  // only when there is no address at all
  Attempts pending;
  for (;;) {
    while (next < addresses.size() && (pending.fds.empty() || Clock::now() >= nextStart)) {
      const NetAddress& address = addresses[next++];
      int fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (fd < 0) {
        lastError = errno;
        continue;
      }
      if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0) return fd;
      int err = errno;
      if (err != EINPROGRESS && err != EINTR) {
        ::close(fd);
        lastError = err;
        continue;
      }
      pending.fds.push_back(fd);
      nextStart = Clock::now() + std::chrono::milliseconds(kSliceMs);
    }
    if (pending.fds.empty()) throw SocketError(lastError);  // every address failed at once

    auto now = Clock::now();
    if (now >= deadline) throw SocketError(ETIMEDOUT);
    auto until = next < addresses.size() ? std::min(deadline, nextStart) : deadline;
    auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
    if (waitMs > kSliceMs) waitMs = kSliceMs;
    if (waitMs < 0) waitMs = 0;  // never a negative, endless poll

    std::vector<pollfd> polls;
    for (int fd : pending.fds) polls.push_back(pollfd{fd, POLLOUT, 0});
    int r = ::poll(polls.data(), polls.size(), static_cast<int>(waitMs));
    if (r < 0 && errno != EINTR) throw SocketError(errno);
    int winner = -1;
    std::vector<int> still;
    for (const pollfd& p : polls) {
      if (winner < 0 && p.revents != 0) {
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
        if (soError == 0) {
          winner = p.fd;
        } else if (soError != EINPROGRESS) {
          ::close(p.fd);
          lastError = soError;
          nextStart = Clock::now();  // a refusal starts the next address at once
          continue;
        }
      }
      still.push_back(p.fd);
    }
    pending.fds = std::move(still);
    service();  // may raise; the attempts, the winner among them, are closed
    if (winner >= 0) {
      pending.fds.erase(std::find(pending.fds.begin(), pending.fds.end(), winner));
      return winner;
    }
  }
}

}  // namespace

std::vector<NetAddress> ResolveHost(const std::string& host, int port) {
  const std::string name = Unbracketed(host);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  errno = 0;
  int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || !found) {
    if (rc == EAI_SYSTEM && errno != 0) throw SocketError(errno);
    throw SocketError(EHOSTUNREACH, ::gai_strerror(rc ? rc : EAI_NONAME));
  }
  std::vector<NetAddress> addresses;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
    if (a->ai_addrlen > sizeof(sockaddr_storage)) continue;
    NetAddress address;
    std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
    address.length = a->ai_addrlen;
    SetPort(address, port);
    addresses.push_back(address);
  }
  ::freeaddrinfo(found);
  if (addresses.empty()) throw SocketError(EHOSTUNREACH, ::gai_strerror(EAI_NONAME));
  return addresses;
}

bool IsAddressLiteral(const std::string& host) {
  const std::string name = Unbracketed(host);
  if (name.empty()) return false;
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
  ::freeaddrinfo(found);
  return true;
}

void TIdTCPConnection::Open() {
  Impl& s = *impl_;
  if (s.Held()) throw NetError("Already connected.");
  s.input.Clear();
  s.closedByPeer = false;

  // A socket is held from before the name is resolved, so every failure
  // below finds one to close and the owner hears OnDisconnected. The attempts
  // make their own sockets (the family is known only then); the one that
  // connects takes its place.
  s.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (s.fd < 0) throw SocketError(errno);
  const unsigned long generation = ++s.generation;
  const std::shared_ptr<bool> alive = s.alive;
  s.opening = true;
  // Ours while the program is serviced in the waits below unless a nested
  // call closed, reopened or destroyed the connection: then this Open ends
  // as closed and touches nothing more.
  auto ours = [&] { return *alive && s.Held() && s.generation == generation; };
  auto service = [&] {
    RunService();
    if (!ours()) throw ClosedError();
  };
  struct OpeningEnds {
    const std::function<bool()> ours;
    bool& opening;
    ~OpeningEnds() {
      if (ours()) opening = false;
    }
  } openingEnds{ours, s.opening};

  try {
    if (Port < 0 || Port > 65535) throw SocketError(EINVAL);  // never wrap to another port
    std::vector<NetAddress> addresses = Resolver ? Resolver(Host, Port) : ResolveHost(Host, Port);
    // Non-blocking connects with one bound for them all, so an unreachable
    // host cannot hold the window for the system's minutes-long timeout.
    int connected = ConnectFirst(addresses, ConnectTimeoutMs, service);
    ::close(s.fd);
    s.fd = connected;
  } catch (...) {
    if (ours()) Close();
    throw;
  }

  // A TLS failure leaves the TCP socket held; the caller closes it.
  if (UseTls) s.tls.Connect(s.fd, ConnectTimeoutMs, ServerNameOf(Host), service);
}

void TIdTCPConnection::StartTls() {
  Impl& s = *impl_;
  if (!s.Held() || s.opening) throw ClosedError();
  if (s.closedByPeer) {
    Close();
    throw ClosedError();
  }
  if (s.tls.Active()) throw NetError("Error connecting with SSL.");
  // Plain bytes behind the agreement: an injection, never part of the TLS
  // stream (RFC 2595 section 4 wants them gone; nothing is sent after them).
  if (s.input.Size() > 0) throw NetError("Error connecting with SSL.");
  const unsigned long generation = s.generation;
  const std::shared_ptr<bool> alive = s.alive;
  auto service = [&] {
    RunService();
    if (!*alive || !s.Held() || s.generation != generation) throw ClosedError();
  };
  s.tls.Connect(s.fd, ConnectTimeoutMs, ServerNameOf(Host), service);
}

bool TIdTCPConnection::TlsActive() const { return impl_->Held() && impl_->tls.Established(); }

void TIdTCPConnection::Close() {
  Impl& s = *impl_;
  if (s.Held()) {
    s.tls.SendCloseNotify();
    ::close(s.fd);
    s.fd = -1;
    s.closedByPeer = true;
    s.opening = false;
    ++s.generation;
    s.tls.Release();
    // Copy the handler: it may replace itself, or reopen this connection.
    std::function<void()> handler = OnDisconnected;
    if (handler) handler();
    return;
  }
  s.tls.Release();
}

bool TIdTCPConnection::IsOpen() {
  Impl& s = *impl_;
  if ((s.closedByPeer || !s.Held()) && s.Held()) Close();
  return impl_->Held();
}

int TIdTCPConnection::BufferedByteCount() const { return static_cast<int>(impl_->input.Size()); }

std::string TIdTCPConnection::TakeBytes(int n) {
  Impl& s = *impl_;
  if (n <= 0) return std::string();
  if (s.input.Size() < static_cast<size_t>(n)) throw NetError("Not enough data in buffer.");
  return s.input.Take(static_cast<size_t>(n));
}

void TIdTCPConnection::Unread(std::string_view bytes) { impl_->input.Unread(bytes); }

namespace {

// The slices of a wait: a finite wait is a run of 50 ms slices of which
// only the first may be shorter (120 ms: 20, 50, 50).
int FirstSlice(int timeoutMs) {
  if (timeoutMs < 0) return kSliceMs;
  if (timeoutMs <= kSliceMs) return timeoutMs;
  return (timeoutMs - 1) % kSliceMs + 1;
}

}  // namespace

int TIdTCPConnection::WaitForData(int timeoutMs) {
  Impl& s = *impl_;
  std::shared_ptr<bool> alive = s.alive;
  if (s.closedByPeer || !s.Held()) {
    if (s.Held()) Close();
    if (!*alive) throw ClosedError();
    if (s.input.Size() == 0) throw ClosedError();
  }
  if (!s.Held()) return 0;
  if (s.opening) throw ClosedError();  // a nested read while Open connects

  const bool infinite = timeoutMs < 0;
  int slice = FirstSlice(timeoutMs);
  long remaining = infinite ? 0 : timeoutMs;
  const unsigned long generation = s.generation;

  // One receive of up to 32768 bytes into the buffer: > 0 bytes taken,
  // 0 when the peer has closed, kNothingYet when there is nothing to take,
  // kClosedOnError after a "shutdown" error with bytes still buffered.
  constexpr ssize_t kNothingYet = -1, kClosedOnError = -2;
  auto receive = [&]() -> ssize_t {
    char* room = s.input.Reserve(kReceiveChunk);
    ssize_t n;
    int err = 0;
    bool wouldBlock = false;
    if (s.tls.Active()) {
      size_t got = 0;
      auto io = s.tls.Read(room, kReceiveChunk, got, err);
      n = io == TIdConnectionInterceptOpenSSL::Io::Done     ? static_cast<ssize_t>(got)
          : io == TIdConnectionInterceptOpenSSL::Io::Closed ? 0
                                                             : -1;
      wouldBlock = io == TIdConnectionInterceptOpenSSL::Io::WouldBlock;
    } else {
      n = ::recv(s.fd, room, kReceiveChunk, 0);
      if (n < 0) {
        err = errno;
        wouldBlock = err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
      }
    }
    if (n > 0) {
      s.input.Commit(static_cast<size_t>(n));
      return n;
    }
    if (n == 0) {
      s.closedByPeer = true;
      return 0;
    }
    if (wouldBlock) return kNothingYet;  // also a partial TLS record
    if (IsShutdownError(err)) {
      Close();
      if (!*alive || s.input.Size() == 0) throw SocketError(err);
      return kClosedOnError;
    }
    throw SocketError(err);  // the socket stays held
  };
  // The service callback may have closed, reopened or destroyed this
  // connection: the interrupted call then ends as closed.
  auto checkAfterService = [&] {
    if (!*alive) throw ClosedError();
    if (!s.Held() || s.generation != generation) throw ClosedError();
  };

  // Bytes already waiting are taken at once, like a wait that ends at once;
  // the program is serviced after it all the same.
  ssize_t n = receive();
  if (n == kClosedOnError) return 0;
  if (n >= 0) {
    RunService();
    checkAfterService();
  } else {
    for (;;) {
      bool ready = s.tls.Pending() > 0;
      if (!ready) {
        pollfd p{s.fd, POLLIN, 0};
        int r = ::poll(&p, 1, slice);
        ready = r > 0 || (r < 0 && errno != EINTR);
      }
      const size_t before = s.input.Size();
      RunService();
      checkAfterService();
      if (s.input.Size() != before) return 0;  // a nested read took or added bytes
      if (ready) {
        n = receive();
        if (n == kClosedOnError) return 0;
        if (n >= 0) break;
      }
      if (!infinite) {
        remaining -= slice;
        if (remaining <= 0) return 0;
      }
      slice = kSliceMs;
    }
  }
  const size_t received = n > 0 ? static_cast<size_t>(n) : 0;

  if (s.closedByPeer || !s.Held()) {
    if (s.Held()) Close();
    if (!*alive) throw ClosedError();
    if (s.input.Size() == 0) throw ClosedError();
  }
  return static_cast<int>(received);
}

void TIdTCPConnection::WriteLine(std::string_view text) {
  Impl& s = *impl_;
  std::shared_ptr<bool> alive = s.alive;
  if (!s.Held() || s.opening) throw ClosedError();
  if (s.closedByPeer) {
    Close();
    throw ClosedError();
  }
  std::string data;
  data.reserve(text.size() + 2);
  data.append(text);
  data.append("\r\n");

  const unsigned long generation = s.generation;
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n;
    int err = 0;
    bool wouldBlock = false;
    const bool tls = s.tls.Active();
    if (tls) {
      size_t put = 0;
      auto io = s.tls.Write(data.data() + sent, data.size() - sent, put, err);
      n = io == TIdConnectionInterceptOpenSSL::Io::Done ? static_cast<ssize_t>(put)
          : io == TIdConnectionInterceptOpenSSL::Io::Closed ? 0
                                                             : -1;
    } else {
      // MSG_NOSIGNAL: a closed peer is an EPIPE error, never a SIGPIPE.
      n = ::send(s.fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n < 0) {
        err = errno;
        wouldBlock = err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
      }
    }
    if (n > 0) {
      sent += static_cast<size_t>(n);
      if (!tls) {
        RunService();
        if (!*alive) throw ClosedError();
        if (!s.Held() || s.generation != generation) {
          if (sent < data.size()) throw ClosedError();
          return;
        }
      }
      continue;
    }
    if (wouldBlock) {
      pollfd p{s.fd, POLLOUT, 0};
      ::poll(&p, 1, kSliceMs);
      continue;
    }
    if (n == 0) {
      s.closedByPeer = true;
      Close();
      if (!*alive || s.input.Size() == 0) throw ClosedError();
      return;
    }
    if (IsShutdownError(err)) {
      Close();
      throw SocketError(err);
    }
    throw SocketError(err);  // the socket stays held
  }
}

size_t TIdTCPConnection::SendSomeAndReceive(std::string_view out, int timeoutMs) {
  Impl& s = *impl_;
  if (s.closedByPeer || !s.Held()) {
    if (s.Held()) Close();
    if (s.input.Size() == 0) throw ClosedError();
    return 0;
  }
  const bool tls = s.tls.Active();
  bool readable = tls && s.tls.Pending() > 0;
  bool writable = false;
  if (timeoutMs == 0) {
    // No wait: try both at once; a socket with nothing to read, or no room,
    // answers at once that it has none.
    readable = true;
    writable = !out.empty();
  } else if (!readable) {
    pollfd p{s.fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    int r;
    do {
      r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) throw SocketError(errno);
    // An error or hang-up shows itself to the receive below.
    readable = (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    writable = (p.revents & POLLOUT) != 0;
  } else {
    writable = !out.empty();
  }

  if (readable) {
    // A few receives at most: the caller takes lines between the steps.
    for (int round = 0; round < 8; ++round) {
      char* room = s.input.Reserve(kReceiveChunk);
      ssize_t n;
      int err = 0;
      bool wouldBlock = false;
      if (tls) {
        size_t got = 0;
        auto io = s.tls.Read(room, kReceiveChunk, got, err);
        n = io == TIdConnectionInterceptOpenSSL::Io::Done     ? static_cast<ssize_t>(got)
            : io == TIdConnectionInterceptOpenSSL::Io::Closed ? 0
                                                               : -1;
        wouldBlock = io == TIdConnectionInterceptOpenSSL::Io::WouldBlock;
      } else {
        n = ::recv(s.fd, room, kReceiveChunk, MSG_DONTWAIT);
        if (n < 0) {
          err = errno;
          wouldBlock = err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
        }
      }
      if (n > 0) {
        s.input.Commit(static_cast<size_t>(n));
        // With something to send, go on until the socket has nothing more,
        // so a close that came right after the last bytes is seen before a
        // send goes into it. Otherwise, as every other read, one receive:
        // the close is noticed by the read that needs more.
        if (out.empty() && static_cast<size_t>(n) < kReceiveChunk && !(tls && s.tls.Pending() > 0)) break;
        continue;
      }
      if (n == 0) {
        s.closedByPeer = true;
        break;
      }
      if (wouldBlock) break;
      if (IsShutdownError(err)) {
        Close();
        if (s.input.Size() == 0) throw SocketError(err);
        return 0;
      }
      throw SocketError(err);  // the socket stays held
    }
  }
  if (s.closedByPeer) {
    Close();
    if (s.input.Size() == 0) throw ClosedError();
    return 0;
  }

  size_t sent = 0;
  if (writable && !out.empty()) {
    ssize_t n;
    int err = 0;
    bool wouldBlock = false;
    if (tls) {
      // A TLS record goes out whole; with the few kilobytes of commands a
      // caller keeps outstanding the socket always takes it.
      size_t put = 0;
      auto io = s.tls.Write(out.data(), out.size(), put, err);
      n = io == TIdConnectionInterceptOpenSSL::Io::Done     ? static_cast<ssize_t>(put)
          : io == TIdConnectionInterceptOpenSSL::Io::Closed ? 0
                                                             : -1;
    } else {
      n = ::send(s.fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0) {
        err = errno;
        wouldBlock = err == EAGAIN || err == EWOULDBLOCK || err == EINTR;
      }
    }
    if (n > 0) {
      sent = static_cast<size_t>(n);
    } else if (n == 0) {
      s.closedByPeer = true;
      Close();
      if (s.input.Size() == 0) throw ClosedError();
    } else if (!wouldBlock) {
      if (IsShutdownError(err)) Close();
      throw SocketError(err);
    }
  }
  return sent;
}

}  // namespace brevan
