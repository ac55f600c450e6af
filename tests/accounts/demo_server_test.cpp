// The demo mailbox as ./run starts it: a child process on loopback, stopped
// by its process id at the end of every test.
#include "demo/demo_server.h"

#include "accounts/account_store.h"
#include "demo/demo_account.h"
#include "demo/demo_mailbox.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace brevan {
namespace {

const std::string kMessages = BREVAN_SOURCE_DIR "/demo/messages";

// Holds a loopback port, so the server has to look further.
struct HeldPort {
  int fd = -1;
  int port = 0;
  HeldPort() {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 1) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port = ntohs(a.sin_port);
    }
  }
  ~HeldPort() { ::close(fd); }
};

// A blocking POP3 line client with a receive limit, so a silent server fails
// the test instead of hanging it.
class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{10, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { ::close(fd_); }
  bool Connected() const { return ok_; }
  std::string Line() {
    std::string line;
    char c;
    while (::recv(fd_, &c, 1, 0) == 1) {
      line += c;
      if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.resize(line.size() - 2);
        return line;
      }
    }
    return "<no reply>";
  }
  std::string Command(const std::string& cmd) {
    std::string out = cmd + "\r\n";
    ::send(fd_, out.data(), out.size(), MSG_NOSIGNAL);
    return Line();
  }
  // The lines of a multi-line reply up to its "." line.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (std::string l = Line(); l != "." && l != "<no reply>"; l = Line()) lines.push_back(l);
    return lines;
  }
  bool LogIn(const std::string& password = kDemoPassword) {
    return Line().rfind("+OK", 0) == 0 && Command("user demo").rfind("+OK", 0) == 0 &&
           Command("pass " + password).rfind("+OK", 0) == 0;
  }
  std::vector<std::string> List() {
    if (Command("list").rfind("+OK", 0) != 0) return {"<refused>"};
    return Lines();
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

class DemoServer : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/brevan_demo_srv_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ini_ = dir_ + "/brevan.ini";
  }
  void TearDown() override {
    Stop();
    std::filesystem::remove_all(dir_);
  }

  // Starts the server as a child process; returns the port it printed, or 0.
  int Start(const std::string& ports) {
    int out[2];
    if (::pipe(out) != 0) return 0;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::string a[] = {"brevan_demo_pop3d", "--messages", kMessages, "--accounts", ini_, "--ports", ports};
      char* argv[] = {a[0].data(), a[1].data(), a[2].data(), a[3].data(), a[4].data(), a[5].data(), a[6].data(), nullptr};
      ::_exit(RunDemoServer(7, argv));
    }
    ::close(out[1]);
    std::string text;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') text += c;
    ::close(out[0]);
    return text.empty() ? 0 : std::stoi(text);
  }

  // SIGTERM by process id; the exit status, or -1 when it did not end by
  // itself (it is then killed, so no server outlives the test).
  int Stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 100 && done == 0; ++i) {
      done = ::waitpid(pid_, &status, WNOHANG);
      if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (done == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    return done != 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  int WaitExit() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string dir_, ini_;
  pid_t pid_ = -1;
};

TEST_F(DemoServer, ServesTheMessagesAndForgetsADeletedOneForTheRun) {
  std::vector<std::string> files;
  ASSERT_TRUE(LoadDemoMessages(kMessages, files));
  HeldPort held;
  ASSERT_NE(held.port, 0);
  ASSERT_LE(held.port, 65535 - 9);
  const int port = Start(std::to_string(held.port) + "-" + std::to_string(held.port + 9));
  ASSERT_GT(port, held.port);  // the taken first port was skipped
  ASSERT_LE(port, held.port + 9);

  // Its line in the account file points at the chosen port, owner-only.
  std::vector<std::string> lines;
  ASSERT_TRUE(LoadAccountFile(ini_, lines));
  EXPECT_EQ(lines, std::vector<std::string>{"127.0.0.1;" + std::to_string(port) + ";demo;ZGVtbw=="});
  struct stat st{};
  ASSERT_EQ(::stat(ini_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  std::vector<std::string> before;
  {
    Client c(port);
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.LogIn());
    before = c.List();
    ASSERT_EQ(before.size(), files.size());
    EXPECT_EQ(before[0], "1 " + std::to_string(files[0].size()));
    EXPECT_EQ(c.Command("top 1 0"), "+OK");
    std::vector<std::string> head = c.Lines();
    ASSERT_FALSE(head.empty());
    EXPECT_EQ(head.back(), "");  // the header block and its blank line, no body
    EXPECT_EQ(c.Command("dele 1").rfind("+OK", 0), 0u);
    EXPECT_EQ(c.Command("quit").rfind("+OK", 0), 0u);
  }
  {
    Client c(port);
    ASSERT_TRUE(c.LogIn());
    std::vector<std::string> after = c.List();
    ASSERT_EQ(after.size(), files.size() - 1);
    // What was message 2 is message 1 now.
    EXPECT_EQ(after[0], "1 " + std::to_string(files[1].size()));
    c.Command("quit");
  }
  EXPECT_EQ(Stop(), 0);

  // The files are never touched: a new run serves them all again.
  const int again = Start(std::to_string(held.port) + "-" + std::to_string(held.port + 9));
  ASSERT_NE(again, 0);
  Client c(again);
  ASSERT_TRUE(c.LogIn());
  EXPECT_EQ(c.List().size(), files.size());
  c.Command("quit");
}

// Two windows logged in to the demo account at once, a third after them.
TEST_F(DemoServer, ServesSeveralSessionsAtOnce) {
  std::vector<std::string> files;
  ASSERT_TRUE(LoadDemoMessages(kMessages, files));
  const int port = Start("0-0");
  ASSERT_NE(port, 0);
  Client first(port);
  Client second(port);
  ASSERT_TRUE(first.LogIn());
  ASSERT_TRUE(second.LogIn());  // the greeting comes while the first is open
  const std::vector<std::string> all = first.List();
  ASSERT_EQ(all.size(), files.size());
  EXPECT_EQ(second.List(), all);

  EXPECT_EQ(first.Command("dele 1").rfind("+OK", 0), 0u);
  // Marks are the first session's own until its QUIT.
  EXPECT_EQ(second.List(), all);
  EXPECT_EQ(first.Command("quit").rfind("+OK", 0), 0u);

  // The second keeps the numbers it logged in with.
  EXPECT_EQ(second.Command("list 2"), "+OK " + all[1]);
  {
    Client third(port);
    ASSERT_TRUE(third.LogIn());
    const std::vector<std::string> left = third.List();
    ASSERT_EQ(left.size(), files.size() - 1);
    EXPECT_EQ(left[0], "1 " + std::to_string(files[1].size()));
    third.Command("quit");
  }
  EXPECT_EQ(second.Command("dele 2").rfind("+OK", 0), 0u);
  EXPECT_EQ(second.Command("quit").rfind("+OK", 0), 0u);

  Client fourth(port);
  ASSERT_TRUE(fourth.LogIn());
  EXPECT_EQ(fourth.List().size(), files.size() - 2);
  fourth.Command("quit");
}

TEST_F(DemoServer, StopsWhileAClientIsLoggedIn) {
  const int port = Start("0-0");
  ASSERT_NE(port, 0);
  Client c(port);
  ASSERT_TRUE(c.LogIn());
  EXPECT_FALSE(c.List().empty());
  EXPECT_EQ(Stop(), 0);  // the idle session must not hold the server up
  EXPECT_EQ(c.Line(), "<no reply>");
}

TEST_F(DemoServer, OnlyDemoDemoLogsIn) {
  const int port = Start("0-0");
  ASSERT_NE(port, 0);
  Client c(port);
  ASSERT_TRUE(c.Connected());
  EXPECT_FALSE(c.LogIn("wrong"));
  EXPECT_EQ(c.Command("list").rfind("-ERR", 0), 0u);
}

TEST_F(DemoServer, NoFreePortIsAFailureWithNothingPrinted) {
  HeldPort held;
  ASSERT_NE(held.port, 0);
  EXPECT_EQ(Start(std::to_string(held.port) + "-" + std::to_string(held.port)), 0);
  EXPECT_EQ(WaitExit(), 1);
  EXPECT_FALSE(std::filesystem::exists(ini_));
}

TEST_F(DemoServer, EndsWithItsParent) {
  // Orphans come back to this process, so it can reap the server.
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int out[2], pids[2], go[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(pids), 0);
  ASSERT_EQ(::pipe(go), 0);
  pid_t middle = ::fork();
  if (middle == 0) {
    ::close(go[1]);
    pid_t server = ::fork();
    if (server == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      std::string a[] = {"brevan_demo_pop3d", "--messages", kMessages, "--ports", "0-0"};
      char* argv[] = {a[0].data(), a[1].data(), a[2].data(), a[3].data(), a[4].data(), nullptr};
      ::_exit(RunDemoServer(5, argv));
    }
    std::string pid = std::to_string(server) + "\n";
    if (::write(pids[1], pid.data(), pid.size()) < 0) ::_exit(1);
    char c;
    while (::read(go[0], &c, 1) > 0) {
    }
    ::_exit(0);  // the parent ends without stopping its server
  }
  ::close(out[1]);
  ::close(pids[1]);
  ::close(go[0]);
  auto readLine = [](int fd) {
    std::string text;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') text += c;
    ::close(fd);
    return text;
  };
  const std::string pidText = readLine(pids[0]);
  const std::string portText = readLine(out[0]);
  ASSERT_FALSE(pidText.empty());
  const pid_t server = std::stoi(pidText);
  if (portText.empty()) ::kill(server, SIGKILL);
  ASSERT_FALSE(portText.empty());
  {
    Client c(std::stoi(portText));
    ASSERT_TRUE(c.LogIn());
  }
  ::close(go[1]);
  ::waitpid(middle, nullptr, 0);

  int status = 0;
  pid_t done = 0;
  for (int i = 0; i < 100 && done == 0; ++i) {
    done = ::waitpid(server, &status, WNOHANG);
    if (done == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (done == 0) {
    ::kill(server, SIGKILL);
    ::waitpid(server, &status, 0);
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(done, server) << "the server outlived its parent";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace brevan
