// The connection against a real Dovecot POP3 server on loopback: plain on a
// free port, or (built with BREVAN_DOVECOT_TLS) over TLS on 127.0.0.1:995.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "net/tcp_client.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/line_client.h"

#ifndef BREVAN_DOVECOT_TLS
#define BREVAN_DOVECOT_TLS 0
#endif

namespace brevan {
namespace {

using test::DovecotOptions;
using test::DovecotServer;

constexpr bool kTls = BREVAN_DOVECOT_TLS != 0;

// Two programs build this file; their tests get distinct names.
#if BREVAN_DOVECOT_TLS
#define DOVECOT_SUITE DovecotTls
#else
#define DOVECOT_SUITE DovecotPlain
#endif

std::string CrLf(const std::string& lf) {
  std::string out;
  for (char ch : lf) {
    if (ch == '\n') out += '\r';
    out += ch;
  }
  return out;
}

// What RETR carries on the wire: CR LF lines, dot-stuffed, ending ".".
std::string Stuffed(const std::string& crlf) {
  std::string out;
  size_t start = 0;
  while (start < crlf.size()) {
    size_t end = crlf.find("\r\n", start);
    std::string line = crlf.substr(start, end - start);
    if (!line.empty() && line[0] == '.') out += '.';
    out += line + "\r\n";
    start = end + 2;
  }
  return out + ".\r\n";
}

class DOVECOT_SUITE : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    first = "From: =?UTF-8?B?5byg5LiJ?= <a@example.com>\nSubject: first\nDate: Mon, 7 Dec 2026 10:00:00 +0800\n\nbody\n.starts with a dot\n";
    big = "From: b@example.com\nSubject: big\n\n";
    for (int i = 0; big.size() < 1024 * 1024; ++i) big += "line " + std::to_string(i) + " ..of a big message\n";
    big += ".\n";
    third = "From: c@example.com\nSubject: third\n\nbye\n";
  }

  void SetUp() override {
    std::string why = DovecotServer::Unavailable(kTls);
    if (!why.empty()) GTEST_SKIP() << why;
    DovecotOptions o;
    o.messages = {first, big, third};
    o.tls995 = kTls;
    server = std::make_unique<DovecotServer>(o);
  }

  void Connect() {
    c.Host = "127.0.0.1";
    c.Port = kTls ? server->TlsPort() : server->PlainPort();
    c.UseTls = kTls;
    c.Open();
    greeting = lineClient.ReadLine();
  }

  void Login() {
    ASSERT_EQ(lineClient.SendCommand("user bob"), 1) << lineClient.LastReply();
    ASSERT_EQ(lineClient.SendCommand("pass secret"), 1) << lineClient.LastReply() << server->LogText();
  }

  static std::string first, big, third;
  std::unique_ptr<DovecotServer> server;
  TIdTCPClient c;
  test::LineClient lineClient{c};
  std::string greeting;
};

std::string DOVECOT_SUITE::first, DOVECOT_SUITE::big, DOVECOT_SUITE::third;

TEST_F(DOVECOT_SUITE, LoginListTopRetrDeleQuit) {
  Connect();
  EXPECT_EQ(greeting, "+OK Dovecot (Debian) ready.");
  Login();

  EXPECT_EQ(lineClient.SendCommand("list"), 1);
  EXPECT_EQ(lineClient.LastReply(), "+OK 3 messages:");
  std::vector<std::string> list;
  lineClient.CaptureLines(list);
  EXPECT_EQ(list, (std::vector<std::string>{"1 " + std::to_string(CrLf(first).size()),
                                            "2 " + std::to_string(CrLf(big).size()),
                                            "3 " + std::to_string(CrLf(third).size())}));

  EXPECT_EQ(lineClient.SendCommand("top 1 0"), 1);
  std::vector<std::string> head;
  lineClient.CaptureLines(head);
  ASSERT_EQ(head.size(), 4u);
  EXPECT_EQ(head[1], "Subject: first");
  EXPECT_EQ(head[3], "");

  // The download way: raw bytes until the end of the reply.
  EXPECT_EQ(lineClient.SendCommand("retr 2"), 1);
  const std::string expected = Stuffed(CrLf(big));
  std::string got;
  while (got.size() < 5 || got.compare(got.size() - 5, 5, "\r\n.\r\n") != 0) {
    if (c.BufferedByteCount() == 0) c.WaitForData(1000);
    got += c.TakeBytes(c.BufferedByteCount());
  }
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);

  EXPECT_EQ(lineClient.SendCommand("dele 1"), 1);
  EXPECT_EQ(lineClient.SendCommand("noop"), 1);
  EXPECT_EQ(lineClient.SendCommand("quit"), 1);
  int disconnects = 0;
  c.OnDisconnected = [&] { ++disconnects; };
  EXPECT_THROW(lineClient.ReadLine(), NetError);  // the server hangs up after QUIT
  EXPECT_EQ(disconnects, 1);

  Connect();
  Login();
  EXPECT_EQ(lineClient.SendCommand("list"), 1);
  EXPECT_EQ(lineClient.LastReply(), "+OK 2 messages:");
  list.clear();
  lineClient.CaptureLines(list);
  EXPECT_EQ(list.size(), 2u);
  c.Close();
}

TEST_F(DOVECOT_SUITE, BadPasswordIsAnErrReplyNotAnError) {
  Connect();
  EXPECT_EQ(lineClient.SendCommand("user bob"), 1);
  EXPECT_EQ(lineClient.SendCommand("pass wrong"), 0);
  EXPECT_EQ(lineClient.LastReply().substr(0, 4), "-ERR");
  EXPECT_TRUE(c.IsOpen());
  c.Close();
}

}  // namespace
}  // namespace brevan
