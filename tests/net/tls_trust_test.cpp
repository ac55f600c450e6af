// What the client learns of the server's certificate after the handshake:
// chain and name verification against a replaceable trust store, and the
// SHA-256 fingerprint; and the first-use decision on a live connection,
// which must send nothing when the user refuses a changed certificate.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <string>

#include "accounts/cert_store.h"
#include "common/file_io.h"
#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/named_rows.h"
#include "tests/support/scripted_pop3_server.h"
#include "tests/support/test_tls.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;
using test::TestCertificate;

class TlsTrustTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("brevan_tls_trust_" + std::to_string(::getpid()) + "_" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    authorityFile_ = (dir_ / "authority.pem").string();
    ASSERT_TRUE(WriteFileAtomic(authorityFile_, test::TestAuthorityPem()));
    certsPath_ = (dir_ / kCertFileName).string();
  }
  void TearDown() override {
    SetTlsTrustStoreFile("");
    std::filesystem::remove_all(dir_);
  }

  TlsPeerCheck Check(TestCertificate which, const std::string& host = "127.0.0.1") {
    ScriptedPop3Server server(0, which);
    server.SendLine("+OK hello").AwaitClientClose();
    TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.UseTls = true;
    c.Open();
    c.Host = host;  // the name the check holds the certificate to
    TlsPeerCheck check = c.CheckTlsPeer();
    // The connection still works after the check.
    EXPECT_EQ(test::LineClient(c).ReadLine(), "+OK hello");
    c.Close();
    return check;
  }

  std::filesystem::path dir_;
  std::string authorityFile_;
  std::string certsPath_;
};

struct PeerRow {
  const char* name;
  TestCertificate certificate;
  bool privateStore;  // the test authority, else the system's store
  std::string host;
  bool verified;
};
void PrintTo(const PeerRow& r, std::ostream* os) { *os << r.name; }

class TlsPeerCheckTest : public TlsTrustTest, public testing::WithParamInterface<PeerRow> {};

TEST_P(TlsPeerCheckTest, VerifiesChainAndNameAndTakesTheFingerprint) {
  const PeerRow& r = GetParam();
  if (r.privateStore) SetTlsTrustStoreFile(authorityFile_);
  const TlsPeerCheck check = Check(r.certificate, r.host);
  EXPECT_EQ(check.Verified, r.verified);
  EXPECT_EQ(check.Fingerprint, test::TestCertificateSha256(r.certificate));
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, TlsPeerCheckTest,
    testing::Values(
        PeerRow{"issued_by_trusted_authority", TestCertificate::AuthorityIssued, true, "127.0.0.1", true},
        PeerRow{"issued_for_dns_name", TestCertificate::AuthorityIssued, true, "localhost", true},
        PeerRow{"dns_name_case_folded", TestCertificate::AuthorityIssued, true, "LocalHost", true},
        PeerRow{"ipv4_literal_not_in_dns_names", TestCertificate::AuthorityOtherName, true, "127.0.0.1", false},
        PeerRow{"other_dns_name", TestCertificate::AuthorityIssued, true, "mail.example.invalid", false},
        PeerRow{"issued_name_matches", TestCertificate::AuthorityOtherName, true, "mail.example.invalid", true},
        PeerRow{"authority_not_in_system_store", TestCertificate::AuthorityIssued, false, "127.0.0.1", false},
        PeerRow{"self_signed_with_private_store", TestCertificate::SelfSigned, true, "127.0.0.1", false},
        PeerRow{"self_signed_with_system_store", TestCertificate::SelfSigned, false, "127.0.0.1", false},
        PeerRow{"empty_host", TestCertificate::AuthorityIssued, true, "", false}),
    RowName<PeerRow>);

TEST_F(TlsTrustTest, MissingTrustStoreFileVerifiesNothing) {
  SetTlsTrustStoreFile((dir_ / "absent.pem").string());
  const TlsPeerCheck check = Check(TestCertificate::AuthorityIssued);
  EXPECT_FALSE(check.Verified);
  EXPECT_EQ(check.Fingerprint, test::TestCertificateSha256(TestCertificate::AuthorityIssued));
}

TEST_F(TlsTrustTest, PlainConnectionHasNothingToCheck) {
  ScriptedPop3Server server;
  server.SendLine("+OK hello").AwaitClientClose();
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.Open();
  const TlsPeerCheck check = c.CheckTlsPeer();
  EXPECT_FALSE(check.Verified);
  EXPECT_EQ(check.Fingerprint, "");
  c.Close();
}

TEST_F(TlsTrustTest, ClosedConnectionHasNothingToCheck) {
  ScriptedPop3Server server(0, TestCertificate::SelfSigned);
  server.SendLine("+OK hello").AwaitClientClose();
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.UseTls = true;
  c.Open();
  EXPECT_EQ(c.CheckTlsPeer().Fingerprint, test::TestCertificateSha256(TestCertificate::SelfSigned));
  c.Close();
  const TlsPeerCheck check = c.CheckTlsPeer();
  EXPECT_FALSE(check.Verified);
  EXPECT_EQ(check.Fingerprint, "");
}

// The whole first-use sequence on live connections, as the window runs it:
// the port key stays 995 while the test servers sit on free ports.
TEST_F(TlsTrustTest, ChangedCertificateRefusedSendsNothingAfterTheHandshake) {
  auto connect = [&](TestCertificate which, bool answer, bool* asked) {
    ScriptedPop3Server server(0, which);
    server.SendLine("+OK hello").AwaitCommand().SendLine("+OK").AwaitClientClose();
    TIdTCPClient c;
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.UseTls = true;
    c.Open();
    const TlsPeerCheck peer = c.CheckTlsPeer();
    *asked = false;
    const ServerTrust trust =
        DecideServerTrust(certsPath_, c.Host, 995, peer.Verified, peer.Fingerprint,
                          [&](const std::string& remembered, const std::string& presented) {
                            *asked = true;
                            EXPECT_EQ(remembered, test::TestCertificateSha256(TestCertificate::SelfSigned));
                            EXPECT_EQ(presented, test::TestCertificateSha256(TestCertificate::OtherSelfSigned));
                            return answer;
                          });
    if (TrustAllowsLogin(trust)) {
      test::LineClient lineClient(c);
      EXPECT_EQ(lineClient.ReadLine(), "+OK hello");
      lineClient.SendCommand("user bob");
    }
    c.Close();
    EXPECT_TRUE(server.WaitForConnectionsEnded(1));
    const std::vector<std::string> sent = server.Commands();
    EXPECT_EQ(sent, TrustAllowsLogin(trust) ? std::vector<std::string>{"user bob"} : std::vector<std::string>{});
    return trust;
  };
  bool asked = false;
  EXPECT_EQ(connect(TestCertificate::SelfSigned, false, &asked), ServerTrust::FirstUse);
  EXPECT_FALSE(asked);
  EXPECT_EQ(connect(TestCertificate::SelfSigned, false, &asked), ServerTrust::Known);
  EXPECT_FALSE(asked);
  EXPECT_EQ(connect(TestCertificate::OtherSelfSigned, false, &asked), ServerTrust::Refused);
  EXPECT_TRUE(asked);
  EXPECT_EQ(connect(TestCertificate::OtherSelfSigned, true, &asked), ServerTrust::Accepted);
  EXPECT_TRUE(asked);
  std::string bytes;
  ASSERT_TRUE(ReadWholeFile(certsPath_, bytes));
  EXPECT_EQ(bytes, "127.0.0.1;995;" + test::TestCertificateSha256(TestCertificate::OtherSelfSigned) + "\r\n");
}

}  // namespace
}  // namespace brevan
