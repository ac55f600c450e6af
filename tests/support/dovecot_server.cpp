#include "tests/support/dovecot_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tests/support/test_tls.h"

namespace brevan::test {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDovecot = "/usr/sbin/dovecot";

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("dovecot harness: cannot write " + path.string());
}

int FreeLoopbackPort(const std::string& address) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("dovecot harness: no free port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

// True once something on the port sends a "+OK" greeting.
bool Greets(const std::string& address, int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  bool ok = false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
    pollfd p{fd, POLLIN, 0};
    char buf[64] = {};
    if (::poll(&p, 1, 2000) > 0 && ::recv(fd, buf, sizeof buf - 1, 0) >= 3) ok = std::strncmp(buf, "+OK", 3) == 0;
  }
  ::close(fd);
  return ok;
}

bool PortTaken(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0;
  ::close(fd);
  return taken;
}

// Maildir files hold LF line ends; Dovecot sends CR LF and counts sizes so.
std::string ToLf(const std::string& message) {
  std::string out;
  out.reserve(message.size());
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
    out += message[i];
  }
  return out;
}

}  // namespace

std::string DovecotServer::Unavailable(bool tls995) {
  if (::access(kDovecot, X_OK) != 0) return std::string(kDovecot) + " is not installed";
  if (tls995 && ::geteuid() != 0) return "port 995 needs root";
  if (tls995 && PortTaken(995)) return "127.0.0.1:995 is in use";
  return "";
}

DovecotServer::DovecotServer(const DovecotOptions& options) {
  std::string why = Unavailable(options.tls995);
  if (!why.empty()) throw std::runtime_error("dovecot harness: " + why);

  char pattern[] = "/tmp/brevan-dovecot-XXXXXX";
  if (!::mkdtemp(pattern)) throw std::runtime_error("dovecot harness: mkdtemp failed");
  dir_ = pattern;
  const fs::path dir(dir_);
  try {
    const bool root = ::geteuid() == 0;
    // Dovecot refuses mail access as root: as root the mail user is nobody;
    // otherwise it is we ourselves, with first_valid_uid lowered to match.
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    std::string internalUser, loginUser;
    if (root) {
      passwd* nobody = ::getpwnam("nobody");
      if (!nobody) throw std::runtime_error("dovecot harness: no user nobody");
      uid = nobody->pw_uid;
      gid = nobody->pw_gid;
      internalUser = "dovecot";
      loginUser = "dovenull";
    } else {
      passwd* me = ::getpwuid(uid);
      if (!me) throw std::runtime_error("dovecot harness: who am I?");
      internalUser = loginUser = me->pw_name;
    }

    fs::permissions(dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    for (const char* sub : {"run", "state", "home", "mail/cur", "mail/new", "mail/tmp"}) fs::create_directories(dir / sub);
    // One file per message in new/, named so their order is the given order.
    for (size_t i = 0; i < options.messages.size(); ++i) {
      std::ostringstream name;
      name << (1700000000 + i) << ".M" << (i + 1) << "P1.brevan";
      WriteFile(dir / "mail/new" / name.str(), ToLf(options.messages[i]));
    }
    WriteFile(dir / "passwd", options.user + ":{PLAIN}" + options.password + "::::::\n");
    if (root) {
      for (const auto& entry : fs::recursive_directory_iterator(dir / "mail")) {
        if (::chown(entry.path().c_str(), uid, gid) != 0) throw std::runtime_error("dovecot harness: chown failed");
      }
      if (::chown((dir / "mail").c_str(), uid, gid) != 0 || ::chown((dir / "home").c_str(), uid, gid) != 0) {
        throw std::runtime_error("dovecot harness: chown failed");
      }
    }

    if (options.stlsOnPlain) plainAddress_ = "127.0.0.2";
    plainPort_ = FreeLoopbackPort(plainAddress_);
    tlsPort_ = options.tls995 ? 995 : 0;
    std::ostringstream conf;
    conf << "base_dir = " << (dir / "run").string() << "\n"
         << "state_dir = " << (dir / "state").string() << "\n"
         << "log_path = " << (dir / "dovecot.log").string() << "\n"
         << "info_log_path = " << (dir / "dovecot.log").string() << "\n"
         << "protocols = pop3\n"
         << "listen = " << plainAddress_ << "\n"
         << "default_internal_user = " << internalUser << "\n"
         << "default_login_user = " << loginUser << "\n"
         << "first_valid_uid = " << uid << "\n"
         << "first_valid_gid = " << gid << "\n"
         << "disable_plaintext_auth = " << (options.stlsOnPlain ? "yes" : "no") << "\n"
         << "auth_mechanisms = plain\n"
         << "auth_failure_delay = 0\n"
         << "mail_location = maildir:" << (dir / "mail").string() << "\n"
         << "pop3_uidl_format = %08Xu%08Xv\n"
         << "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " << (dir / "passwd").string()
         << "\n}\n"
         << "userdb {\n  driver = static\n  args = uid=" << uid << " gid=" << gid << " home=" << (dir / "home").string()
         << "\n}\n";
    if (options.tls995 || options.stlsOnPlain) {
      WriteFile(dir / "cert.pem", TestCertificatePem());
      WriteFile(dir / "key.pem", TestPrivateKeyPem());
      conf << "ssl = yes\n"
           << "ssl_cert = <" << (dir / "cert.pem").string() << "\n"
           << "ssl_key = <" << (dir / "key.pem").string() << "\n";
      if (fs::exists("/usr/share/dovecot/dh.pem")) conf << "ssl_dh = </usr/share/dovecot/dh.pem\n";
    } else {
      conf << "ssl = no\n";
    }
    conf << "service pop3-login {\n"
         << "  inet_listener pop3 {\n    address = " << plainAddress_ << "\n    port = " << plainPort_ << "\n  }\n"
         << "  inet_listener pop3s {\n    address = 127.0.0.1\n    port = " << tlsPort_ << "\n"
         << (options.tls995 ? "    ssl = yes\n" : "") << "  }\n"
         << "}\n"
         // Nothing else listens: no IMAP, no submission, no stats socket
         // clashing with a system Dovecot.
         << "service imap-login {\n  inet_listener imap {\n    port = 0\n  }\n  inet_listener imaps {\n    port = 0\n  }\n}\n";
    WriteFile(dir / "dovecot.conf", conf.str());

    const std::string confPath = (dir / "dovecot.conf").string();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("dovecot harness: fork failed");
    if (pid_ == 0) {
      ::execl(kDovecot, kDovecot, "-F", "-c", confPath.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!Greets(plainAddress_, plainPort_)) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error("dovecot harness: dovecot exited at start\n" + LogText());
      }
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("dovecot harness: no greeting\n" + LogText());
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (options.tls995) {
      while (!PortTaken(995)) {
        if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("dovecot harness: 995 not listening");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
  } catch (...) {
    Stop();
    throw;
  }
}

DovecotServer::~DovecotServer() { Stop(); }

std::string DovecotServer::LogText() const {
  std::ifstream in(fs::path(dir_) / "dovecot.log", std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void DovecotServer::Stop() {
  if (pid_ > 0) {
    // The master ends its own processes on SIGTERM.
    ::kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
  }
  if (!dir_.empty()) {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
    dir_.clear();
  }
}

}  // namespace brevan::test
