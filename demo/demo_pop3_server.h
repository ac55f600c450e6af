#pragma once
// The demo mailbox's POP3 listener on 127.0.0.1: every connection is served on
// its own thread by its own DemoPop3Session over one shared store, so several
// Brevan windows can be logged in to the demo account at once.
#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "demo/demo_pop3_session.h"

namespace brevan {

class DemoPop3Server {
 public:
  // Listens at once on 127.0.0.1:port (0: any free port); throws
  // std::runtime_error when it cannot. The store must outlive the server.
  DemoPop3Server(DemoMailStore& store, std::string user, std::string password, int port);
  ~DemoPop3Server();
  DemoPop3Server(const DemoPop3Server&) = delete;
  DemoPop3Server& operator=(const DemoPop3Server&) = delete;

  int Port() const { return port_; }
  // Ends every connection and the listener, and waits for their threads.
  void Stop();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };
  void AcceptLoop();
  void Serve(int fd);

  DemoMailStore& store_;
  const std::string user_, password_;
  int listen_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};  // written once at Stop: every waiting thread wakes
  std::atomic<bool> stopping_{false};
  std::thread acceptThread_;
  std::mutex mutex_;
  std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace brevan
