// Timing of the deletion that keeps a copy first: 100 messages of 20 KB
// deleted across a 20 ms round trip (a proxy that delays each direction
// 10 ms), with PIPELINING, next to a bare client doing the same exchanges
// over one socket without writing anything:
//   bare     every "retr" at once, each reply read to its end and dropped,
//            then every "dele" at once and their replies
//   keeping  the exchange of the program: each copy written, made durable
//            and named before its "dele" goes
//   no copy  the same exchange with copies turned off (every "dele" at once)
//   window   the session window's disconnect click (Yes to the question),
//            the copies kept in the program's folder, "quit" included
// and the same without PIPELINING. Copies go to a folder on the disk the
// program's files live on (the build folder). Best of five rounds each.
// Usage: keep_bench [folder]. Not run by the test suite; the window runs on
// the offscreen platform unless a display is given.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "common/app_path.h"
#include "keep/copy_then_delete.h"
#include "session/TForm1.h"
#include "net/tcp_client.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/line_client.h"
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
  test::OpenAndLogIn(c, port);
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

struct YesDialogs : IDialogs {
  void ShowMessage(QWidget*, const std::string& text) override { std::fprintf(stderr, "message: %s\n", text.c_str()); }
  bool ConfirmYesCancel(QWidget*, const std::string&) override { return true; }
  bool ConfirmYesNo(QWidget*, const std::string&) override { return true; }
  std::string InputBox(QWidget*, const std::string&, const std::string&, const std::string& initial,
                       bool* accepted) override {
    *accepted = false;
    return initial;
  }
  void ShowError(QWidget*, const std::string& text) override { std::fprintf(stderr, "error box: %s\n", text.c_str()); }
};

// The session window against a fresh mailbox behind its own proxy: connect
// and list (not timed), tick every row, then the disconnect click.
double Window(const test::Pop3Mailbox& box, bool hidePipelining) {
  test::ScriptedPop3Server server;
  server.ServeMailbox(box);
  test::DelayProxy proxy(server.Port(), kDelayEachWayMs, hidePipelining);
  TForm1 form;
  form.ComboBox1->setEditText("127.0.0.1");
  form.Edit4->setText("user");
  form.Edit2->setText("password");
  form.Edit3->setText(QString::number(proxy.Port()));
  form.btnConnect->click();
  if (form.ListView1->topLevelItemCount() != kCount) throw std::runtime_error("listing failed");
  for (int row = 0; row < kCount; ++row) form.SetRowTicked(row, true);
  const Clock::time_point begin = Clock::now();
  form.btnDisconnect->click();
  const double seconds = Seconds(Clock::now() - begin);
  if (!server.WaitForConnectionsEnded(1) || !server.RemainingMessageNumbers().empty())
    throw std::runtime_error("not every message went");
  server.Stop();
  proxy.Stop();
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
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  YesDialogs dialogs;
  SetDialogs(&dialogs);
  const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::current_path() / "keep_bench_copies";
  // The window keeps its copies under its program folder's deleted/.
  const fs::path appFolder = folder / "program";
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
  const auto window = [&](bool hidePipelining) {
    return Best([&] {
      fs::remove_all(appFolder);
      fs::create_directories(appFolder);
      SetAppPathOverride(appFolder.string());
      return Window(box, hidePipelining);
    });
  };
  const double windowPiped = window(false);
  const double windowSequential = window(true);
  fs::remove_all(folder);
  std::printf("deleting %d messages of %zu KB across a %d ms round trip, PIPELINING, best of %d:\n", kCount,
              kMessageBytes / 1024, 2 * kDelayEachWayMs, kRounds);
  std::printf("  bare client (retr all, then dele all, nothing written) %.3f s\n", bare);
  std::printf("  keeping a copy of each                                 %.3f s  (%.2fx bare)\n", kept, kept / bare);
  std::printf("  copies turned off (dele only)                          %.3f s  (%.2fx bare)\n", none, none / bare);
  std::printf("  session window's disconnect, copies kept, quit         %.3f s  (%.2fx bare)\n", windowPiped,
              windowPiped / bare);
  std::printf("  keeping a copy of each, without PIPELINING            %.3f s  (%.2fx bare)\n", sequential,
              sequential / bare);
  std::printf("  session window's disconnect, without PIPELINING       %.3f s  (%.2fx bare)\n", windowSequential,
              windowSequential / bare);
  SetDialogs(nullptr);
  server.Stop();
  proxy.Stop();
  return 0;
}
