// Throughput of a 200 MB download through WaitForData + TakeBytes, plain and
// TLS, beside a bare recv (or SSL_read) loop over the same kind of socket;
// the round trip of a command and its status line (WriteLine, then the test
// line client on WaitForData + TakeBytes) beside a bare send + recv; and a connect,
// plain and TLS (Open until the server hangs up), beside a bare blocking
// connect (and SSL_connect) doing the same.
//
//   build/bench/net/net_bench --benchmark_counters_tabular=true
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/test_tls.h"

namespace {

constexpr size_t kTotal = 200u * 1024 * 1024;

// A loopback server on its own thread serving one connection per client:
// a stream of kTotal bytes, a "+OK" answer to each line, or a hang-up once
// the connection (and its handshake) stands.
class LoopServer {
 public:
  enum Kind { Stream, Answer, Hangup };
  LoopServer(Kind kind, bool tls) : kind_(kind) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listen_, 4) != 0) {
      throw std::runtime_error("bench server: listen");
    }
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (tls) ctx_ = brevan::test::NewTestServerTlsContext();
    thread_ = std::thread([this] { Run(); });
  }
  ~LoopServer() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    thread_.join();
    ::close(listen_);
    if (ctx_) SSL_CTX_free(ctx_);
  }
  int Port() const { return port_; }

 private:
  void Run() {
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    while (!stop_) {
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      SSL* ssl = nullptr;
      if (ctx_) {
        ssl = SSL_new(ctx_);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) != 1) {
          SSL_free(ssl);
          ::close(fd);
          continue;
        }
      }
      auto put = [&](const char* p, size_t n) {
        return ssl ? SSL_write(ssl, p, static_cast<int>(n)) : ::send(fd, p, n, MSG_NOSIGNAL);
      };
      if (kind_ == Hangup) {
        // Connect timing only: the connection ends once it stands.
      } else if (kind_ == Stream) {
        std::string block(65536, 'x');
        for (size_t sent = 0; sent < kTotal;) {
          long n = put(block.data(), std::min(block.size(), kTotal - sent));
          if (n <= 0) break;
          sent += static_cast<size_t>(n);
        }
      } else {
        char buf[4096];
        for (;;) {
          long n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::recv(fd, buf, sizeof buf, 0);
          if (n <= 0) break;
          if (put("+OK\r\n", 5) <= 0) break;  // one command per read in these loops
        }
      }
      if (ssl) {
        SSL_shutdown(ssl);
        SSL_free(ssl);
      }
      ::close(fd);
    }
  }

  Kind kind_;
  int listen_ = -1;
  int port_ = 0;
  SSL_CTX* ctx_ = nullptr;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int BareConnect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
  return fd;
}

void ConnectionDownload(benchmark::State& state, bool tls) {
  LoopServer server(LoopServer::Stream, tls);
  for (auto _ : state) {
    brevan::TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.UseTls = tls;
    c.Open();
    size_t got = 0;
    while (got < kTotal) {
      if (c.BufferedByteCount() == 0) c.WaitForData(brevan::InfiniteWait);
      std::string bytes = c.TakeBytes(c.BufferedByteCount());
      got += bytes.size();
      benchmark::DoNotOptimize(bytes.data());
    }
    c.Close();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BareDownload(benchmark::State& state, bool tls) {
  LoopServer server(LoopServer::Stream, tls);
  SSL_CTX* ctx = tls ? SSL_CTX_new(TLS_client_method()) : nullptr;
  for (auto _ : state) {
    int fd = BareConnect(server.Port());
    SSL* ssl = nullptr;
    if (ctx) {
      ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_connect(ssl) != 1) throw std::runtime_error("SSL_connect");
    }
    char buf[32768];
    size_t got = 0;
    while (got < kTotal) {
      long n = ssl ? SSL_read(ssl, buf, sizeof buf) : ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
      benchmark::DoNotOptimize(buf);
    }
    if (ssl) SSL_free(ssl);
    ::close(fd);
  }
  if (ctx) SSL_CTX_free(ctx);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

void BM_Download_Connection_Plain(benchmark::State& s) { ConnectionDownload(s, false); }
void BM_Download_Bare_Plain(benchmark::State& s) { BareDownload(s, false); }
void BM_Download_Connection_Tls(benchmark::State& s) { ConnectionDownload(s, true); }
void BM_Download_Bare_Tls(benchmark::State& s) { BareDownload(s, true); }
BENCHMARK(BM_Download_Bare_Plain)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download_Connection_Plain)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download_Bare_Tls)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Download_Connection_Tls)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RoundTrip_Connection(benchmark::State& state) {
  LoopServer server(LoopServer::Answer, false);
  brevan::TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  brevan::test::LineClient lineClient(c);
  for (auto _ : state) {
    if (lineClient.SendCommand("noop") != 1) throw std::runtime_error("reply");
  }
  c.Close();
}

void BM_RoundTrip_Bare(benchmark::State& state) {
  LoopServer server(LoopServer::Answer, false);
  int fd = BareConnect(server.Port());
  char buf[64];
  for (auto _ : state) {
    ::send(fd, "noop\r\n", 6, MSG_NOSIGNAL);
    size_t got = 0;
    while (got < 5) {
      long n = ::recv(fd, buf + got, sizeof buf - got, 0);
      if (n <= 0) throw std::runtime_error("recv");
      got += static_cast<size_t>(n);
    }
  }
  ::close(fd);
}
BENCHMARK(BM_RoundTrip_Bare)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_RoundTrip_Connection)->Unit(benchmark::kMicrosecond)->UseRealTime();

void ConnectionConnect(benchmark::State& state, bool tls) {
  LoopServer server(LoopServer::Hangup, tls);
  for (auto _ : state) {
    brevan::TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.UseTls = tls;
    c.Open();
    try {
      c.WaitForData(brevan::InfiniteWait);  // until the server hangs up
    } catch (const brevan::NetError&) {
    }
    c.Close();
  }
}

void BareConnectOnly(benchmark::State& state, bool tls) {
  LoopServer server(LoopServer::Hangup, tls);
  SSL_CTX* ctx = tls ? SSL_CTX_new(TLS_client_method()) : nullptr;
  for (auto _ : state) {
    int fd = BareConnect(server.Port());
    char buf[256];
    if (ctx) {
      SSL* ssl = SSL_new(ctx);
      SSL_set_fd(ssl, fd);
      if (SSL_connect(ssl) != 1) throw std::runtime_error("SSL_connect");
      while (SSL_read(ssl, buf, sizeof buf) > 0) {
      }
      SSL_free(ssl);
    } else {
      while (::recv(fd, buf, sizeof buf, 0) > 0) {
      }
    }
    ::close(fd);
  }
  if (ctx) SSL_CTX_free(ctx);
}

void BM_Connect_Connection_Plain(benchmark::State& s) { ConnectionConnect(s, false); }
void BM_Connect_Bare_Plain(benchmark::State& s) { BareConnectOnly(s, false); }
void BM_Connect_Connection_Tls(benchmark::State& s) { ConnectionConnect(s, true); }
void BM_Connect_Bare_Tls(benchmark::State& s) { BareConnectOnly(s, true); }
BENCHMARK(BM_Connect_Bare_Plain)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Connect_Connection_Plain)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Connect_Bare_Tls)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Connect_Connection_Tls)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
