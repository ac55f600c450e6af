// The words between the greeting and USER, against scripted servers: CAPA,
// STLS, the handshake and the certificate check, CAPA again; and every way it
// must stop before a user name or password goes out. Each row asserts the
// client's whole dialogue, so a command sent too many fails it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "accounts/cert_store.h"
#include "common/trim.h"
#include "net/tcp_client.h"
#include "session/stls_negotiation.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_tls.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;
using test::TestCertificate;
using Script = std::function<void(ScriptedPop3Server&)>;

const char kCapaWithStls[] = "+OK Capability list follows\r\nUSER\r\nSTLS\r\n.\r\n";
const char kCapaAfterTls[] = "+OK Capability list follows\r\nUSER\r\nPIPELINING\r\n.\r\n";

struct StlsRow {
  const char* name;
  Script script;                  // everything after the greeting
  bool seenWithTls;               // before the connection
  bool rememberSelfSigned;        // brevan.certs knows the self-signed certificate
  StlsOutcome outcome;
  std::vector<std::string> dialogue;  // every line the client sent
  std::vector<std::string> capabilities;
  bool asked;                     // the user was asked about a changed certificate
  std::chrono::milliseconds capaBound{10000};
};
void PrintTo(const StlsRow& row, std::ostream* os) { *os << row.name; }

// The client's command lines; a plain server that was sent the start of a
// handshake sees its bytes as lines too, and those are left out.
std::vector<std::string> CommandLines(const ScriptedPop3Server& server) {
  std::vector<std::string> lines;
  for (const std::string& line : server.Commands()) {
    const bool text = std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (text) lines.push_back(line);
  }
  return lines;
}

class StlsNegotiationTest : public ::testing::TestWithParam<StlsRow> {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("brevan_stls_" + std::to_string(::getpid()) + "_" + std::to_string(counter_++));
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    certsPath_ = (dir_ / kCertFileName).string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  std::string certsPath_;
  static inline int counter_ = 0;
};

TEST_P(StlsNegotiationTest, DialogueAndOutcome) {
  const StlsRow& row = GetParam();
  ScriptedPop3Server server;
  server.SendLine("+OK POP3 ready");
  row.script(server);
  if (row.rememberSelfSigned) {
    std::vector<std::string> lines;
    RememberFingerprint(lines, "127.0.0.1", server.Port(), test::TestCertificateSha256(TestCertificate::SelfSigned));
    ASSERT_TRUE(SaveCertFile(certsPath_, lines));
  }

  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.ConnectTimeoutMs = 5000;
  c.Open();
  ASSERT_EQ(test::LineClient(c).ReadLine(), "+OK POP3 ready");
  bool asked = false;
  StlsOptions options;
  options.seenWithTls = row.seenWithTls;
  options.trust = [&] {
    const TlsPeerCheck peer = c.CheckTlsPeer();
    return TrustAllowsLogin(DecideServerTrust(certsPath_, c.Host, c.Port, peer.Verified, peer.Fingerprint,
                                              [&](const std::string&, const std::string&) {
                                                asked = true;
                                                return false;
                                              }));
  };
  options.capaBound = row.capaBound;
  const auto start = std::chrono::steady_clock::now();
  const StlsNegotiation result = NegotiateStls(c, options);
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(result.outcome, row.outcome);
  if (row.capaBound < std::chrono::seconds(1)) {
    EXPECT_LT(took, std::chrono::seconds(3)) << "not held past the bound";
  }
  EXPECT_EQ(result.capabilities, row.capabilities);
  EXPECT_EQ(asked, row.asked);
  const bool closes = row.outcome != StlsOutcome::Secured && row.outcome != StlsOutcome::NotOffered &&
                      row.outcome != StlsOutcome::Downgraded;
  EXPECT_EQ(c.IsOpen(), !closes);
  EXPECT_EQ(c.TlsActive(), row.outcome == StlsOutcome::Secured);
  if (row.outcome == StlsOutcome::Secured) {
    // The connection goes on through TLS.
    server.AwaitCommand().SendLine("+OK noop");
    test::LineClient lineClient(c);
    lineClient.SendCommand("noop");
    EXPECT_EQ(lineClient.LastReply(), "+OK noop");
    EXPECT_TRUE(ServerSeenWithTls(certsPath_, "127.0.0.1", server.Port())) << "first use is remembered";
  }
  c.Close();
  ASSERT_TRUE(server.WaitForConnectionsEnded(1));
  std::vector<std::string> expected = row.dialogue;
  if (row.outcome == StlsOutcome::Secured) expected.push_back("noop");
  EXPECT_EQ(CommandLines(server), expected);
  const std::string bytes = AsciiLower(server.ReceivedBytes());
  EXPECT_EQ(bytes.find("user"), std::string::npos);
  EXPECT_EQ(bytes.find("pass"), std::string::npos);
}

Script CapaThen(const std::string& capa, const Script& rest = nullptr) {
  return [capa, rest](ScriptedPop3Server& s) {
    s.AwaitCommand().Send(capa);
    if (rest) rest(s);
  };
}

Script StlsAgreed(TestCertificate shown, const std::string& capaAfterTls = kCapaAfterTls) {
  return CapaThen(kCapaWithStls, [shown, capaAfterTls](ScriptedPop3Server& s) {
    s.AwaitCommand().SendLine("+OK Begin TLS negotiation now.").StartTls(shown);
    s.AwaitCommand().Send(capaAfterTls);
  });
}

// A reply that goes on well past the bound and only then ends: a client
// that waited for it would take the "-ERR" behind it for its next reply.
void EndlessLines(ScriptedPop3Server& s) {
  for (int i = 0; i < 40; ++i) s.SendLine("X-LINE " + std::to_string(i)).Delay(25);
  s.SendLine(".").SendLine("-ERR late");
}

constexpr std::chrono::milliseconds kShortBound{300};

INSTANTIATE_TEST_SUITE_P(
    Rows, StlsNegotiationTest,
    ::testing::Values(
        StlsRow{"stls_offered_first_use", StlsAgreed(TestCertificate::SelfSigned), false, false,
                StlsOutcome::Secured, {"capa", "stls", "capa"}, {"USER", "PIPELINING"}, false},
        StlsRow{"stls_known_certificate_after_a_tls_visit", StlsAgreed(TestCertificate::SelfSigned), true, true,
                StlsOutcome::Secured, {"capa", "stls", "capa"}, {"USER", "PIPELINING"}, false},
        StlsRow{"stls_in_small_letters_with_blanks",
                CapaThen("+OK\r\n  stls  \r\n.\r\n",
                         [](ScriptedPop3Server& s) {
                           s.AwaitCommand().SendLine("+OK go").StartTls(TestCertificate::SelfSigned);
                           s.AwaitCommand().Send("+OK\r\nUSER\r\n.\r\n");
                         }),
                false, false, StlsOutcome::Secured, {"capa", "stls", "capa"}, {"USER"}, false},
        // The certificate check comes before the second CAPA: not a byte goes
        // through a connection the user did not trust.
        StlsRow{"changed_certificate_after_stls", StlsAgreed(TestCertificate::OtherSelfSigned), true, true,
                StlsOutcome::Untrusted, {"capa", "stls"}, {"USER", "STLS"}, true},
        StlsRow{"stls_refused",
                CapaThen(kCapaWithStls,
                         [](ScriptedPop3Server& s) { s.AwaitCommand().SendLine("-ERR TLS not available now"); }),
                false, false, StlsOutcome::Refused, {"capa", "stls"}, {"USER", "STLS"}, false},
        StlsRow{"stls_refused_in_small_letters",
                CapaThen(kCapaWithStls, [](ScriptedPop3Server& s) { s.AwaitCommand().SendLine("+ok maybe"); }),
                false, false, StlsOutcome::Refused, {"capa", "stls"}, {"USER", "STLS"}, false},
        StlsRow{"handshake_cut",
                CapaThen(kCapaWithStls,
                         [](ScriptedPop3Server& s) {
                           s.AwaitCommand().SendLine("+OK Begin TLS negotiation now.").Delay(50).CloseConnection(false);
                         }),
                false, false, StlsOutcome::HandshakeFailed, {"capa", "stls"}, {"USER", "STLS"}, false},
        StlsRow{"plain_text_instead_of_a_handshake",
                CapaThen(kCapaWithStls,
                         [](ScriptedPop3Server& s) {
                           s.AwaitCommand().SendLine("+OK Begin TLS negotiation now.").Delay(100);
                           s.SendLine("+OK not TLS at all").AwaitClientClose();
                         }),
                false, false, StlsOutcome::HandshakeFailed, {"capa", "stls"}, {"USER", "STLS"}, false},
        // Bytes right behind the agreement would be read as if TLS had
        // protected them.
        StlsRow{"plain_text_injected_behind_the_agreement",
                CapaThen(kCapaWithStls,
                         [](ScriptedPop3Server& s) {
                           s.AwaitCommand().Send("+OK Begin TLS negotiation now.\r\n+OK injected\r\n");
                           s.AwaitClientClose();
                         }),
                false, false, StlsOutcome::HandshakeFailed, {"capa", "stls"}, {"USER", "STLS"}, false},
        StlsRow{"downgrade_after_a_tls_visit", CapaThen("+OK\r\nUSER\r\nPIPELINING\r\n.\r\n"), true, true,
                StlsOutcome::Downgraded, {"capa"}, {"USER", "PIPELINING"}, false},
        StlsRow{"no_capa_at_all_after_a_tls_visit", CapaThen("-ERR Unknown command.\r\n"), true, false,
                StlsOutcome::Downgraded, {"capa"}, {}, false},
        StlsRow{"no_capa_at_all", CapaThen("-ERR Unknown command.\r\n"), false, false, StlsOutcome::NotOffered,
                {"capa"}, {}, false},
        StlsRow{"no_stls_offered", CapaThen("+OK\r\nUSER\r\nTOP\r\n.\r\n"), false, false, StlsOutcome::NotOffered,
                {"capa"}, {"USER", "TOP"}, false},
        // "STLS" inside another capability's arguments is not an offer.
        StlsRow{"stls_only_as_an_argument", CapaThen("+OK\r\nSASL PLAIN STLS\r\n.\r\n"), false, false,
                StlsOutcome::NotOffered, {"capa"}, {"SASL PLAIN STLS"}, false},
        // Replies that do not end within the bound: the connection goes, and
        // nothing more is sent on it.
        StlsRow{"capa_lines_never_end", CapaThen("+OK\r\n", EndlessLines), false, false, StlsOutcome::Ended,
                {"capa"}, {}, false, kShortBound},
        StlsRow{"capa_status_never_comes",
                [](ScriptedPop3Server& s) { s.AwaitCommand().Delay(1000).SendLine("-ERR late"); }, false, false,
                StlsOutcome::Ended, {"capa"}, {}, false, kShortBound},
        StlsRow{"stls_agreement_never_comes",
                CapaThen(kCapaWithStls, [](ScriptedPop3Server& s) { s.AwaitCommand().Delay(1000).SendLine("+OK"); }),
                false, false, StlsOutcome::Ended, {"capa", "stls"}, {"USER", "STLS"}, false, kShortBound},
        StlsRow{"capa_through_tls_never_ends",
                [](ScriptedPop3Server& s) {
                  StlsAgreed(TestCertificate::SelfSigned, "+OK\r\n")(s);
                  EndlessLines(s);
                },
                false, false, StlsOutcome::Ended, {"capa", "stls", "capa"}, {}, false, kShortBound}),
    [](const ::testing::TestParamInfo<StlsRow>& info) { return std::string(info.param.name); });

// A real server that wants TLS on its plain port: it offers STLS, and
// refuses a login in the clear.
TEST(StlsDovecotTest, PlainLoginRefusedLoginThroughStlsAccepted) {
  if (auto why = test::DovecotServer::Unavailable(false); !why.empty()) GTEST_SKIP() << why;
  test::DovecotOptions options;
  options.stlsOnPlain = true;
  options.messages = {"Subject: one\n\nbody\n"};
  test::DovecotServer dovecot(options);
  auto open = [&](TIdTCPClient& c) {
    c.Host = dovecot.PlainAddress();
    c.Port = dovecot.PlainPort();
    c.ConnectTimeoutMs = 5000;
    c.Open();
    EXPECT_EQ(test::LineClient(c).ReadLine().substr(0, 3), "+OK");
  };

  TIdTCPClient plain;
  open(plain);
  test::LineClient plainLines(plain);
  plainLines.SendCommand("user " + options.user);
  const std::string refused = plainLines.LastReply();
  EXPECT_EQ(refused.substr(0, 4), "-ERR") << refused;
  plain.Close();

  TIdTCPClient c;
  open(c);
  const StlsNegotiation result = NegotiateStls(c, StlsOptions{});
  ASSERT_EQ(result.outcome, StlsOutcome::Secured) << result.failure;
  EXPECT_TRUE(c.TlsActive());
  EXPECT_FALSE(CapabilitiesOfferStls(result.capabilities)) << "no STLS offered through TLS";
  test::LineClient lineClient(c);
  lineClient.SendCommand("user " + options.user);
  EXPECT_EQ(lineClient.LastReply().substr(0, 3), "+OK") << lineClient.LastReply();
  lineClient.SendCommand("pass " + options.password);
  EXPECT_EQ(lineClient.LastReply().substr(0, 3), "+OK") << lineClient.LastReply() << dovecot.LogText();
  lineClient.SendCommand("stat");
  EXPECT_EQ(lineClient.LastReply().substr(0, 5), "+OK 1");
  c.Close();
}

}  // namespace
}  // namespace brevan
