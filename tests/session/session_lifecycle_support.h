#pragma once
// What the session window tests share: a loopback POP3 peer that follows a
// script on its own thread and records every line the client sent, dialogs
// and desktop that record what the window showed and answer as told, and a
// fixture with a fresh program folder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialogs.h"
#include "common/app_path.h"
#include "common/codepage.h"
#include "common/tick.h"
#include "session/program_values.h"

namespace brevan::testing {

// One step of the peer's side of the dialogue.
struct PeerStep {
  enum Kind { Send, ReadLine, Pause, HangUp, Idle, ReadBytes, HalfClose } kind;
  std::string text;  // Send: the bytes; ReadLine: unused
  int ms = 0;        // Pause: how long
};

inline PeerStep Say(std::string text) { return {PeerStep::Send, std::move(text)}; }
inline PeerStep Hear() { return {PeerStep::ReadLine, {}}; }
inline PeerStep Pause(int ms) { return {PeerStep::Pause, {}, ms}; }
inline PeerStep HangUp() { return {PeerStep::HangUp, {}}; }
// Ends the peer's sending side (the client reads the end of the stream) and
// goes on recording what the client still sends.
inline PeerStep HalfClose() { return {PeerStep::HalfClose, {}}; }
// Waits for the client's first bytes, whatever they are (a TLS hello).
inline PeerStep HearBytes() { return {PeerStep::ReadBytes, {}}; }
// Keeps the connection open, reading and recording, until the client leaves
// or the peer is stopped.
inline PeerStep Idle() { return {PeerStep::Idle, {}}; }

// Serves each accepted connection with the next script; bound to 127.0.0.1.
class LoopbackPeer {
 public:
  // port 0: any free port.
  explicit LoopbackPeer(std::vector<std::vector<PeerStep>> scripts, int port = 0)
      : scripts_(std::move(scripts)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bound_ = ::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
             ::listen(listen_, 8) == 0;
    socklen_t length = sizeof address;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    if (bound_) thread_ = std::thread([this] { Run(); });
  }
  ~LoopbackPeer() { Stop(); }

  bool Bound() const { return bound_; }
  int Port() const { return port_; }

  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (listen_ >= 0) ::close(listen_);
    listen_ = -1;
  }

  // Every line the client sent, without its line end, over all connections.
  std::vector<std::string> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  int Accepted() const { return accepted_; }
  // The first byte of each connection's first receive (0x16 opens a TLS
  // handshake), or -1 when the client sent nothing.
  std::vector<int> FirstBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return firstBytes_;
  }
  bool ClientLeft() const { return clientLeft_; }
  int HalfClosed() const { return halfClosed_; }

 private:
  // Waits for the socket to be readable; false when stopping.
  bool WaitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      int n = ::poll(&p, 1, 20);
      if (n > 0) return true;
    }
    return false;
  }

  void Run() {
    size_t next = 0;
    while (!stop_) {
      if (!WaitReadable(listen_)) return;
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      ++accepted_;
      std::vector<PeerStep> script;
      if (next < scripts_.size()) script = scripts_[next++];
      Serve(fd, script);
      ::close(fd);
    }
  }

  // Reads one line; false when the client left or the peer stops.
  bool ReadLineFrom(int fd, std::string& pending, bool& first) {
    for (;;) {
      size_t end = pending.find("\r\n");
      if (end != std::string::npos) {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back(pending.substr(0, end));
        pending.erase(0, end + 2);
        return true;
      }
      if (!WaitReadable(fd)) return false;
      char buffer[4096];
      ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
      if (first) {
        std::lock_guard<std::mutex> lock(mutex_);
        firstBytes_.push_back(n > 0 ? static_cast<unsigned char>(buffer[0]) : -1);
        first = false;
      }
      if (n <= 0) {
        clientLeft_ = true;
        return false;
      }
      pending.append(buffer, static_cast<size_t>(n));
    }
  }

  void Serve(int fd, const std::vector<PeerStep>& script) {
    std::string pending;
    bool first = true;
    for (const PeerStep& step : script) {
      switch (step.kind) {
        case PeerStep::Send:
          ::send(fd, step.text.data(), step.text.size(), MSG_NOSIGNAL);
          break;
        case PeerStep::ReadLine:
          if (!ReadLineFrom(fd, pending, first)) return;
          break;
        case PeerStep::Pause:
          std::this_thread::sleep_for(std::chrono::milliseconds(step.ms));
          break;
        case PeerStep::HangUp:
          return;
        case PeerStep::HalfClose:
          ::shutdown(fd, SHUT_WR);
          ++halfClosed_;
          break;
        case PeerStep::ReadBytes: {
          if (!WaitReadable(fd)) return;
          char buffer[4096];
          ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
          if (first) {
            std::lock_guard<std::mutex> lock(mutex_);
            firstBytes_.push_back(n > 0 ? static_cast<unsigned char>(buffer[0]) : -1);
            first = false;
          }
          if (n <= 0) return;
          break;
        }
        case PeerStep::Idle:
          while (ReadLineFrom(fd, pending, first)) {
          }
          return;
      }
    }
    // After the script: record what else comes until the client leaves.
    while (ReadLineFrom(fd, pending, first)) {
    }
    if (first) {
      std::lock_guard<std::mutex> lock(mutex_);
      firstBytes_.push_back(-1);
    }
  }

  std::vector<std::vector<PeerStep>> scripts_;
  int listen_ = -1;
  int port_ = 0;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<bool> clientLeft_{false};
  std::atomic<int> halfClosed_{0};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  std::vector<int> firstBytes_;
};

// What the window showed, in order, and the answers it gets.
struct RecordingDialogs : IDialogs {
  std::vector<std::string> messages, errors, questions;
  std::deque<bool> answers;  // for the confirmations; Yes when none is left
  std::function<void()> onShow;  // run inside every box, as a modal loop would run events

  void ShowMessage(QWidget*, const std::string& text) override {
    messages.push_back(text);
    if (onShow) onShow();
  }
  bool ConfirmYesCancel(QWidget*, const std::string& text) override { return Answer(text); }
  bool ConfirmYesNo(QWidget*, const std::string& text) override { return Answer(text); }
  std::string InputBox(QWidget*, const std::string&, const std::string&, const std::string& initial,
                       bool* accepted) override {
    if (accepted) *accepted = true;
    return initial;
  }
  void ShowError(QWidget*, const std::string& text) override { errors.push_back(text); }

 private:
  bool Answer(const std::string& text) {
    questions.push_back(text);
    if (answers.empty()) return true;
    bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct RecordingDesktop : IDesktop {
  std::vector<std::string> urls, documents, edited;
  void OpenDocument(const std::string& path, const std::string&) override { documents.push_back(path); }
  void OpenUrl(const std::string& url, const std::string&) override { urls.push_back(url); }
  void LaunchTextEditor(const std::string& path, const std::string&) override { edited.push_back(path); }
};

// Runs events until the condition holds or the bound passes; the bound only
// keeps a broken test from hanging.
inline bool WaitUntil(const std::function<bool()>& condition, int boundMs = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "brevan_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = QApplication::instance()
                                 ? static_cast<QApplication*>(QApplication::instance())
                                 : new QApplication(argc, argv);
  return *app;
}

// Runs what is waiting, including the deletion of closed windows.
inline void DrainEvents() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// A fresh program folder, the recording dialogs and desktop, and program
// values as at start-up.
class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApplication();
    char pattern[] = "/tmp/brevan_window_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetAppPathOverride(Utf8ToAnsi(folder_));
    Program() = ProgramValues{};
    SetDialogs(&dialogs_);
    SetDesktop(&desktop_);
  }
  void TearDown() override {
    DrainEvents();
    SetDialogs(nullptr);
    SetDesktop(nullptr);
    SetTickSource(nullptr);
    SetAppPathOverride("");
    std::string command = "rm -rf '" + folder_ + "'";
    [[maybe_unused]] int rc = std::system(command.c_str());
  }
  std::string File(const std::string& name) const { return folder_ + "/" + name; }

  std::string folder_;
  RecordingDialogs dialogs_;
  RecordingDesktop desktop_;
};

}  // namespace brevan::testing
