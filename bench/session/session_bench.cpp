// Timing of the session window's message work against a real Dovecot server,
// each next to a bare client doing the same POP3 exchanges over one socket:
//   listing   5,000 small messages, 50 rules loaded (LIST + one TOP k 0 each),
//             against a bare client that pipelines, and without PIPELINING
//             against one that waits for each reply; then 1,000 messages
//             through a proxy that delays each direction 10 ms
//   download  one 50 MB message (RETR), throughput; one 200 MB message, peak memory
// and, for each, the longest gap between two serviced event batches over the
// whole click, from the press to the handler's return.
// The window is shown: on a real display when there is one (run it under
// xvfb-run), else on the offscreen platform, which the bench reports.
// Usage: session_bench [listing|download|all]. Not run by the test suite.
#include <QApplication>
#include <QCoreApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <QPushButton>
#include <QTreeWidget>
#include <QGuiApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/file_io.h"
#include "decode/TForm2.h"
#include "filter/TForm3.h"
#include "session/TForm1.h"
#include "session/pop3_exchanges.h"
#include "net/tcp_client.h"
#include "session/program_values.h"
#include "tests/support/delay_proxy.h"
#include "tests/support/dovecot_server.h"
#include "tests/support/line_client.h"

using namespace brevan;
using Clock = std::chrono::steady_clock;

namespace {

struct QuietDialogs : IDialogs {
  void ShowMessage(QWidget*, const std::string&) override {}
  bool ConfirmYesCancel(QWidget*, const std::string&) override { return false; }
  bool ConfirmYesNo(QWidget*, const std::string&) override { return false; }
  std::string InputBox(QWidget*, const std::string&, const std::string&, const std::string& initial,
                       bool* accepted) override {
    *accepted = false;
    return initial;
  }
  void ShowError(QWidget*, const std::string& text) override { std::fprintf(stderr, "error box: %s\n", text.c_str()); }
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  }
  return -1;
}

// A bare POP3 client: one blocking socket, nothing else.
class BareClient {
 public:
  explicit BareClient(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    Line();
  }
  ~BareClient() { ::close(fd_); }
  void Send(const std::string& command) {
    std::string bytes = command + "\r\n";
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("send");
  }
  std::string Line() {
    for (;;) {
      size_t end = buffer_.find("\r\n");
      if (end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 2);
        return line;
      }
      Fill();
    }
  }
  // The multi-line part of a reply, up to and without its terminating line.
  size_t Block() {
    size_t total = 0;
    for (;;) {
      size_t end = buffer_.find("\r\n.\r\n");
      if (buffer_.rfind(".\r\n", 0) == 0) end = 0;
      if (end != std::string::npos) {
        total += end;
        buffer_.erase(0, end == 0 ? 3 : end + 5);
        return total;
      }
      // Keep the last four bytes: the terminator may be split.
      if (buffer_.size() > 4) {
        total += buffer_.size() - 4;
        buffer_.erase(0, buffer_.size() - 4);
      }
      Fill();
    }
  }

 private:
  void Fill() {
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) throw std::runtime_error("recv");
    buffer_.append(chunk, static_cast<size_t>(n));
  }
  int fd_;
  std::string buffer_;
};

// The longest time between two runs of a zero timer: how long the window
// went without its events being handled. It counts from Start (the press)
// to StopMs (the handler's return), first and last stretch included.
class GapMeter {
 public:
  GapMeter() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Mark(); });
  }
  void Start() {
    longest_ = 0;
    clock_.start();
    last_ = 0;
    timer_.start(0);
  }
  double StopMs() {
    Mark();
    timer_.stop();
    return static_cast<double>(longest_) / 1e6;
  }

 private:
  void Mark() {
    const qint64 now = clock_.nsecsElapsed();
    if (now - last_ > longest_) longest_ = now - last_;
    last_ = now;
  }
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  qint64 longest_ = 0;
};

// Counts the paint events a widget gets: tells whether the platform paints.
class PaintCounter : public QObject {
 public:
  explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
  int count = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++count;
    return false;
  }
};

// ---- the display ----

// A real display when one is there (DISPLAY set, as under xvfb-run); the
// offscreen platform otherwise. Before the application is made.
void ChooseDisplay() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

void ReportDisplay() {
  std::printf("display: platform %s%s\n", QGuiApplication::platformName().toUtf8().constData(),
              QGuiApplication::platformName() == QLatin1String("offscreen")
                  ? " (no real display; run under xvfb-run to paint on one)"
                  : "");
}

// Shows the window at a usual size and lets it paint once.
void ShowWindow(TForm1& form) {
  form.resize(1000, 700);
  form.show();
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(300);
  while (Clock::now() < end) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// One click on a button, timed from the press to the handler's return, with
// the longest gap between serviced event batches over the same span.
struct ClickTiming {
  double seconds;
  double gapMs;
};
ClickTiming TimedClick(QPushButton* button) {
  GapMeter gaps;
  gaps.Start();
  const Clock::time_point start = Clock::now();
  button->click();
  const double seconds = Seconds(Clock::now() - start);
  return {seconds, gaps.StopMs()};
}

std::unique_ptr<TForm1> Window(int port) {
  auto form = std::make_unique<TForm1>();
  ShowWindow(*form);
  form->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
  form->Edit3->setText(QString::number(port));
  form->Edit4->setText(QStringLiteral("bob"));
  form->Edit2->setText(QStringLiteral("secret"));
  form->btnConnectClick();
  if (!form->IsConnected()) throw std::runtime_error("the window did not connect");
  return form;
}

// ---- the listing ----

// Bare clients for the listing: one blocking socket, LIST and TOP k 0.
void BareLogin(BareClient& bare) {
  bare.Send("user bob");
  bare.Line();
  bare.Send("pass secret");
  bare.Line();
}

double BareSequentialListing(int port, int count) {
  BareClient bare(port);
  BareLogin(bare);
  const Clock::time_point begin = Clock::now();
  bare.Send("list");
  bare.Line();
  bare.Block();
  for (int k = 1; k <= count; ++k) {
    bare.Send("top " + std::to_string(k) + " 0");
    bare.Line();
    bare.Block();
  }
  return Seconds(Clock::now() - begin);
}

// Every command written at once, the replies read while writing. Timed from
// the LIST, or with fromConnect from before the TCP connect (the greeting and
// the login included).
double BarePipelinedListing(int port, int count, bool fromConnect = false) {
  const Clock::time_point connectStart = Clock::now();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
  std::string in;
  auto line = [&]() -> std::string {
    for (;;) {
      const size_t end = in.find("\r\n");
      if (end != std::string::npos) {
        std::string l = in.substr(0, end);
        in.erase(0, end + 2);
        return l;
      }
      char chunk[65536];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) throw std::runtime_error("recv");
      in.append(chunk, static_cast<size_t>(n));
    }
  };
  auto say = [&](const std::string& c) {
    const std::string b = c + "\r\n";
    ::send(fd, b.data(), b.size(), MSG_NOSIGNAL);
  };
  line();
  say("user bob");
  line();
  say("pass secret");
  line();
  const Clock::time_point begin = fromConnect ? connectStart : Clock::now();
  std::string out = "list\r\n";
  for (int k = 1; k <= count; ++k) out += "top " + std::to_string(k) + " 0\r\n";
  int replies = 0;
  bool inBlock = false;
  size_t at = 0;
  while (replies < count + 1) {
    pollfd p{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0};
    ::poll(&p, 1, 1000);
    if ((p.revents & POLLOUT) && !out.empty()) {
      const ssize_t n = ::send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) out.erase(0, static_cast<size_t>(n));
    }
    if (p.revents & POLLIN) {
      char chunk[65536];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n == 0) throw std::runtime_error("closed");
      if (n > 0) in.append(chunk, static_cast<size_t>(n));
      for (size_t end; (end = in.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string_view l(in.data() + at, end - at);
        if (inBlock) {
          if (l == ".") {
            inBlock = false;
            ++replies;
          }
        } else if (l.substr(0, 3) == "+OK") {
          inBlock = true;
        } else {
          ++replies;
        }
      }
      in.erase(0, at);
      at = 0;
    }
  }
  const double seconds = Seconds(Clock::now() - begin);
  ::close(fd);
  return seconds;
}

std::string ListingMessage(int i) {
  return "From: =?utf-8?q?sender_" + std::to_string(i) + "?= <s@example.com>\nSubject: "
         "=?big5?b?pKSk5Q==?= message " + std::to_string(i) + "\nDate: Tue, 8 Dec 2026 04:00:00 +0000\nMessage-ID: <" +
         std::to_string(i) + "@example.com>\n\nbody\n";
}

// 50 rules, none hitting, so every subject is tested against all of them.
void WriteListingRules(const std::string& appPath) {
  std::string rules;
  for (int i = 0; i < 40; ++i) rules += "cheap*offer" + std::to_string(i) + "\r\n";
  for (int i = 0; i < 8; ++i) rules += "[PCRE]^(viagra|casino)" + std::to_string(i) + "\r\n";
  rules += "[!][PCRE]message\r\n[!]message\r\n";
  WriteFileAtomic(appPath + "subjectfilter.cfg", rules);
}

// The window's refresh against a bare client, best of three rounds each,
// taken in turn (the machine is shared).
struct ListingFigures {
  double bare = 1e9, window = 1e9, gapMs = 0;
  int paints = 0;
};
ListingFigures CompareListing(TForm1& form, int count, const std::function<double()>& bare) {
  ListingFigures f;
  PaintCounter paints(form.ListView1->viewport());
  for (int round = 0; round < 3; ++round) {
    f.bare = std::min(f.bare, bare());
    const ClickTiming click = TimedClick(form.btnRetrieveHeader);
    f.window = std::min(f.window, click.seconds);
    f.gapMs = std::max(f.gapMs, click.gapMs);
    if (form.ListView1->topLevelItemCount() != count) throw std::runtime_error("listing incomplete");
  }
  f.paints = paints.count / 3;
  return f;
}

void Listing(const std::string& appPath) {
  constexpr int kCount = 5000;
  test::DovecotOptions options;
  for (int i = 1; i <= kCount; ++i) options.messages.push_back(ListingMessage(i));
  test::DovecotServer server(options);
  WriteListingRules(appPath);
  const int port = server.PlainPort();

  // One untimed pass first, so the timed passes find the server warm.
  BareSequentialListing(port, kCount);
  auto form = Window(port);  // logs in and lists once
  if (Program().FilterRuleList.size() != 50) throw std::runtime_error("rules not loaded");

  const ListingFigures piped = CompareListing(*form, kCount, [&] { return BarePipelinedListing(port, kCount); });
  std::printf("listing %d messages, 50 rules, window shown, PIPELINING: bare pipelining client %.3f s, window %.3f s, "
              "ratio %.2f (limit 2.00); longest gap %.1f ms (limit 100); %d list paints a listing\n",
              kCount, piped.bare, piped.window, piped.window / piped.bare, piped.gapMs, piped.paints);

  // The first listing after a connect: the whole connect click (TCP connect,
  // greeting, CAPA, login, listing) against a bare client doing the same
  // from its TCP connect on.
  double bareFirst = 1e9, windowFirst = 1e9;
  for (int round = 0; round < 3; ++round) {
    bareFirst = std::min(bareFirst, BarePipelinedListing(port, kCount, true));
    auto fresh = std::make_unique<TForm1>();
    ShowWindow(*fresh);
    fresh->ComboBox1->setEditText(QStringLiteral("127.0.0.1"));
    fresh->Edit3->setText(QString::number(port));
    fresh->Edit4->setText(QStringLiteral("bob"));
    fresh->Edit2->setText(QStringLiteral("secret"));
    windowFirst = std::min(windowFirst, TimedClick(fresh->btnConnect).seconds);
    if (fresh->ListView1->topLevelItemCount() != kCount) throw std::runtime_error("first listing incomplete");
    fresh->btnDisconnectClick();
  }
  std::printf("first listing of %d messages after a connect, window shown: bare pipelining client (connect, login, "
              "listing) %.3f s, window (the connect click) %.3f s, ratio %.2f (limit 2.00)\n",
              kCount, bareFirst, windowFirst, windowFirst / bareFirst);

  // A preview of a small message: the reply is usually in with its status
  // line, and the read must not wait for more.
  double previewMs = 1e9;
  form->ListView1->topLevelItem(0)->setSelected(true);
  for (int round = 0; round < 5; ++round) {
    const Clock::time_point start = Clock::now();
    form->btnFirst100Click();
    previewMs = std::min(previewMs, Seconds(Clock::now() - start) * 1000.0);
  }
  std::printf("preview of a small message: %.2f ms (best of 5)\n", previewMs);
  form->btnCancelAllClick();
  form->btnDisconnectClick();
  form.reset();

  // The same server met as one without PIPELINING: a proxy that hides the
  // capability and delays nothing; the bare client goes through it too.
  {
    test::DelayProxy hidden(port, 0, true);
    auto plain = Window(hidden.Port());
    const ListingFigures seq =
        CompareListing(*plain, kCount, [&] { return BareSequentialListing(hidden.Port(), kCount); });
    std::printf("listing %d messages, 50 rules, window shown, no PIPELINING: bare sequential client %.3f s, window "
                "%.3f s, ratio %.2f (limit 1.30); longest gap %.1f ms (limit 100)\n",
                kCount, seq.bare, seq.window, seq.window / seq.bare, seq.gapMs);
    plain->btnCancelAllClick();
    plain->btnDisconnectClick();
  }

  const Clock::time_point start = Clock::now();
  int junk = 0;
  for (int k = 1; k <= kCount; ++k) junk += IsJunk(Program().FilterRuleList, "\xA4\xA4\xA4\xE5 message " + std::to_string(k));
  const double judgeSeconds = Seconds(Clock::now() - start);
  std::printf("listing: judging the %d subjects against the rules alone %.3f s (%d junk)\n", kCount, judgeSeconds, junk);
}

// 1,000 messages across a 20 ms round trip (10 ms each way).
void ListingAcrossTheInternet(const std::string& appPath) {
  constexpr int kCount = 1000;
  test::DovecotOptions options;
  for (int i = 1; i <= kCount; ++i) options.messages.push_back(ListingMessage(i));
  test::DovecotServer server(options);
  WriteListingRules(appPath);
  test::DelayProxy proxy(server.PlainPort(), 10);
  auto form = Window(proxy.Port());
  const ListingFigures f = CompareListing(*form, kCount, [&] { return BarePipelinedListing(proxy.Port(), kCount); });
  std::printf("listing %d messages through a 20 ms round trip, window shown: bare pipelining client %.3f s, window "
              "%.3f s (limit 1.00), ratio %.2f (limit 3.00); longest gap %.1f ms (limit 100)\n",
              kCount, f.bare, f.window, f.window / f.bare, f.gapMs);
  // For scale: one command after the other across the same link.
  std::printf("listing %d messages through a 20 ms round trip: bare sequential client %.3f s\n", kCount,
              BareSequentialListing(proxy.Port(), kCount));
  form->btnCancelAllClick();
  form->btnDisconnectClick();
}

// ---- the download ----

// A Dovecot holding one message of about `size` bytes of 78-byte lines.
std::unique_ptr<test::DovecotServer> ServerWithOneMessage(size_t size) {
  std::string message = "From: a@example.com\nSubject: big one\n\n";
  const std::string line = "0123456789 abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789\n";
  message.reserve(size + line.size());
  while (message.size() < size) message += line;
  test::DovecotOptions options;
  options.messages = {std::move(message)};
  return std::make_unique<test::DovecotServer>(options);
}

// The bare client's RETR of message 1: seconds, and the bytes of the message.
double BareRetrSeconds(int port, size_t* bytes) {
  BareClient bare(port);
  bare.Send("user bob");
  bare.Line();
  bare.Send("pass secret");
  bare.Line();
  const Clock::time_point start = Clock::now();
  bare.Send("retr 1");
  bare.Line();
  *bytes = bare.Block();
  return Seconds(Clock::now() - start);
}

// 50 MB: the window's click next to the bare client, rounds taken in turn,
// the best of each; and the longest gap over every click.
void DownloadThroughput(const std::string& appPath) {
  auto server = ServerWithOneMessage(50u * 1024 * 1024);
  auto form = Window(server->PlainPort());
  form->ListView1->topLevelItem(0)->setSelected(true);
  constexpr int kRounds = 9;  // the machine is shared
  double windowSeconds = 1e9;
  double bareSeconds = 1e9;
  double gapMs = 0;
  size_t bareBytes = 0;
  for (int round = 0; round < kRounds; ++round) {
    GapMeter gaps;
    gaps.Start();
    const Clock::time_point start = Clock::now();
    form->btnDownloadClick();
    windowSeconds = std::min(windowSeconds, Seconds(Clock::now() - start));
    gapMs = std::max(gapMs, gaps.StopMs());
    bareSeconds = std::min(bareSeconds, BareRetrSeconds(server->PlainPort(), &bareBytes));
  }
  const std::string file = appPath + "bob(127.0.0.1)/big one.eml";
  const auto fileSize = std::filesystem::file_size(AnsiToUtf8(file));
  if (fileSize != bareBytes + 2) throw std::runtime_error("the file is not the message");

  // The same reply through the connection and the raw reply read alone,
  // without a window or a file: what the read loop costs by itself.
  double rawSeconds = 1e9;
  size_t rawBytes = 0;
  for (int round = 0; round < 3; ++round) {
    TIdTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server->PlainPort();
    client.Open();
    test::LineClient lineClient(client);
    lineClient.ReadLine();
    lineClient.SendCommand("user bob");
    lineClient.SendCommand("pass secret");
    const Clock::time_point begin = Clock::now();
    lineClient.SendCommand("retr 1");
    ConnectionReplySource source(client);
    ReplyTerminatorFilter filter;
    rawBytes = 0;
    ReadRawReply(source, filter, [&rawBytes](std::string_view bytes) { rawBytes += bytes.size(); }, {});
    rawSeconds = std::min(rawSeconds, Seconds(Clock::now() - begin));
    client.Close();
  }

  const double mb = static_cast<double>(fileSize) / (1024.0 * 1024.0);
  const double bareRate = static_cast<double>(bareBytes) / (1024.0 * 1024.0) / bareSeconds;
  std::printf("download: the raw reply read alone %.1f MB/s, ratio %.2f\n",
              static_cast<double>(rawBytes) / (1024.0 * 1024.0) / rawSeconds,
              static_cast<double>(rawBytes) / (1024.0 * 1024.0) / rawSeconds / bareRate);
  std::printf("download %.1f MB: bare RETR %.1f MB/s, window %.1f MB/s, ratio %.2f (limit >= 0.80), best of %d\n", mb,
              bareRate, mb / windowSeconds, (mb / windowSeconds) / bareRate, kRounds);
  std::printf("download: longest gap over the whole click %.1f ms (limit 100)\n", gapMs);
}

// 200 MB: the most memory the click takes above the idle window.
void DownloadMemory(const std::string& appPath) {
  constexpr size_t kSize = 200u * 1024 * 1024;
  auto server = ServerWithOneMessage(kSize);
  auto form = Window(server->PlainPort());
  form->ListView1->topLevelItem(0)->setSelected(true);
  QCoreApplication::processEvents();
  {
    // Start the peak over from here: the set-up held the message.
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
  }
  const long idleKb = StatusKb("VmRSS:");
  GapMeter gaps;
  gaps.Start();
  const Clock::time_point start = Clock::now();
  form->btnDownloadClick();
  const double seconds = Seconds(Clock::now() - start);
  const double gapMs = gaps.StopMs();
  const long peakKb = StatusKb("VmHWM:");
  const auto fileSize = std::filesystem::file_size(AnsiToUtf8(appPath + "bob(127.0.0.1)/big one.eml"));
  std::printf("download %.1f MB: peak memory %.1f MB above the idle window (limit 32; idle %.1f MB, peak %.1f MB), "
              "%.1f s, longest gap %.1f ms\n",
              static_cast<double>(fileSize) / (1024.0 * 1024.0), static_cast<double>(peakKb - idleKb) / 1024.0,
              static_cast<double>(idleKb) / 1024.0, static_cast<double>(peakKb) / 1024.0, seconds, gapMs);
}

void Download(const std::string& appPath) {
  DownloadThroughput(appPath);
  DownloadMemory(appPath);
}

}  // namespace

int main(int argc, char** argv) {
  ChooseDisplay();
  QApplication app(argc, argv);
  ReportDisplay();
  const std::string what = argc > 1 ? argv[1] : "all";
  if (const std::string why = test::DovecotServer::Unavailable(false); !why.empty()) {
    std::fprintf(stderr, "Dovecot cannot run here: %s\n", why.c_str());
    return 1;
  }
  char pattern[] = "/tmp/brevan_bench_XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  SetAppPathOverride(pattern);
  QuietDialogs dialogs;
  SetDialogs(&dialogs);
  Form2 = new TForm2;
  Form3 = new TForm3;
  int rc = 0;
  try {
    if (what == "listing" || what == "all") Listing(AppFolder());
    if (what == "listing" || what == "all") ListingAcrossTheInternet(AppFolder());
    if (what == "download" || what == "all") Download(AppFolder());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "failed: %s\n", e.what());
    rc = 1;
  }
  SetDialogs(nullptr);
  std::error_code ignored;
  std::filesystem::remove_all(pattern, ignored);
  return rc;
}
