#include <gtest/gtest.h>

#include <string>

#include "net/tcp_client.h"
#include "tests/support/line_client.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using test::ScriptedPop3Server;

struct MissingRow {
  const char* name;
  const char* ssl;
  const char* crypto;
};

void PrintTo(const MissingRow& row, std::ostream* os) { *os << row.name; }

class MissingTlsLibrary : public ::testing::TestWithParam<MissingRow> {};

TEST_P(MissingTlsLibrary, FailsOnlyTlsConnections) {
  TIdTCPConnection::SetTlsLibraryNames(GetParam().ssl, GetParam().crypto);
  ScriptedPop3Server server;
  server.AwaitClientClose().SendLine("+OK plain").AwaitClientClose();
  TIdTCPClient c;
  c.Host = "127.0.0.1";
  c.Port = server.Port();
  c.UseTls = true;
  try {
    c.Open();
    FAIL() << "TLS open succeeded";
  } catch (const NetError& e) {
    EXPECT_STREQ(e.what(), "Could not load SSL library.");
  }
  EXPECT_TRUE(c.IsOpen());  // the TCP part stands until Close
  c.Close();
  c.UseTls = false;
  c.Open();
  EXPECT_EQ(test::LineClient(c).ReadLine(), "+OK plain");
  c.Close();
}

INSTANTIATE_TEST_SUITE_P(Names, MissingTlsLibrary,
                         ::testing::Values(MissingRow{"no_libssl", "libbrevan-no-such-ssl.so.3", ""},
                                           MissingRow{"no_libcrypto", "", "libbrevan-no-such-crypto.so.3"}),
                         [](const ::testing::TestParamInfo<MissingRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
