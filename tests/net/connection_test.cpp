// The connection's states and failures: peers that close or reset, waits,
// the servicing of the program during waits, nested calls from the service
// callback, and TLS.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;

const char kClosed[] = "Connection Closed Gracefully.";

// Every test starts and ends without a service callback installed.
class Connection : public ::testing::Test {
 protected:
  void SetUp() override { TIdTCPConnection::SetServiceCallback(nullptr); }
  void TearDown() override { TIdTCPConnection::SetServiceCallback(nullptr); }

  void Open(ScriptedPop3Server& server, bool tls = false) {
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.UseTls = tls;
    c.OnDisconnected = [this] { ++disconnects; };
    c.Open();
  }
  // The text of the NetError the call raises, or "" when none.
  template <typename F>
  static std::string ErrorOf(F&& call) {
    try {
      call();
    } catch (const NetError& e) {
      return e.what();
    }
    return "";
  }

  TIdTCPClient c;
  test::LineClient lineClient{c};
  int disconnects = 0;
};

TEST_F(Connection, PeerClosingMidLineRaisesAndNotifiesOnce) {
  ScriptedPop3Server server;
  server.SendLine("+OK hello").Send("+OK part").CloseConnection();
  Open(server);
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK hello");
  EXPECT_EQ(ErrorOf([&] { lineClient.ReadLine(InfiniteWait); }), kClosed);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(ErrorOf([&] { lineClient.ReadLine(InfiniteWait); }), kClosed);
  EXPECT_EQ(ErrorOf([&] { c.WriteLine("noop"); }), kClosed);
  c.Close();
  EXPECT_EQ(disconnects, 1);
}

TEST_F(Connection, CloseTwiceNotifiesOnceAndReopens) {
  ScriptedPop3Server server;
  server.SendLine("+OK one").AwaitClientClose().SendLine("+OK two").AwaitClientClose();
  Open(server);
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK one");
  c.Close();
  c.Close();
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
  c.Open();  // the same object connects again
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK two");
  c.Close();
  EXPECT_EQ(disconnects, 2);
}

TEST_F(Connection, OpenWhileOpen) {
  ScriptedPop3Server server;
  server.AwaitClientClose();
  Open(server);
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Already connected.");
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(disconnects, 0);
  c.Close();
}

TEST_F(Connection, PeerClosingWithBytesLeftLetsThemBeTaken) {
  ScriptedPop3Server server;
  server.Send("abc").CloseConnection();
  Open(server);
  ASSERT_TRUE(server.WaitForScriptDone());
  // Reads until the close is seen; the close does not raise while bytes are left.
  while (c.IsOpen()) c.WaitForData(1000);
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(c.BufferedByteCount(), 3);
  EXPECT_EQ(ErrorOf([&] { c.TakeBytes(4); }), "Not enough data in buffer.");
  EXPECT_EQ(c.TakeBytes(2), "ab");
  EXPECT_EQ(c.TakeBytes(1), "c");
  EXPECT_EQ(c.TakeBytes(0), "");
  EXPECT_EQ(ErrorOf([&] { c.WaitForData(1000); }), kClosed);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(Connection, PeerClosingWithNothingLeftRaisesFromTheWait) {
  ScriptedPop3Server server;
  server.CloseConnection();
  Open(server);
  EXPECT_EQ(ErrorOf([&] { c.WaitForData(InfiniteWait); }), kClosed);
  EXPECT_EQ(disconnects, 1);
}

TEST_F(Connection, ReadLineTimeoutIsNotAnError) {
  ScriptedPop3Server server;
  server.AwaitCommand().SendLine("+OK late").AwaitClientClose();
  Open(server);
  EXPECT_EQ(lineClient.ReadLine(300), "");
  EXPECT_TRUE(lineClient.ReadTimedOut());
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(c.WaitForData(0), 0);
  c.WriteLine("go");
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK late");
  EXPECT_FALSE(lineClient.ReadTimedOut());
  c.Close();
}

TEST_F(Connection, ResetByPeerIsASocketErrorAndKeepsTheSocket) {
  ScriptedPop3Server server;
  server.AwaitCommand().ResetConnection();
  Open(server);
  c.WriteLine("quit");
  try {
    lineClient.ReadLine(InfiniteWait);
    FAIL() << "no error";
  } catch (const NetError& e) {
    EXPECT_EQ(e.SocketError, ECONNRESET);
    EXPECT_EQ(std::string(e.what()), "Socket Error # " + std::to_string(ECONNRESET) + "\r\n" + std::strerror(ECONNRESET));
  }
  EXPECT_TRUE(c.IsOpen());  // only a close counts as the end
  EXPECT_EQ(disconnects, 0);
  c.Close();
  EXPECT_EQ(disconnects, 1);
}

TEST_F(Connection, WriteToAVanishedPeerIsTheShutdownErrorAndCloses) {
  ScriptedPop3Server server;
  // The reset waits for a first line: a reset at once could reach the
  // client before its connect was seen to succeed, and fail the Open.
  server.AwaitCommand().ResetConnection();
  Open(server);
  c.WriteLine("hello");
  ASSERT_TRUE(server.WaitForScriptDone());
  // The reset shows first as ECONNRESET (socket kept), then every send
  // fails with EPIPE, the shutdown error, which closes. MSG_NOSIGNAL keeps
  // SIGPIPE from ending the program on the way.
  const std::string broken = "Socket Error # " + std::to_string(EPIPE) + "\r\n" + std::strerror(EPIPE);
  std::string error;
  for (int i = 0; i < 100 && error != broken; ++i) error = ErrorOf([&] { c.WriteLine("noop"); });
  EXPECT_EQ(error, broken);
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(disconnects, 1);
}

TEST_F(Connection, LongDownloadReadLineByLine) {
  // Several megabytes taken a line at a time: the buffer grows, compacts
  // and keeps every byte in order.
  std::string wire;
  int lines = 0;
  for (; wire.size() < 5 * 1024 * 1024; ++lines) wire += std::to_string(lines) + " " + std::string(lines % 97, 'x') + "\r\n";
  ScriptedPop3Server server;
  server.Send(wire).AwaitClientClose();
  Open(server);
  for (int i = 0; i < lines; ++i) {
    std::string expected = std::to_string(i) + " " + std::string(i % 97, 'x');
    std::string got = lineClient.ReadLine(InfiniteWait);
    if (got != expected) {
      FAIL() << "line " << i << ": " << got;
      break;
    }
  }
  EXPECT_EQ(c.BufferedByteCount(), 0);
  c.Close();
}

TEST_F(Connection, RefusedConnectNotifiesAndRaisesTheSocketError) {
  int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(probe);  // nothing listens there now
  c.Host = "127.0.0.1";
  c.Port = ntohs(addr.sin_port);
  c.OnDisconnected = [this] { ++disconnects; };
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Socket Error # " + std::to_string(ECONNREFUSED) + "\r\n" + std::strerror(ECONNREFUSED));
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

TEST_F(Connection, PortOutOfRangeIsRefusedNotWrapped) {
  ScriptedPop3Server server;
  c.Host = "127.0.0.1";
  c.Port = server.Port() + 65536;  // would wrap onto the server's port
  EXPECT_NE(ErrorOf([&] { c.Open(); }), "");
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(server.ConnectionsAccepted(), 0);
}

TEST_F(Connection, UnresolvableHostNotifiesAndRaises) {
  c.Host = "";  // never a name: fails without asking a name server
  c.Port = 110;
  c.OnDisconnected = [this] { ++disconnects; };
  std::string error = ErrorOf([&] { c.Open(); });
  EXPECT_EQ(error.rfind("Socket Error # ", 0), 0u) << error;
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

TEST_F(Connection, HostNameIsResolved) {
  ScriptedPop3Server server;
  server.SendLine("+OK named").AwaitClientClose();
  c.Host = "localhost";
  c.Port = server.Port();
  c.Open();
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK named");
  c.Close();
}

// ---- servicing during waits

struct SliceRow {
  const char* name;
  int timeoutMs;
  int slices;
};

void PrintTo(const SliceRow& row, std::ostream* os) { *os << row.name; }

class WaitSlices : public Connection, public ::testing::WithParamInterface<SliceRow> {};

// A wait that sees no data services the program once per slice of at most
// 50 ms, of which only the first is shorter.
TEST_P(WaitSlices, ServiceRunsOncePerSlice) {
  ScriptedPop3Server server;
  server.AwaitClientClose();
  Open(server);
  int calls = 0;
  TIdTCPConnection::SetServiceCallback([&] { ++calls; });
  EXPECT_EQ(c.WaitForData(GetParam().timeoutMs), 0);
  EXPECT_EQ(calls, GetParam().slices);
  calls = 0;
  EXPECT_EQ(lineClient.ReadLine(GetParam().timeoutMs), "");
  EXPECT_EQ(calls, GetParam().slices);
  TIdTCPConnection::SetServiceCallback(nullptr);
  c.Close();
}

INSTANTIATE_TEST_SUITE_P(Timeouts, WaitSlices,
                         ::testing::Values(SliceRow{"zero", 0, 1}, SliceRow{"short", 30, 1}, SliceRow{"one_slice", 50, 1},
                                           SliceRow{"just_over", 51, 2}, SliceRow{"six_hundred", 600, 12},
                                           SliceRow{"one_second", 1000, 20}),
                         [](const ::testing::TestParamInfo<SliceRow>& info) { return std::string(info.param.name); });

TEST_F(Connection, InfiniteWaitServicesUntilDataComes) {
  ScriptedPop3Server server;
  server.AwaitCommand().SendLine("+OK at last").AwaitClientClose();
  Open(server);
  int calls = 0;
  // The data is asked for from inside the twelfth service call: the wait
  // must have kept servicing that long.
  TIdTCPConnection::SetServiceCallback([&] {
    if (++calls == 12) c.WriteLine("go");
  });
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK at last");
  EXPECT_GE(calls, 13);  // the nested send serviced once more
  TIdTCPConnection::SetServiceCallback(nullptr);
  c.Close();
}

TEST_F(Connection, EachPlainSendIsServiced) {
  ScriptedPop3Server server;
  server.AwaitClientClose();
  Open(server);
  int calls = 0;
  TIdTCPConnection::SetServiceCallback([&] { ++calls; });
  c.WriteLine("noop");
  EXPECT_EQ(calls, 1);
  TIdTCPConnection::SetServiceCallback(nullptr);
  c.Close();
}

TEST_F(Connection, NestedCloseEndsTheWaitingCall) {
  ScriptedPop3Server server;
  server.AwaitClientClose();
  Open(server);
  TIdTCPConnection::SetServiceCallback([&] { c.Close(); });
  EXPECT_EQ(ErrorOf([&] { lineClient.ReadLine(InfiniteWait); }), kClosed);
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

TEST_F(Connection, NestedCloseAndReopenStillEndsTheWaitingCall) {
  ScriptedPop3Server server;
  server.AwaitClientClose().SendLine("+OK second").AwaitClientClose();
  Open(server);
  bool done = false;
  TIdTCPConnection::SetServiceCallback([&] {
    if (done) return;
    done = true;
    c.Close();
    c.Open();
  });
  // The outer read belonged to the first connection.
  EXPECT_EQ(ErrorOf([&] { lineClient.ReadLine(InfiniteWait); }), kClosed);
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK second");
  c.Close();
  EXPECT_EQ(disconnects, 2);
}

TEST_F(Connection, ConnectionDestroyedInsideItsOwnWait) {
  ScriptedPop3Server server;
  server.AwaitClientClose();
  auto owned = std::make_unique<TIdTCPClient>();
  owned->Host = "127.0.0.1";
  owned->Port = server.Port();
  owned->Open();
  TIdTCPClient* raw = owned.get();
  TIdTCPConnection::SetServiceCallback([&] { owned.reset(); });
  EXPECT_EQ(ErrorOf([&] { test::LineClient(*raw).ReadLine(InfiniteWait); }), kClosed);
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_EQ(owned, nullptr);
}

TEST_F(Connection, NestedCommandInsideAWait) {
  ScriptedPop3Server server;
  // The greeting comes only after the nested NOOP was answered.
  server.AwaitCommand().SendLine("+OK noop").Delay(20).SendLine("+OK greeting").AwaitClientClose();
  Open(server);
  bool nested = false;
  std::string nestedReply;
  TIdTCPConnection::SetServiceCallback([&] {
    if (nested) return;
    nested = true;
    lineClient.SendCommand("noop");
    nestedReply = lineClient.LastReply();
  });
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK greeting");
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_EQ(nestedReply, "+OK noop");
  c.Close();
}

// ---- TLS

TEST_F(Connection, TlsAgainstAPlainServerFailsAndKeepsTheSocket) {
  ScriptedPop3Server server;
  server.SendLine("+OK plain greeting").AwaitClientClose();
  EXPECT_EQ(ErrorOf([&] { Open(server, true); }), "Error connecting with SSL.");
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(disconnects, 0);
  c.Close();
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

TEST_F(Connection, TlsDialogueAndLargeTransfer) {
  std::string big;
  for (int i = 0; big.size() < 1000000; ++i) big += "line " + std::to_string(i) + " of the big message\r\n";
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Tls);
  server.SendLine("+OK tls ready").AwaitCommand().SendLine("+OK here").Send(big).AwaitClientClose();
  Open(server, true);
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK tls ready");
  EXPECT_EQ(lineClient.SendCommand("retr 1"), 1);
  while (c.BufferedByteCount() < static_cast<int>(big.size())) c.WaitForData(InfiniteWait);
  EXPECT_EQ(c.TakeBytes(static_cast<int>(big.size())), big);
  ASSERT_TRUE(server.WaitForCommands(1));
  EXPECT_EQ(server.Commands()[0], "retr 1");
  c.Close();
  EXPECT_EQ(disconnects, 1);
  // A plain connection on the same object afterwards.
  ScriptedPop3Server plain;
  plain.SendLine("+OK plain").AwaitClientClose();
  Open(plain, false);
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK plain");
  c.Close();
}

class TlsPeerClose : public Connection, public ::testing::WithParamInterface<bool> {};

// With or without a close notification, a TLS peer that hangs up mid-line
// has closed the connection.
TEST_P(TlsPeerClose, MidLineRaisesClosedAndNotifiesOnce) {
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Tls);
  server.SendLine("+OK whole").Send("+OK par").CloseConnection(GetParam());
  Open(server, true);
  EXPECT_EQ(lineClient.ReadLine(InfiniteWait), "+OK whole");
  EXPECT_EQ(ErrorOf([&] { lineClient.ReadLine(InfiniteWait); }), kClosed);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Notify, TlsPeerClose, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return std::string(info.param ? "with_close_notify" : "stream_dropped");
                         });

}  // namespace
}  // namespace brevan
