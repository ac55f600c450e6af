// The session window while its connect click connects: the window is kept
// serviced through the TCP connect and the TLS handshake, and a close of the
// window meanwhile ends the click at once, without another try, message or
// command to the server.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "app/qt_text.h"
#include "session/TForm1.h"
#include "session_lifecycle_support.h"
#include "tests/support/loopback_addresses.h"
#include "tests/support/scripted_pop3_server.h"

namespace brevan {
namespace {

using testing::DrainEvents;
using testing::WindowTest;
using test::Loopback;
using test::ScriptedPop3Server;
using test::SilentListener;

struct ConnectingRow {
  const char* name;
  bool tls;  // false: the TCP connect never completes; true: the handshake never does
};

void PrintTo(const ConnectingRow& row, std::ostream* os) { *os << row.name; }

class ClosedWhileConnecting : public WindowTest, public ::testing::WithParamInterface<ConnectingRow> {};

TEST_P(ClosedWhileConnecting, WindowGoesAtOnceWithoutAWord) {
  SilentListener silent(AF_INET);
  ScriptedPop3Server mute;  // takes the TCP connection, never answers the handshake
  mute.AwaitClientClose();
  const NetAddress target = GetParam().tls ? Loopback(AF_INET, mute.Port()) : silent.Address();

  QPointer<TForm1> w = new TForm1;
  w->IdTCPClient1.Resolver = [target](const std::string&, int) { return std::vector<NetAddress>{target}; };
  w->ComboBox1->setEditText("pop.example.test");
  w->Edit4->setText("alice");
  w->Edit2->setText("secret");
  w->Edit3->setText(GetParam().tls ? "995" : "110");

  int ticks = 0;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
  ticker.start(50);
  QTimer::singleShot(1000, w, [&] { w->close(); });
  QElapsedTimer clock;
  clock.start();
  w->btnConnect->click();
  const qint64 clickMs = clock.elapsed();
  ticker.stop();
  DrainEvents();

  EXPECT_TRUE(w.isNull());
  // The click ended with the close, not with the 30 s bound of a try.
  EXPECT_LT(clickMs, 5000);
  // The window's timers ran while it connected: a late tick fires once per
  // servicing, which comes every 250 ms.
  EXPECT_GE(ticks, 3);
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_EQ(mute.ConnectionsAccepted(), GetParam().tls ? 1 : 0);  // no second try
  // Only the handshake's own bytes went out (they may hold line feeds).
  for (const std::string& line : mute.Commands()) {
    EXPECT_NE(line.rfind("user", 0), 0u) << line;
    EXPECT_NE(line.rfind("quit", 0), 0u) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Phases, ClosedWhileConnecting,
                         ::testing::Values(ConnectingRow{"during_the_tcp_connect", false},
                                           ConnectingRow{"during_the_tls_handshake", true}),
                         [](const ::testing::TestParamInfo<ConnectingRow>& info) { return std::string(info.param.name); });

// A server that takes TCP on the TLS port and never answers the handshake:
// both tries of the click run their whole bound with the window serviced
// throughout, and the click ends with the one connect failure message.
class UnansweredHandshake : public WindowTest {};

TEST_F(UnansweredHandshake, BothTriesKeepTheWindowServiced) {
  ScriptedPop3Server mute;
  mute.AwaitClientClose().AwaitClientClose();
  {
    TForm1 w;
    const NetAddress target = Loopback(AF_INET, mute.Port());
    w.IdTCPClient1.Resolver = [target](const std::string&, int) { return std::vector<NetAddress>{target}; };
    w.ComboBox1->setEditText("pop.example.test");
    w.Edit3->setText("995");
    // Each try runs its whole bound; a short one keeps the test short.
    w.IdTCPClient1.ConnectTimeoutMs = 2500;

    int ticks = 0;
    qint64 longestGapMs = 0;
    QElapsedTimer sinceTick;
    sinceTick.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      ++ticks;
      longestGapMs = std::max(longestGapMs, sinceTick.restart());
    });
    ticker.start(50);
    QElapsedTimer clock;
    clock.start();
    w.btnConnect->click();
    const qint64 clickMs = clock.elapsed();
    ticker.stop();

    EXPECT_GE(clickMs, 4900);  // two tries of the bound
    EXPECT_LT(clickMs, 8000);
    EXPECT_GE(ticks, 20);
    EXPECT_LT(longestGapMs, 450);  // slices of 250 ms, with room for a busy machine
    EXPECT_EQ(mute.ConnectionsAccepted(), 2);
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{Cp("連結伺服器失敗")});
    EXPECT_TRUE(dialogs_.errors.empty());
  }
}

}  // namespace
}  // namespace brevan
