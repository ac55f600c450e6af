// Opening a connection: every address a name stands for, IPv4 and IPv6, the
// server name announced in the TLS handshake, and the program kept serviced
// while the TCP connect and the handshake wait, with nested calls that close,
// reopen or destroy the connection under Open.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/loopback_addresses.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::HasIpv6Loopback;
using test::Loopback;
using test::RefusingAddress;
using test::ScriptedPop3Server;
using test::SilentListener;
using Clock = std::chrono::steady_clock;

const char kClosed[] = "Connection Closed Gracefully.";

std::string SocketErrorText(int code) {
  return "Socket Error # " + std::to_string(code) + "\r\n" + std::strerror(code);
}

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

// The service callback's calls: how many, and the longest stretch without one.
struct ServiceLog {
  int calls = 0;
  Clock::time_point start = Clock::now();
  Clock::time_point last = start;
  long longestGapMs = 0;
  void Call() {
    auto now = Clock::now();
    longestGapMs = std::max<long>(longestGapMs, std::chrono::duration_cast<std::chrono::milliseconds>(now - last).count());
    last = now;
    ++calls;
  }
  long ElapsedMs() const { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(); }
};

// A slice is 50 ms; the margin is for a busy machine only. A wait that does
// not service at all, or in the quarter-second slices of old, is beyond it.
constexpr long kLongestGapMs = 240;

class Opening : public ::testing::Test {
 protected:
  void SetUp() override { TIdTCPConnection::SetServiceCallback(nullptr); }
  void TearDown() override { TIdTCPConnection::SetServiceCallback(nullptr); }

  template <typename F>
  static std::string ErrorOf(F&& call) {
    try {
      call();
    } catch (const NetError& e) {
      return e.what();
    }
    return "";
  }

  // The connection resolves every name to these addresses, recording what
  // it was asked.
  void ResolveTo(std::vector<NetAddress> addresses) {
    c.Resolver = [this, addresses](const std::string& host, int port) {
      askedHost = host;
      askedPort = port;
      return addresses;
    };
  }

  TIdTCPClient c;
  int disconnects = 0;
  std::string askedHost;
  int askedPort = -1;
};

// ---- addresses written as such, resolved by the system

struct LiteralRow {
  const char* name;
  const char* listenOn;
  const char* host;
};

void PrintTo(const LiteralRow& row, std::ostream* os) { *os << row.name; }

class HostForms : public Opening, public ::testing::WithParamInterface<LiteralRow> {};

TEST_P(HostForms, ConnectsToTheServer) {
  if (std::string(GetParam().listenOn) == "::1") REQUIRE_IPV6();
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Plain, 0, GetParam().listenOn);
  server.SendLine("+OK here").AwaitClientClose();
  c.Host = GetParam().host;
  c.Port = server.Port();
  c.Open();
  EXPECT_EQ(test::LineClient(c).ReadLine(), "+OK here");
  c.Close();
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostForms,
                         ::testing::Values(LiteralRow{"ipv4_address", "127.0.0.1", "127.0.0.1"},
                                           LiteralRow{"ipv6_address", "::1", "::1"},
                                           LiteralRow{"ipv6_address_in_brackets", "::1", "[::1]"},
                                           LiteralRow{"ipv6_address_written_long", "::1", "0:0:0:0:0:0:0:1"},
                                           LiteralRow{"name_for_ipv4", "127.0.0.1", "localhost"}),
                         [](const ::testing::TestParamInfo<LiteralRow>& info) { return std::string(info.param.name); });

TEST_F(Opening, AnIpv4OnlyServerIsNotReachedThroughIpv6) {
  // Guards the family: the IPv6 literal must not fall back to IPv4.
  REQUIRE_IPV6();
  ScriptedPop3Server server;
  c.Host = "::1";
  c.Port = server.Port();
  c.OnDisconnected = [this] { ++disconnects; };
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), SocketErrorText(ECONNREFUSED));
  EXPECT_EQ(disconnects, 1);
  EXPECT_EQ(server.ConnectionsAccepted(), 0);
}

// ---- names with several addresses (a fixed resolver in place of the system's)

enum class Kind { Refused4, Refused6, Silent4, Silent6, Server4, Server6 };

struct AddressRow {
  const char* name;
  std::vector<Kind> addresses;
  const char* connectsTo;  // "v4", "v6", or "" when Open must fail
  int error;               // the socket error when it fails
};

void PrintTo(const AddressRow& row, std::ostream* os) { *os << row.name; }

class SeveralAddresses : public Opening, public ::testing::WithParamInterface<AddressRow> {};

TEST_P(SeveralAddresses, TheFirstThatAnswersIsUsed) {
  REQUIRE_IPV6();
  ScriptedPop3Server server4;
  ScriptedPop3Server server6(ScriptedPop3Server::Mode::Plain, 0, "::1");
  server4.SendLine("+OK v4").AwaitClientClose();
  server6.SendLine("+OK v6").AwaitClientClose();
  SilentListener silent4(AF_INET), silent6(AF_INET6);
  std::vector<NetAddress> addresses;
  for (Kind k : GetParam().addresses) {
    switch (k) {
      case Kind::Refused4: addresses.push_back(RefusingAddress(AF_INET)); break;
      case Kind::Refused6: addresses.push_back(RefusingAddress(AF_INET6)); break;
      case Kind::Silent4: addresses.push_back(silent4.Address()); break;
      case Kind::Silent6: addresses.push_back(silent6.Address()); break;
      case Kind::Server4: addresses.push_back(Loopback(AF_INET, server4.Port())); break;
      case Kind::Server6: addresses.push_back(Loopback(AF_INET6, server6.Port())); break;
    }
  }
  ResolveTo(addresses);
  c.Host = "pop.example.test";
  c.Port = 110;
  c.OnDisconnected = [this] { ++disconnects; };
  ServiceLog log;
  TIdTCPConnection::SetServiceCallback([&] { log.Call(); });
  const int descriptorsBefore = OpenDescriptors();

  const std::string expected = GetParam().connectsTo;
  if (expected.empty()) {
    EXPECT_EQ(ErrorOf([&] { c.Open(); }), SocketErrorText(GetParam().error));
    EXPECT_EQ(disconnects, 1);
    EXPECT_FALSE(c.IsOpen());
  } else {
    c.Open();
    EXPECT_EQ(test::LineClient(c).ReadLine(), "+OK " + expected);
    // An address that never answers costs a slice or two, not the bound.
    EXPECT_LT(log.ElapsedMs(), 3000);
    c.Close();
    EXPECT_EQ(disconnects, 1);
  }
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_EQ(askedHost, "pop.example.test");
  EXPECT_EQ(askedPort, 110);
  EXPECT_EQ(server4.ConnectionsAccepted(), expected == "v4" ? 1 : 0);
  EXPECT_EQ(server6.ConnectionsAccepted(), expected == "v6" ? 1 : 0);
  if (!expected.empty()) {
    ASSERT_TRUE((expected == "v4" ? server4 : server6).WaitForConnectionsEnded(1));
  }
  // The attempts that lost were closed with the one that won.
  EXPECT_EQ(OpenDescriptors(), descriptorsBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SeveralAddresses,
    ::testing::Values(AddressRow{"ipv6_only", {Kind::Server6}, "v6", 0},
                      AddressRow{"refused_then_ipv4", {Kind::Refused4, Kind::Server4}, "v4", 0},
                      AddressRow{"refused_ipv6_then_ipv4", {Kind::Refused6, Kind::Server4}, "v4", 0},
                      AddressRow{"silent_ipv6_then_ipv4", {Kind::Silent6, Kind::Server4}, "v4", 0},
                      AddressRow{"silent_then_refused_then_ipv6", {Kind::Silent4, Kind::Refused4, Kind::Server6}, "v6", 0},
                      AddressRow{"first_of_two_that_answer", {Kind::Server6, Kind::Server4}, "v6", 0},
                      AddressRow{"all_refused", {Kind::Refused6, Kind::Refused4}, "", ECONNREFUSED}),
    [](const ::testing::TestParamInfo<AddressRow>& info) { return std::string(info.param.name); });

TEST_F(Opening, ResolverFailureNotifiesAndRaisesItsError) {
  c.Resolver = [](const std::string&, int) -> std::vector<NetAddress> { throw NetError(SocketErrorText(EHOSTUNREACH)); };
  c.Host = "nowhere.example.test";
  c.Port = 110;
  c.OnDisconnected = [this] { ++disconnects; };
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), SocketErrorText(EHOSTUNREACH));
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

// The connect bound the program uses; the tests below shorten it so that a
// whole bound runs in a few seconds.
TEST(ConnectBound, DefaultIsThirtySeconds) { EXPECT_EQ(TIdTCPConnection().ConnectTimeoutMs, 30000); }

constexpr int kShortBoundMs = 2500;

// Only the whole of the attempts is bounded, however many addresses there are.
TEST_F(Opening, AddressesThatNeverAnswerShareOneBound) {
  REQUIRE_IPV6();
  SilentListener silent4(AF_INET), silent6(AF_INET6);
  ResolveTo({silent6.Address(), silent4.Address()});
  c.Host = "pop.example.test";
  c.Port = 110;
  c.ConnectTimeoutMs = kShortBoundMs;
  c.OnDisconnected = [this] { ++disconnects; };
  ServiceLog log;
  TIdTCPConnection::SetServiceCallback([&] { log.Call(); });
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), SocketErrorText(ETIMEDOUT));
  TIdTCPConnection::SetServiceCallback(nullptr);
  // One bound for both addresses, not one each.
  EXPECT_GE(log.ElapsedMs(), kShortBoundMs - 100);
  EXPECT_LT(log.ElapsedMs(), 2 * kShortBoundMs - 200);
  EXPECT_LT(log.longestGapMs, kLongestGapMs);
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(c.IsOpen());
}

// ---- the server name in the TLS handshake

struct ServerNameRow {
  const char* name;
  const char* listenOn;
  const char* host;
  const char* announced;  // "" for none
};

void PrintTo(const ServerNameRow& row, std::ostream* os) { *os << row.name; }

class ServerName : public Opening, public ::testing::WithParamInterface<ServerNameRow> {};

TEST_P(ServerName, IsAnnouncedForNamesOnly) {
  if (std::string(GetParam().listenOn) == "::1") REQUIRE_IPV6();
  ScriptedPop3Server server(ScriptedPop3Server::Mode::Tls, 0, GetParam().listenOn);
  server.SendLine("+OK tls").AwaitClientClose();
  const int family = std::string(GetParam().listenOn) == "::1" ? AF_INET6 : AF_INET;
  ResolveTo({Loopback(family, server.Port())});
  c.Host = GetParam().host;
  c.Port = 995;
  c.UseTls = true;
  c.Open();
  EXPECT_EQ(test::LineClient(c).ReadLine(), "+OK tls");
  c.Close();
  EXPECT_EQ(server.ServerNamesReceived(), std::vector<std::string>{GetParam().announced});
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ServerName,
    ::testing::Values(ServerNameRow{"name", "127.0.0.1", "pop.example.test", "pop.example.test"},
                      ServerNameRow{"name_of_an_ipv6_server", "::1", "mail.example.test", "mail.example.test"},
                      ServerNameRow{"fully_qualified_name", "127.0.0.1", "pop.example.test.", "pop.example.test"},
                      ServerNameRow{"single_label_name", "127.0.0.1", "localhost", "localhost"},
                      ServerNameRow{"ipv4_address", "127.0.0.1", "127.0.0.1", ""},
                      ServerNameRow{"ipv6_address", "::1", "::1", ""},
                      ServerNameRow{"ipv6_address_in_brackets", "::1", "[::1]", ""}),
    [](const ::testing::TestParamInfo<ServerNameRow>& info) { return std::string(info.param.name); });

// ---- servicing while connecting, and nested calls meanwhile

enum class Phase { TcpConnect, TlsHandshake };
enum class Nested { Close, CloseAndReopen, Destroy, ReadAndWrite };

struct NestedRow {
  const char* name;
  Phase phase;
  Nested action;
};

void PrintTo(const NestedRow& row, std::ostream* os) { *os << row.name; }

class NestedWhileConnecting : public Opening, public ::testing::WithParamInterface<NestedRow> {};

// The wait is serviced slice by slice; about a second in, the callback acts
// on the connection as a window event would. Open then ends with the closed
// error and leaves alone whatever the nested call made.
TEST_P(NestedWhileConnecting, OpenEndsAsClosed) {
  const NestedRow& row = GetParam();
  SilentListener silent(AF_INET);
  ScriptedPop3Server tlsMute;  // takes TCP, never answers the handshake
  tlsMute.AwaitClientClose();
  ScriptedPop3Server other;
  other.SendLine("+OK other").AwaitClientClose();

  auto owned = std::make_unique<TIdTCPClient>();
  TIdTCPClient& conn = *owned;
  if (row.phase == Phase::TcpConnect) {
    conn.Resolver = [&](const std::string&, int) { return std::vector<NetAddress>{silent.Address()}; };
  } else {
    conn.Resolver = [&](const std::string&, int) { return std::vector<NetAddress>{Loopback(AF_INET, tlsMute.Port())}; };
    conn.UseTls = true;
  }
  conn.Host = "pop.example.test";
  conn.Port = 995;
  conn.OnDisconnected = [this] { ++disconnects; };

  ServiceLog log;
  bool acted = false;
  std::string nestedRead, nestedWrite;
  TIdTCPConnection::SetServiceCallback([&] {
    log.Call();
    if (acted || log.calls < 4) return;
    acted = true;
    switch (row.action) {
      case Nested::Close:
        conn.Close();
        break;
      case Nested::CloseAndReopen:
        conn.Close();
        conn.Resolver = ResolveHost;
        conn.Host = "127.0.0.1";
        conn.Port = other.Port();
        conn.UseTls = false;
        conn.Open();
        break;
      case Nested::Destroy:
        owned.reset();
        break;
      case Nested::ReadAndWrite:
        // Not connected yet: both find the connection closed, and Open goes on.
        nestedRead = ErrorOf([&] { conn.WaitForData(1000); });
        nestedWrite = ErrorOf([&] { conn.WriteLine("noop"); });
        acted = false;
        if (log.calls >= 8) {
          acted = true;
          conn.Close();
        }
        break;
    }
  });
  EXPECT_EQ(ErrorOf([&] { conn.Open(); }), kClosed);
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_TRUE(acted);
  EXPECT_LT(log.longestGapMs, kLongestGapMs);
  if (row.action == Nested::Destroy) {
    EXPECT_EQ(owned, nullptr);
    EXPECT_EQ(disconnects, 0);  // destruction notifies nobody
    return;
  }
  if (row.action == Nested::CloseAndReopen) {
    // The connection the nested call opened is intact and usable.
    EXPECT_TRUE(conn.IsOpen());
    EXPECT_EQ(test::LineClient(conn).ReadLine(), "+OK other");
    conn.Close();
    EXPECT_EQ(disconnects, 2);
    return;
  }
  if (row.action == Nested::ReadAndWrite) {
    EXPECT_EQ(nestedRead, kClosed);
    EXPECT_EQ(nestedWrite, kClosed);
  }
  EXPECT_EQ(disconnects, 1);
  EXPECT_FALSE(conn.IsOpen());
  // The same object opens normally afterwards.
  conn.Resolver = ResolveHost;
  conn.Host = "127.0.0.1";
  conn.Port = other.Port();
  conn.UseTls = false;
  conn.Open();
  EXPECT_EQ(test::LineClient(conn).ReadLine(), "+OK other");
  conn.Close();
}

INSTANTIATE_TEST_SUITE_P(
    Actions, NestedWhileConnecting,
    ::testing::Values(NestedRow{"tcp_close", Phase::TcpConnect, Nested::Close},
                      NestedRow{"tcp_close_and_reopen", Phase::TcpConnect, Nested::CloseAndReopen},
                      NestedRow{"tcp_destroy", Phase::TcpConnect, Nested::Destroy},
                      NestedRow{"tcp_read_and_write", Phase::TcpConnect, Nested::ReadAndWrite},
                      NestedRow{"tls_close", Phase::TlsHandshake, Nested::Close},
                      NestedRow{"tls_close_and_reopen", Phase::TlsHandshake, Nested::CloseAndReopen},
                      NestedRow{"tls_destroy", Phase::TlsHandshake, Nested::Destroy},
                      NestedRow{"tls_read_and_write", Phase::TlsHandshake, Nested::ReadAndWrite}),
    [](const ::testing::TestParamInfo<NestedRow>& info) { return std::string(info.param.name); });

// A server that takes the TCP connection and never answers the handshake:
// the handshake gives up after its bound, serviced all along, and leaves the
// TCP socket for the caller to close.
TEST_F(Opening, UnansweredHandshakeIsServicedUntilItsBound) {
  ScriptedPop3Server mute;
  mute.AwaitClientClose();
  c.Host = "127.0.0.1";
  c.Port = mute.Port();
  c.UseTls = true;
  c.ConnectTimeoutMs = kShortBoundMs;
  c.OnDisconnected = [this] { ++disconnects; };
  ServiceLog log;
  TIdTCPConnection::SetServiceCallback([&] { log.Call(); });
  EXPECT_EQ(ErrorOf([&] { c.Open(); }), "Error connecting with SSL.");
  TIdTCPConnection::SetServiceCallback(nullptr);
  EXPECT_GE(log.ElapsedMs(), kShortBoundMs - 100);
  EXPECT_LT(log.ElapsedMs(), kShortBoundMs + 1500);
  EXPECT_GE(log.calls, kShortBoundMs / 100);
  EXPECT_LT(log.longestGapMs, kLongestGapMs);
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(disconnects, 0);
  c.Close();
  EXPECT_EQ(disconnects, 1);
}

}  // namespace
}  // namespace brevan
