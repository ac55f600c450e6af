// Timing of the deletion that keeps a copy first: 100 messages of 20 KB
// deleted across a 20 ms round trip (a proxy that delays each direction
// 10 ms), with PIPELINING, next to a bare client doing the same exchanges
// over one socket without writing anything:
//   bare     every "retr" at once, each reply read to its end and dropped,
//            then every "dele" at once and their replies
//   keeping  the exchange of the program: each copy written, made durable
//            and named before its "dele" goes
//   no copy  the same exchange with copies turned off (every "dele" at once)
// and the same without PIPELINING. Copies go to a folder on the disk the
// program's files live on (the build folder). Best of five rounds each.
// Usage: keep_bench [folder]. Not run by the test suite.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "keep/copy_then_delete.h"
#include "net/tcp_client.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/scripted_pop3_server.h"

using namespace brevan;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCount = 100;
constexpr size_t kMessageBytes = 20 * 1024;
constexpr int kDelayEachWayMs = 10;
constexpr int kRounds = 5;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Message(int k) {
  std::string text = "From: bench@example.com\r\nSubject: bench message " + std::to_string(k) + "\r\n\r\n";
  while (text.size() + 80 < kMessageBytes) text += std::string(76, 'a' + static_cast<char>(k % 26)) + "\r\n";
  return text;
}

// The bare client: one blocking socket. Seconds from the first "retr" to the
// last "dele" reply.
double Bare(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  std::string in;
  auto fill = [&] {
    char chunk[65536];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) throw std::runtime_error("recv");
    in.append(chunk, static_cast<size_t>(n));
  };
  auto line = [&] {
    size_t end;
    while ((end = in.find("\r\n")) == std::string::npos) fill();
    in.erase(0, end + 2);
  };
  auto block = [&] {
    size_t end;
    while ((end = in.find("\r\n.\r\n")) == std::string::npos) fill();
    in.erase(0, end + 5);
  };
  auto say = [&](const std::string& bytes) { ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); };
  line();
  say("user user\r\n");
  line();
  say("pass password\r\n");
  line();
  const Clock::time_point begin = Clock::now();
  std::string out;
  for (int k = kCount; k >= 1; --k) out += "retr " + std::to_string(k) + "\r\n";
  say(out);
  for (int k = 0; k < kCount; ++k) {
    line();
    block();
  }
  out.clear();
  for (int k = kCount; k >= 1; --k) out += "dele " + std::to_string(k) + "\r\n";
  say(out);
  for (int k = 0; k < kCount; ++k) line();
  const double seconds = Seconds(Clock::now() - begin);
  ::close(fd);  // without "quit": the mailbox keeps its messages for the next round
  return seconds;
}

// The program's exchange; keptFolder empty: copies turned off.
double Keeping(int port, bool pipelining, const std::string& keptFolder) {
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = port;
  c.Open();
  c.ReadLine(InfiniteWait);
  c.SendCommand("user user");
  c.SendCommand("pass password");
  std::vector<MarkedMessage> marked;
  for (int k = kCount; k >= 1; --k) marked.push_back({k, "bench message " + std::to_string(k)});
  const Clock::time_point begin = Clock::now();
  CopyThenDelete driver(c, pipelining, keptFolder, marked, {});
  const CopyThenDeleteResult result = driver.Run();
  const double seconds = Seconds(Clock::now() - begin);
  if (result.Deleted().size() != static_cast<size_t>(kCount)) throw std::runtime_error("not every message went");
  c.Close();
  return seconds;
}

double Best(const std::function<double()>& run) {
  double best = 1e9;
  for (int i = 0; i < kRounds; ++i) best = std::min(best, run());
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::current_path() / "keep_bench_copies";
  test::Pop3Mailbox box;
  for (int k = 1; k <= kCount; ++k) box.messages.push_back(Message(k));
  box.answersCapa = true;
  box.capabilities = {"TOP", "USER", "PIPELINING"};
  test::ScriptedPop3Server server;
  server.ServeMailbox(box);
  test::DelayProxy proxy(server.Port(), kDelayEachWayMs);
  const auto keep = [&](bool pipelining) {
    return Best([&] {
      fs::remove_all(folder);
      return Keeping(proxy.Port(), pipelining, (folder / "user(host)").string());
    });
  };
  const double bare = Best([&] { return Bare(proxy.Port()); });
  const double kept = keep(true);
  const double none = Best([&] { return Keeping(proxy.Port(), true, ""); });
  const double sequential = keep(false);
  fs::remove_all(folder);
  std::printf("deleting %d messages of %zu KB across a %d ms round trip, PIPELINING, best of %d:\n", kCount,
              kMessageBytes / 1024, 2 * kDelayEachWayMs, kRounds);
  std::printf("  bare client (retr all, then dele all, nothing written) %.3f s\n", bare);
  std::printf("  keeping a copy of each                                 %.3f s  (%.2fx bare)\n", kept, kept / bare);
  std::printf("  copies turned off (dele only)                          %.3f s  (%.2fx bare)\n", none, none / bare);
  std::printf("  keeping a copy of each, without PIPELINING            %.3f s  (%.2fx bare)\n", sequential,
              sequential / bare);
  server.Stop();
  proxy.Stop();
  return 0;
}
