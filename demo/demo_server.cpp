#include "demo/demo_server.h"

#include "demo/demo_account.h"
#include "demo/demo_mailbox.h"

#include "common/codepage.h"
#include "demo/demo_pop3_server.h"
#include "demo/demo_pop3_session.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#ifndef BREVAN_DEMO_MESSAGES
#define BREVAN_DEMO_MESSAGES "demo/messages"
#endif

namespace brevan {
namespace {

struct Options {
  std::string messages = BREVAN_DEMO_MESSAGES;
  std::string accounts;
  int firstPort = kDemoFirstPort;
  int lastPort = kDemoLastPort;
};

bool ParsePort(std::string_view text, int& port) {
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  return ec == std::errc() && p == text.data() + text.size() && port >= 0 && port <= 65535;
}

bool ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (i + 1 >= argc) return false;
    std::string_view value = argv[++i];
    if (arg == "--messages") {
      o.messages = value;
    } else if (arg == "--accounts") {
      o.accounts = value;
    } else if (arg == "--ports") {
      size_t dash = value.find('-');
      if (dash == std::string_view::npos || !ParsePort(value.substr(0, dash), o.firstPort) ||
          !ParsePort(value.substr(dash + 1), o.lastPort) || o.firstPort > o.lastPort) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int RunDemoServer(int argc, char** argv) {
  // Die with the parent: ./run stops the server when Brevan exits, and should
  // ./run itself be killed the server must not linger holding the port.
  const pid_t parent = ::getppid();
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != parent) return 0;  // the parent was gone before prctl

  Options o;
  if (!ParseOptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: brevan_demo_pop3d [--messages FOLDER] [--accounts FILE] [--ports FIRST-LAST]\n");
    return 2;
  }

  std::vector<std::string> messages;
  if (!LoadDemoMessages(o.messages, messages)) {
    std::fprintf(stderr, "brevan_demo_pop3d: no messages in %s\n", o.messages.c_str());
    return 1;
  }
  // One store for every connection: each window that logs in gets its own
  // view of it, and its deletions apply at its QUIT.
  DemoMailStore store(std::move(messages));

  // The server thread must inherit a mask that blocks the ending signals, so
  // that only sigwait below takes them.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  // Binding is the test for a free port: checking first and binding later
  // would race with whoever else wants it.
  std::unique_ptr<DemoPop3Server> server;
  for (int port = o.firstPort; port <= o.lastPort && !server; ++port) {
    try {
      server = std::make_unique<DemoPop3Server>(store, kDemoUser, kDemoPassword, port);
    } catch (const std::runtime_error&) {
    }
  }
  if (!server) {
    std::fprintf(stderr, "brevan_demo_pop3d: no free port in %d-%d on 127.0.0.1\n", o.firstPort,
                 o.lastPort);
    return 1;
  }
  const int port = server->Port();

  // The account file's path came from the command line; inside Brevan paths
  // are code-page texts.
  if (!o.accounts.empty() && !UpdateDemoAccountFile(Utf8ToAnsi(o.accounts), port)) {
    std::fprintf(stderr, "brevan_demo_pop3d: could not update %s; the demo account is %s port %d\n",
                 o.accounts.c_str(), kDemoServer, port);
  }

  std::printf("%d\n", port);
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&ending, &sig) != 0) {
  }
  // Nothing is left to save: deletions live in memory only and the account
  // line was written at start. So end at once rather than wait for the
  // server thread to wind down a connection a client may still hold open;
  // the system closes the sockets.
  std::fflush(nullptr);
  ::_exit(0);
}

}  // namespace brevan
