#pragma once
// A loopback proxy that delays every byte by a fixed time in each direction,
// as a server across the internet would: 10 ms each way gives a 20 ms round
// trip. It listens on 127.0.0.1 (an ephemeral port) and forwards each
// connection to 127.0.0.1:targetPort; bytes keep their order and are never
// merged across the delay, so a reply sent ahead of time arrives ahead of time.
//
//   brevan::test::DelayProxy proxy(server.PlainPort(), 10);
//   client.Port = proxy.Port();
//
// hidePipelining rewrites the PIPELINING capability the server declares
// into an unknown one of the same length, so a server that pipelines can be
// met as one that does not. Stop() (or the destructor) ends its threads and
// closes every socket it opened.
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brevan::test {

class DelayProxy {
 public:
  DelayProxy(int targetPort, int delayMsEachWay, bool hidePipelining = false);
  ~DelayProxy();
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int Port() const { return port_; }
  void Stop();

 private:
  void Accept();
  void Serve(int client);

  int target_;
  int delayMs_;
  bool hidePipelining_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::mutex mutex_;
  std::vector<std::thread> connections_;
};

}  // namespace brevan::test
