// Sending commands ahead while reading replies: the send takes what the
// socket takes and never waits for more, bytes from the server are read in
// the same step, and a server's close is seen before a failed send.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;
using Clock = std::chrono::steady_clock;

const char kClosed[] = "Connection Closed Gracefully.";

template <typename F>
std::string ErrorOf(F&& call) {
  try {
    call();
  } catch (const NetError& e) {
    return e.what();
  }
  return "";
}

// A peer that accepts and then reads nothing: what the client sends only
// fills the socket buffers.
class DeafPeer {
 public:
  DeafPeer() {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 1);
    socklen_t n = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
  }
  ~DeafPeer() {
    if (peer_ >= 0) ::close(peer_);
    ::close(listen_);
  }
  int Port() const { return port_; }
  void Accept() { peer_ = ::accept(listen_, nullptr, nullptr); }
  void Say(const std::string& text) { ::send(peer_, text.data(), text.size(), MSG_NOSIGNAL); }

 private:
  int listen_ = -1;
  int peer_ = -1;
  int port_ = 0;
};

TEST(SendWhileReading, NeverWaitsForTheSocketToTakeTheRestAndStillReads) {
  DeafPeer peer;
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = peer.Port();
  c.Open();
  peer.Accept();
  const std::string many(32 * 1024 * 1024, 'x');
  size_t sent = 0;
  // Fill every buffer between us: at some point a step sends nothing.
  for (int step = 0; step < 10000; ++step) {
    const size_t n = c.SendSomeAndReceive(std::string_view(many).substr(sent), 50);
    if (n == 0) break;
    sent += n;
  }
  EXPECT_GT(sent, 0u);
  EXPECT_LT(sent, many.size()) << "a deaf peer cannot have taken it all";
  // The server speaks while its input is full: its bytes still come in.
  peer.Say("+OK late\r\n");
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (c.BufferedByteCount() < 10 && Clock::now() < giveUp)
    c.SendSomeAndReceive(std::string_view(many).substr(sent), 50);
  EXPECT_EQ(c.TakeBytes(c.BufferedByteCount()), "+OK late\r\n");
}

TEST(SendWhileReading, CloseAfterTheLastRepliesIsSeenBeforeAnySend) {
  ScriptedPop3Server server;
  server.AwaitCommand().Send("+OK one\r\n+OK two\r\n").CloseConnection();
  TIdTCPClient c;
  int disconnects = 0;
  c.OnDisconnected = [&] { ++disconnects; };
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  ASSERT_EQ(c.SendSomeAndReceive("noop\r\n", 1000), 6u);
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  // The replies that came before the close are kept; the command after them
  // is not sent into the closed connection.
  std::string got;
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (c.IsOpen() && Clock::now() < giveUp) EXPECT_EQ(c.SendSomeAndReceive("noop\r\n", 100), 0u);
  got = c.TakeBytes(c.BufferedByteCount());
  EXPECT_EQ(got, "+OK one\r\n+OK two\r\n");
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(ErrorOf([&] { c.SendSomeAndReceive("noop\r\n", 100); }), kClosed);
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(server.Commands(), (std::vector<std::string>{"noop"}));
}

TEST(SendWhileReading, ClosedConnectionRaises) {
  TIdTCPClient c;
  EXPECT_EQ(ErrorOf([&] { c.SendSomeAndReceive("noop\r\n", 10); }), kClosed);
}

TEST(SendWhileReading, NothingToSendIsABoundedWaitForReplies) {
  ScriptedPop3Server server;
  server.Delay(200).SendLine("+OK later");
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  EXPECT_EQ(c.SendSomeAndReceive("", 10), 0u);
  EXPECT_EQ(c.BufferedByteCount(), 0);
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while (c.BufferedByteCount() < 11 && Clock::now() < giveUp) c.SendSomeAndReceive("", 50);
  EXPECT_EQ(test::LineClient(c).ReadLine(0), "+OK later");
}

TEST(SendWhileReading, ThroughTls) {
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Tls);
  server.AwaitCommands(2).Send("+OK a\r\n+OK b\r\n");
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.UseTls = true;
  c.Open();
  std::string out = "noop\r\nnoop\r\n";
  const auto giveUp = Clock::now() + std::chrono::seconds(5);
  while ((!out.empty() || c.BufferedByteCount() < 14) && Clock::now() < giveUp)
    out.erase(0, c.SendSomeAndReceive(out, 50));
  EXPECT_EQ(c.TakeBytes(c.BufferedByteCount()), "+OK a\r\n+OK b\r\n");
}

}  // namespace
}  // namespace brevan
