#include "tests/support/scripted_pop3_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "tests/support/test_tls.h"

namespace brevan::test {
namespace {

using Clock = std::chrono::steady_clock;

struct Step {
  enum Kind { Send, Delay, AwaitCommands, Close, Drop, Reset, AwaitClientClose, StartTls } kind;
  explicit Step(Kind k, std::string b = std::string()) : kind(k), bytes(std::move(b)) {}
  std::string bytes;
  int ms = 0;
  size_t count = 0;
  TestCertificate certificate = TestCertificate::SelfSigned;
};

// One accepted connection, plain or TLS, on a non-blocking socket.
struct Conn {
  int fd = -1;
  SSL* ssl = nullptr;
  std::string partial;            // bytes after the last LF
  std::deque<std::string> lines;  // complete lines not yet handled
  bool eof = false;
};

std::string UpperAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// Bare LF becomes CR LF; sizes and TOP work on the CR LF form.
std::string NormalizeLineEnds(const std::string& message) {
  std::string out;
  out.reserve(message.size() + message.size() / 32);
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\n' && (i == 0 || message[i - 1] != '\r')) out += '\r';
    out += message[i];
  }
  return out;
}

std::vector<std::string> SplitCrLf(const std::string& message) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < message.size()) {
    size_t at = message.find("\r\n", start);
    if (at == std::string::npos) {
      lines.push_back(message.substr(start));
      break;
    }
    lines.push_back(message.substr(start, at - start));
    start = at + 2;
  }
  return lines;
}

// RFC 1939 section 3: a line starting with "." gets one more in front.
void AppendStuffed(std::string& out, const std::string& line) {
  if (!line.empty() && line[0] == '.') out += '.';
  out += line;
  out += "\r\n";
}

bool ParseNumber(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

}  // namespace

struct ScriptedPop3Server::Impl {
  Mode mode;
  int listenFd = -1;
  int wake[2] = {-1, -1};
  int port = 0;
  std::thread thread;
  SSL_CTX* tlsContext = nullptr;
  std::map<TestCertificate, SSL_CTX*> stlsContexts;  // made at the first STLS of each

  mutable std::mutex m;
  mutable std::condition_variable cv;
  bool stopping = false;
  std::vector<Step> steps;
  size_t nextStep = 0;
  size_t awaitedSoFar = 0;  // script building: AwaitCommand's count
  std::vector<std::string> commands;
  std::string received;
  std::vector<std::string> transcript;  // "C: " command lines, "S: " bytes sent, in order
  int accepted = 0;
  int ended = 0;
  std::vector<std::string> serverNames;  // SNI of each TLS handshake

  bool mailboxMode = false;
  Pop3Mailbox mailbox;
  std::vector<std::string> normalized;
  std::vector<bool> committedDeleted;
  std::map<int, std::deque<Pop3Fault>> faults;

  void Wake() {
    char b = 1;
    [[maybe_unused]] ssize_t n = ::write(wake[1], &b, 1);
  }
  void DrainWake() {
    char buf[64];
    while (::read(wake[0], buf, sizeof buf) > 0) {
    }
  }
  bool Stopping() {
    std::lock_guard<std::mutex> lock(m);
    return stopping;
  }

  void AddStep(Step s) {
    {
      std::lock_guard<std::mutex> lock(m);
      steps.push_back(std::move(s));
    }
    Wake();
  }

  // ---- socket helpers (server thread)

  // Waits until the connection is readable, the wake pipe fires or the time
  // (-1: none) runs out. True when the connection is readable.
  bool WaitReadable(Conn& c, int timeoutMs) {
    if (c.ssl && SSL_pending(c.ssl) > 0) return true;
    pollfd p[2] = {{c.fd, POLLIN, 0}, {wake[0], POLLIN, 0}};
    int r = ::poll(p, 2, timeoutMs);
    if (r <= 0) return false;
    if (p[1].revents) DrainWake();
    return p[0].revents != 0;
  }

  // Reads what is there; records every complete line. False at the end.
  bool ReadSome(Conn& c) {
    char buf[16384];
    for (;;) {
      ssize_t n;
      if (c.ssl) {
        n = SSL_read(c.ssl, buf, sizeof buf);
        if (n <= 0) {
          int e = SSL_get_error(c.ssl, static_cast<int>(n));
          if (e == SSL_ERROR_WANT_READ) return true;
          if (e == SSL_ERROR_WANT_WRITE) {
            pollfd p{c.fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
          }
          c.eof = true;
          return false;
        }
      } else {
        n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
        if (n <= 0) {
          c.eof = true;
          return false;
        }
      }
      std::string chunk(buf, static_cast<size_t>(n));
      std::vector<std::string> got;
      c.partial += chunk;
      size_t lf;
      while ((lf = c.partial.find('\n')) != std::string::npos) {
        std::string line = c.partial.substr(0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        c.partial.erase(0, lf + 1);
        got.push_back(line);
        c.lines.push_back(line);
      }
      {
        std::lock_guard<std::mutex> lock(m);
        received += chunk;
        for (auto& l : got) {
          commands.push_back(l);
          transcript.push_back("C: " + l);
        }
      }
      cv.notify_all();
      if (!c.ssl && static_cast<size_t>(n) < sizeof buf) return true;
    }
  }

  bool WriteAll(Conn& c, const std::string& data) {
    {
      std::lock_guard<std::mutex> lock(m);
      transcript.push_back("S: " + data);
    }
    size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n;
      if (c.ssl) {
        n = SSL_write(c.ssl, data.data() + sent, static_cast<int>(data.size() - sent));
        if (n <= 0) {
          int e = SSL_get_error(c.ssl, static_cast<int>(n));
          if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
            pollfd p{c.fd, static_cast<short>(e == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
            ::poll(&p, 1, 100);
            if (Stopping()) return false;
            continue;
          }
          return false;
        }
      } else {
        n = ::send(c.fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0) {
          if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            pollfd p{c.fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            if (Stopping()) return false;
            continue;
          }
          return false;
        }
      }
      sent += static_cast<size_t>(n);
    }
    return true;
  }

  void CloseConn(Conn& c, bool reset, bool notify = true) {
    if (c.fd < 0) return;
    if (reset) {
      linger l{1, 0};
      ::setsockopt(c.fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    } else if (c.ssl && notify) {
      SSL_shutdown(c.ssl);
    }
    if (c.ssl) {
      SSL_free(c.ssl);
      c.ssl = nullptr;
    }
    ::close(c.fd);
    c.fd = -1;
  }

  // Sleeps up to ms while still reading (and recording) what the client sends.
  bool SleepReading(Conn& c, int ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
      if (Stopping()) return false;
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return true;
      // A client that went away ends the pause, and the connection with it.
      if (WaitReadable(c, static_cast<int>(left)) && (c.eof || !ReadSome(c))) return false;
    }
  }

  // ---- the thread

  void Run() {
    // SIGPIPE from OpenSSL's writes to a client that went away stays
    // pending on this thread and is never delivered.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

    for (;;) {
      // A connection's waits may have drained the wake-up of Stop().
      if (Stopping()) break;
      pollfd p[2] = {{listenFd, POLLIN, 0}, {wake[0], POLLIN, 0}};
      int r = ::poll(p, 2, -1);
      if (Stopping()) break;
      if (r <= 0) continue;
      if (p[1].revents) DrainWake();
      if (!(p[0].revents & POLLIN)) continue;
      int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) continue;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);  // scripted pieces go out as written
      Conn c;
      c.fd = fd;
      {
        std::lock_guard<std::mutex> lock(m);
        ++accepted;
      }
      cv.notify_all();
      if (mode == Mode::Tls && !Handshake(c)) {
        CloseConn(c, false);
      } else if (mailboxMode) {
        ServeMailboxConnection(c);
      } else {
        RunScript(c);
      }
      CloseConn(c, false);
      {
        std::lock_guard<std::mutex> lock(m);
        ++ended;
      }
      cv.notify_all();
    }
  }

  SSL_CTX* StlsContext(TestCertificate which) {
    SSL_CTX*& ctx = stlsContexts[which];
    if (!ctx) ctx = NewTestServerTlsContext(which);
    return ctx;
  }

  bool Handshake(Conn& c) { return Handshake(c, tlsContext); }

  bool Handshake(Conn& c, SSL_CTX* context) {
    c.ssl = SSL_new(context);
    SSL_set_fd(c.ssl, c.fd);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    for (;;) {
      int r = SSL_accept(c.ssl);
      if (r == 1) {
        {
          std::lock_guard<std::mutex> lock(m);
          serverNames.push_back(ReceivedServerName(c.ssl));
        }
        cv.notify_all();
        return true;
      }
      int e = SSL_get_error(c.ssl, r);
      if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) return false;
      if (Clock::now() > deadline || Stopping()) return false;
      pollfd p[2] = {{c.fd, static_cast<short>(e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0}, {wake[0], POLLIN, 0}};
      ::poll(p, 2, 100);
      if (p[1].revents) DrainWake();
    }
  }

  void RunScript(Conn& c) {
    bool delaying = false;
    Clock::time_point delayEnd{};
    for (;;) {
      if (Stopping()) return;
      std::optional<Step> step;
      size_t have;
      {
        std::lock_guard<std::mutex> lock(m);
        if (nextStep < steps.size()) step = steps[nextStep];
        have = commands.size();
      }
      auto advance = [&] {
        delaying = false;
        {
          std::lock_guard<std::mutex> lock(m);
          ++nextStep;
        }
        cv.notify_all();
      };
      if (!step) {
        // Script done for now: keep recording until the client goes or a
        // step is added.
        if (WaitReadable(c, -1) && !ReadSome(c)) return;
        continue;
      }
      switch (step->kind) {
        case Step::Send: {
          bool ok = WriteAll(c, step->bytes);
          advance();
          if (!ok) return;
          break;
        }
        case Step::Delay: {
          if (!delaying) {
            delaying = true;
            delayEnd = Clock::now() + std::chrono::milliseconds(step->ms);
          }
          auto left = std::chrono::duration_cast<std::chrono::milliseconds>(delayEnd - Clock::now()).count();
          if (left <= 0) {
            advance();
            break;
          }
          if (WaitReadable(c, static_cast<int>(left)) && !ReadSome(c)) {
            advance();  // the client went away during the pause
            return;
          }
          break;
        }
        case Step::AwaitCommands:
          if (have >= step->count) {
            advance();
            break;
          }
          if (WaitReadable(c, -1) && !ReadSome(c)) return;  // waits on for the next connection
          break;
        case Step::Close:
          CloseConn(c, false);
          advance();
          return;
        case Step::Drop:
          CloseConn(c, false, false);
          advance();
          return;
        case Step::Reset:
          CloseConn(c, true);
          advance();
          return;
        case Step::AwaitClientClose:
          if (WaitReadable(c, -1) && !ReadSome(c)) {
            advance();
            return;
          }
          break;
        case Step::StartTls: {
          const bool ok = Handshake(c, StlsContext(step->certificate));
          advance();
          if (!ok) return;
          break;
        }
      }
    }
  }

  // ---- mailbox mode

  std::optional<Pop3Fault> TakeFault(int step) {
    std::lock_guard<std::mutex> lock(m);
    auto it = faults.find(step);
    if (it == faults.end() || it->second.empty()) return std::nullopt;
    Pop3Fault f = it->second.front();
    it->second.pop_front();
    return f;
  }

  // Sends a reply, with the fault of this step if one is set. False when
  // the connection is over.
  bool Answer(Conn& c, int step, const std::string& reply) {
    std::optional<Pop3Fault> fault = TakeFault(step);
    if (!fault) return WriteAll(c, reply);
    switch (fault->kind) {
      case Pop3Fault::Drop:
        CloseConn(c, false);
        return false;
      case Pop3Fault::Reset:
        CloseConn(c, true);
        return false;
      case Pop3Fault::Error:
        return WriteAll(c, "-ERR " + fault->text + "\r\n");
      case Pop3Fault::Delay:
        if (!SleepReading(c, fault->delayMs)) return false;
        return WriteAll(c, reply);
      case Pop3Fault::Truncate:
        WriteAll(c, reply.substr(0, reply.size() / 2));
        CloseConn(c, false);
        return false;
      case Pop3Fault::Replace:
        return WriteAll(c, fault->text);
    }
    return false;
  }

  void ServeMailboxConnection(Conn& c) {
    // Message numbers of this session (RFC 1939 section 5) map to the held
    // messages not yet deleted by an earlier QUIT.
    std::vector<size_t> view;
    {
      std::lock_guard<std::mutex> lock(m);
      for (size_t i = 0; i < normalized.size(); ++i) {
        if (!committedDeleted[i]) view.push_back(i);
      }
    }
    std::vector<bool> marked(view.size(), false);
    bool loggedIn = false;
    std::optional<std::string> userGiven;
    int step = 0;
    if (!Answer(c, step, mailbox.greeting + "\r\n")) return;

    auto message = [&](long n) -> const std::string* {
      if (n < 1 || static_cast<size_t>(n) > view.size() || marked[static_cast<size_t>(n - 1)]) return nullptr;
      return &normalized[view[static_cast<size_t>(n - 1)]];
    };

    for (;;) {
      while (c.lines.empty()) {
        if (Stopping() || c.eof) return;
        if (WaitReadable(c, -1) && !ReadSome(c) && c.lines.empty()) return;
      }
      std::string line = c.lines.front();
      c.lines.pop_front();
      ++step;

      std::string keyword = line.substr(0, line.find(' '));
      std::string arg = keyword.size() < line.size() ? line.substr(keyword.size() + 1) : std::string();
      keyword = UpperAscii(keyword);
      std::string reply;
      bool quit = false;

      if (keyword == "CAPA" && (mailbox.answersCapa || mailbox.offersStls)) {
        reply = "+OK Capability list follows\r\n";
        for (const std::string& capability : mailbox.capabilities) reply += capability + "\r\n";
        if (mailbox.offersStls && !c.ssl) reply += "STLS\r\n";
        reply += ".\r\n";
      } else if (keyword == "STLS" && mailbox.offersStls && !c.ssl && !loggedIn) {
        if (!Answer(c, step, "+OK Begin TLS negotiation now.\r\n")) return;
        // RFC 2595 section 4: what the client said before is forgotten.
        c.lines.clear();
        c.partial.clear();
        if (!Handshake(c, StlsContext(mailbox.stlsCertificate))) return;
        continue;
      } else if (keyword == "QUIT") {
        quit = true;
        if (loggedIn) {
          std::lock_guard<std::mutex> lock(m);
          for (size_t i = 0; i < view.size(); ++i) {
            if (marked[i]) committedDeleted[view[i]] = true;
          }
        }
        reply = "+OK bye\r\n";
      } else if (!loggedIn && mailbox.refusesPlainLogin && !c.ssl && (keyword == "USER" || keyword == "PASS")) {
        reply = "-ERR Plaintext authentication disallowed on non-secure (SSL/TLS) connections.\r\n";
      } else if (!loggedIn) {
        if (keyword == "USER") {
          userGiven = arg;
          reply = "+OK\r\n";
        } else if (keyword == "PASS") {
          if (userGiven && *userGiven == mailbox.user && arg == mailbox.password) {
            loggedIn = true;
            reply = "+OK Logged in.\r\n";
          } else {
            reply = "-ERR [AUTH] Authentication failed.\r\n";
          }
          userGiven.reset();
        } else {
          reply = "-ERR Unknown command.\r\n";
        }
      } else if (keyword == "NOOP") {
        reply = "+OK\r\n";
      } else if (keyword == "RSET") {
        marked.assign(marked.size(), false);
        reply = "+OK\r\n";
      } else if (keyword == "STAT" || (keyword == "LIST" && arg.empty())) {
        size_t count = 0, octets = 0;
        std::string body;
        for (size_t i = 0; i < view.size(); ++i) {
          if (marked[i]) continue;
          ++count;
          size_t size = normalized[view[i]].size();
          octets += size;
          body += std::to_string(i + 1) + " " + std::to_string(size) + "\r\n";
        }
        if (keyword == "STAT") {
          reply = "+OK " + std::to_string(count) + " " + std::to_string(octets) + "\r\n";
        } else {
          reply = "+OK " + std::to_string(count) + " messages (" + std::to_string(octets) + " octets)\r\n" + body + ".\r\n";
        }
      } else if (keyword == "LIST" || keyword == "DELE" || keyword == "RETR" || keyword == "TOP" || keyword == "UIDL") {
        std::string numberText = arg.substr(0, arg.find(' '));
        long n = 0;
        const std::string* msg = nullptr;
        if (keyword == "UIDL" && arg.empty()) {
          reply = "+OK\r\n";
          for (size_t i = 0; i < view.size(); ++i) {
            if (!marked[i]) reply += std::to_string(i + 1) + " msg" + std::to_string(view[i] + 1) + "\r\n";
          }
          reply += ".\r\n";
        } else if (!ParseNumber(numberText, n) || !(msg = message(n))) {
          reply = "-ERR There's no message " + numberText + ".\r\n";
        } else if (keyword == "LIST") {
          reply = "+OK " + std::to_string(n) + " " + std::to_string(msg->size()) + "\r\n";
        } else if (keyword == "UIDL") {
          reply = "+OK " + std::to_string(n) + " msg" + std::to_string(view[static_cast<size_t>(n - 1)] + 1) + "\r\n";
        } else if (keyword == "DELE") {
          marked[static_cast<size_t>(n - 1)] = true;
          reply = "+OK Marked to be deleted.\r\n";
        } else if (keyword == "RETR") {
          reply = "+OK " + std::to_string(msg->size()) + " octets\r\n";
          for (const std::string& l : SplitCrLf(*msg)) AppendStuffed(reply, l);
          reply += ".\r\n";
        } else {  // TOP n k: the headers, the blank line, k body lines
          long k = -1;
          size_t sp = arg.find(' ');
          if (sp == std::string::npos || !ParseNumber(arg.substr(sp + 1), k)) {
            reply = "-ERR Invalid arguments.\r\n";
          } else {
            reply = "+OK\r\n";
            bool inBody = false;
            long bodyLines = 0;
            for (const std::string& l : SplitCrLf(*msg)) {
              if (inBody && bodyLines++ >= k) break;
              if (!inBody && l.empty()) inBody = true;
              AppendStuffed(reply, l);
            }
            reply += ".\r\n";
          }
        }
      } else {
        reply = "-ERR Unknown command.\r\n";
      }

      if (!Answer(c, step, reply)) return;
      if (quit) {
        CloseConn(c, false);
        return;
      }
    }
  }
};

ScriptedPop3Server::ScriptedPop3Server(Mode mode, int port, const std::string& address)
    : ScriptedPop3Server(mode, port, address, TestCertificate::SelfSigned) {}

ScriptedPop3Server::ScriptedPop3Server(int port, TestCertificate certificate)
    : ScriptedPop3Server(Mode::Tls, port, "127.0.0.1", certificate) {}

ScriptedPop3Server::ScriptedPop3Server(Mode mode, int port, const std::string& address, TestCertificate certificate)
    : impl_(new Impl) {
  Impl& s = *impl_;
  s.mode = mode;
  sockaddr_storage addr{};
  socklen_t addrLen = 0;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
  if (::inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    addrLen = sizeof *v4;
  } else if (::inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    addrLen = sizeof *v6;
  } else {
    throw std::runtime_error("scripted server: not an address: " + address);
  }
  if (::pipe2(s.wake, O_NONBLOCK | O_CLOEXEC) != 0) throw std::runtime_error("scripted server: pipe");
  s.listenFd = ::socket(addr.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s.listenFd < 0) throw std::runtime_error("scripted server: socket");
  int one = 1;
  ::setsockopt(s.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (addr.ss_family == AF_INET6) ::setsockopt(s.listenFd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
  if (::bind(s.listenFd, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 || ::listen(s.listenFd, 8) != 0) {
    int e = errno;
    ::close(s.listenFd);
    ::close(s.wake[0]);
    ::close(s.wake[1]);
    throw std::runtime_error("scripted server: cannot listen on " + address + " port " + std::to_string(port) + ": " +
                             std::strerror(e));
  }
  socklen_t len = addrLen;
  ::getsockname(s.listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
  s.port = ntohs(addr.ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
  if (mode == Mode::Tls) s.tlsContext = NewTestServerTlsContext(certificate);
  s.thread = std::thread([this] { impl_->Run(); });
}

ScriptedPop3Server::~ScriptedPop3Server() { Stop(); }

void ScriptedPop3Server::Stop() {
  Impl& s = *impl_;
  {
    std::lock_guard<std::mutex> lock(s.m);
    if (s.stopping && !s.thread.joinable()) return;
    s.stopping = true;
  }
  s.Wake();
  s.cv.notify_all();
  if (s.thread.joinable()) s.thread.join();
  if (s.listenFd >= 0) ::close(s.listenFd);
  s.listenFd = -1;
  for (int& fd : s.wake) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  if (s.tlsContext) SSL_CTX_free(s.tlsContext);
  s.tlsContext = nullptr;
  for (auto& [which, ctx] : s.stlsContexts) SSL_CTX_free(ctx);
  s.stlsContexts.clear();
}

int ScriptedPop3Server::Port() const { return impl_->port; }

ScriptedPop3Server& ScriptedPop3Server::Send(std::string bytes) {
  impl_->AddStep(Step(Step::Send, std::move(bytes)));
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::SendLine(std::string line) { return Send(std::move(line) + "\r\n"); }

ScriptedPop3Server& ScriptedPop3Server::SendSplit(std::string bytes, size_t chunk, int delayMs) {
  if (chunk == 0) chunk = 1;
  for (size_t at = 0; at < bytes.size(); at += chunk) {
    if (at > 0 && delayMs > 0) Delay(delayMs);
    Send(bytes.substr(at, chunk));
  }
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::Delay(int ms) {
  Step s(Step::Delay);
  s.ms = ms;
  impl_->AddStep(s);
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::AwaitCommand() {
  size_t n;
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    n = ++impl_->awaitedSoFar;
  }
  Step s(Step::AwaitCommands);
  s.count = n;
  impl_->AddStep(s);
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::AwaitCommands(size_t n) {
  {
    std::lock_guard<std::mutex> lock(impl_->m);
    if (n > impl_->awaitedSoFar) impl_->awaitedSoFar = n;
  }
  Step s(Step::AwaitCommands);
  s.count = n;
  impl_->AddStep(s);
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::CloseConnection(bool notify) {
  impl_->AddStep(Step(notify ? Step::Close : Step::Drop));
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::ResetConnection() {
  impl_->AddStep(Step(Step::Reset));
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::AwaitClientClose() {
  impl_->AddStep(Step(Step::AwaitClientClose));
  return *this;
}

ScriptedPop3Server& ScriptedPop3Server::StartTls(TestCertificate certificate) {
  Step s(Step::StartTls);
  s.certificate = certificate;
  impl_->AddStep(s);
  return *this;
}

void ScriptedPop3Server::ServeMailbox(const Pop3Mailbox& mailbox) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->mailboxMode = true;
  impl_->mailbox = mailbox;
  impl_->normalized.clear();
  for (const std::string& msg : mailbox.messages) {
    std::string n = NormalizeLineEnds(msg);
    if (!n.empty() && (n.size() < 2 || n.compare(n.size() - 2, 2, "\r\n") != 0)) n += "\r\n";
    impl_->normalized.push_back(n);
  }
  impl_->committedDeleted.assign(impl_->normalized.size(), false);
}

void ScriptedPop3Server::InjectFault(int step, const Pop3Fault& fault) {
  std::lock_guard<std::mutex> lock(impl_->m);
  impl_->faults[step].push_back(fault);
}

std::vector<int> ScriptedPop3Server::RemainingMessageNumbers() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  std::vector<int> out;
  for (size_t i = 0; i < impl_->committedDeleted.size(); ++i) {
    if (!impl_->committedDeleted[i]) out.push_back(static_cast<int>(i + 1));
  }
  return out;
}

std::vector<std::string> ScriptedPop3Server::Commands() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->commands;
}

std::vector<std::string> ScriptedPop3Server::Transcript() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->transcript;
}

std::string ScriptedPop3Server::ReceivedBytes() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->received;
}

bool ScriptedPop3Server::WaitForCommands(size_t n, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->m);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return impl_->commands.size() >= n || impl_->stopping; }) &&
         impl_->commands.size() >= n;
}

bool ScriptedPop3Server::WaitForScriptDone(int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->m);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return impl_->nextStep >= impl_->steps.size(); });
}

bool ScriptedPop3Server::WaitForConnectionsEnded(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(impl_->m);
  return impl_->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return impl_->ended >= count; });
}

std::vector<std::string> ScriptedPop3Server::ServerNamesReceived() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->serverNames;
}

int ScriptedPop3Server::ConnectionsAccepted() const {
  std::lock_guard<std::mutex> lock(impl_->m);
  return impl_->accepted;
}

}  // namespace brevan::test
