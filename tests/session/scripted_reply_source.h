#pragma once
// A stand-in for the connection under the raw reply read: it hands over
// given pieces one per wait, as separate receives would, and can fail waits,
// close when it runs dry, or run something inside a wait as the connection's
// servicing of the window does.
#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "session/pop3_exchanges.h"

namespace brevan::testing_support {

class ScriptedSource : public RawReplySource {
 public:
  explicit ScriptedSource(std::vector<std::string> pieces) : pieces_(pieces.begin(), pieces.end()) {}

  int WaitForData(int timeoutMs) override {
    waits.push_back(timeoutMs);
    if (duringWait) {
      // Once only: what runs inside a wait may wait itself.
      std::function<void()> run = std::move(duringWait);
      duringWait = nullptr;
      run();
    }
    if (!open_ && buffer_.empty()) throw std::runtime_error("Connection Closed Gracefully.");
    if (failuresLeft > 0) {
      --failuresLeft;
      throw std::runtime_error("Socket Error # 104");
    }
    if (endless) {
      buffer_ += endless();
      return static_cast<int>(buffer_.size());
    }
    if (pieces_.empty()) {
      if (closeWhenDrained) open_ = false;
      return 0;
    }
    buffer_ += pieces_.front();
    const int n = static_cast<int>(pieces_.front().size());
    pieces_.pop_front();
    if (pieces_.empty() && closeWhenDrained) open_ = false;
    return n;
  }
  int BufferedByteCount() override { return static_cast<int>(buffer_.size()); }
  std::string TakeBytes(int n) override {
    if (n > static_cast<int>(buffer_.size())) throw std::runtime_error("Not enough data in buffer.");
    takes.push_back(n);
    std::string out = buffer_.substr(0, static_cast<size_t>(n));
    buffer_.erase(0, static_cast<size_t>(n));
    return out;
  }
  void Unread(std::string_view bytes) override { buffer_.insert(0, bytes); }
  bool IsOpen() override { return open_; }
  void Close() override {
    ++closes;
    open_ = false;
  }

  void Preload(const std::string& bytes) { buffer_ += bytes; }
  bool Drained() const { return pieces_.empty(); }
  // What is left, buffered and still to come.
  std::string Left() const {
    std::string left = buffer_;
    for (const std::string& piece : pieces_) left += piece;
    return left;
  }

  std::vector<int> waits;
  std::vector<int> takes;
  int closes = 0;
  int failuresLeft = 0;
  bool closeWhenDrained = false;
  std::function<void()> duringWait;     // runs inside the next wait
  std::function<std::string()> endless; // when set, every wait brings its bytes

 private:
  std::deque<std::string> pieces_;
  std::string buffer_;
  bool open_ = true;
};

}  // namespace brevan::testing_support
