#include "net/tls_intercept.h"

#include <dlfcn.h>
#include <errno.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <arpa/inet.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string_view>

#include "net/tcp_client.h"

namespace brevan {
namespace {

// The OpenSSL entry points we call, looked up once the libraries load. The
// header gives the types; the library itself is never linked.
struct SslApi {
  int (*init_ssl)(uint64_t, const OPENSSL_INIT_SETTINGS*) = nullptr;
  const SSL_METHOD* (*client_method)() = nullptr;
  SSL_CTX* (*ctx_new)(const SSL_METHOD*) = nullptr;
  void (*ctx_free)(SSL_CTX*) = nullptr;
  void (*ctx_set_passwd_cb)(SSL_CTX*, pem_password_cb*) = nullptr;
  void (*ctx_set_passwd_userdata)(SSL_CTX*, void*) = nullptr;
  int (*ctx_set_cipher_list)(SSL_CTX*, const char*) = nullptr;
  uint64_t (*ctx_set_options)(SSL_CTX*, uint64_t) = nullptr;  // optional
  SSL* (*ssl_new)(SSL_CTX*) = nullptr;
  void (*ssl_free)(SSL*) = nullptr;
  int (*set_fd)(SSL*, int) = nullptr;
  int (*connect)(SSL*) = nullptr;
  int (*read)(SSL*, void*, int) = nullptr;
  int (*write)(SSL*, const void*, int) = nullptr;
  int (*get_error)(const SSL*, int) = nullptr;
  int (*shutdown)(SSL*) = nullptr;
  void (*set_shutdown)(SSL*, int) = nullptr;
  int (*pending)(const SSL*) = nullptr;
  void (*err_clear)() = nullptr;
};

// The server name (SNI) entry point, apart from the table above. The
// library's SSL_set_tlsext_host_name is a macro over SSL_ctrl.
struct ServerNameApi {
  long (*ctrl)(SSL*, int, long, void*) = nullptr;
};

std::mutex g_apiMutex;
SslApi g_api;
ServerNameApi g_serverNameApi;
bool g_loaded = false;
std::string g_sslName;
std::string g_cryptoName;

void* OpenFirst(const std::string& chosen, const char* versioned, const char* plain, int flags) {
  if (!chosen.empty()) return dlopen(chosen.c_str(), flags);
  void* h = dlopen(versioned, flags);
  return h ? h : dlopen(plain, flags);
}

template <typename F>
bool Bind(void* lib, const char* name, F& slot) {
  slot = reinterpret_cast<F>(dlsym(lib, name));
  return slot != nullptr;
}

// Loads and initialises OpenSSL 3 on first use. A failed attempt leaves
// nothing loaded, so the next TLS connect tries again.
bool LoadSsl() {
  std::lock_guard<std::mutex> lock(g_apiMutex);
  if (g_loaded) return true;
  // libcrypto first and global, so libssl's own references resolve to it.
  void* crypto = OpenFirst(g_cryptoName, "libcrypto.so.3", "libcrypto.so", RTLD_NOW | RTLD_GLOBAL);
  if (!crypto) return false;
  void* ssl = OpenFirst(g_sslName, "libssl.so.3", "libssl.so", RTLD_NOW);
  if (!ssl) {
    dlclose(crypto);
    return false;
  }
  SslApi api;
  bool ok = Bind(ssl, "OPENSSL_init_ssl", api.init_ssl) &&
            Bind(ssl, "TLS_client_method", api.client_method) &&
            Bind(ssl, "SSL_CTX_new", api.ctx_new) && Bind(ssl, "SSL_CTX_free", api.ctx_free) &&
            Bind(ssl, "SSL_CTX_set_default_passwd_cb", api.ctx_set_passwd_cb) &&
            Bind(ssl, "SSL_CTX_set_default_passwd_cb_userdata", api.ctx_set_passwd_userdata) &&
            Bind(ssl, "SSL_CTX_set_cipher_list", api.ctx_set_cipher_list) &&
            Bind(ssl, "SSL_new", api.ssl_new) && Bind(ssl, "SSL_free", api.ssl_free) &&
            Bind(ssl, "SSL_set_fd", api.set_fd) && Bind(ssl, "SSL_connect", api.connect) &&
            Bind(ssl, "SSL_read", api.read) && Bind(ssl, "SSL_write", api.write) &&
            Bind(ssl, "SSL_get_error", api.get_error) && Bind(ssl, "SSL_shutdown", api.shutdown) &&
            Bind(ssl, "SSL_set_shutdown", api.set_shutdown) &&
            Bind(ssl, "SSL_pending", api.pending) && Bind(crypto, "ERR_clear_error", api.err_clear);
  Bind(ssl, "SSL_CTX_set_options", api.ctx_set_options);
  ServerNameApi serverNameApi;
  ok = ok && Bind(ssl, "SSL_ctrl", serverNameApi.ctrl);
  if (!ok || api.init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) {
    dlclose(ssl);
    dlclose(crypto);
    return false;
  }
  g_api = api;
  g_serverNameApi = serverNameApi;
  g_loaded = true;  // the libraries stay loaded for the program's run
  return true;
}

// OpenSSL writes to the socket with write(), which raises SIGPIPE on a
// closed peer. Block it around each call and swallow one that this call
// caused, so a dropped TLS connection is an error, never a dead program.
class SigpipeGuard {
 public:
  SigpipeGuard() {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
  }
  ~SigpipeGuard() {
    if (!wasPending_) {
      sigset_t pending;
      sigpending(&pending);
      if (sigismember(&pending, SIGPIPE) == 1) {
        timespec zero{0, 0};
        int saved = errno;
        sigtimedwait(&pipeSet_, nullptr, &zero);
        errno = saved;
      }
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }

 private:
  sigset_t pipeSet_;
  sigset_t old_;
  bool wasPending_ = false;
};

// Waits for the socket; false on timeout. A negative timeout waits forever.
bool PollFor(int fd, short events, int timeoutMs) {
  pollfd p{fd, events, 0};
  for (;;) {
    int r = poll(&p, 1, timeoutMs);
    if (r >= 0) return r > 0;
    if (errno != EINTR) return true;  // let the next call report the error
  }
}

}  // namespace

void TIdConnectionInterceptOpenSSL::SetLibraryNames(const std::string& ssl, const std::string& crypto) {
  std::lock_guard<std::mutex> lock(g_apiMutex);
  if (g_loaded) return;
  g_sslName = ssl;
  g_cryptoName = crypto;
}

struct SslCall {
  int result;
  int error;   // SSL_get_error's answer, SSL_ERROR_NONE on success
  int sysErr;  // errno right after the call
};

// One OpenSSL I/O call with SIGPIPE held off and the error queue cleared, so
// that SSL_get_error judges this call alone.
template <class F>
SslCall CallSsl(SSL* ssl, F&& call) {
  SigpipeGuard guard;
  g_api.err_clear();
  errno = 0;
  int r = call();
  int sysErr = errno;
  return {r, r > 0 ? SSL_ERROR_NONE : g_api.get_error(ssl, r), sysErr};
}

int CopyPassPhrase(const std::string& word, char* buf, int size) {
  if (!buf || size <= 0) return 0;
  int n = static_cast<int>(std::min<size_t>(word.size(), static_cast<size_t>(size)));
  std::memcpy(buf, word.data(), static_cast<size_t>(n));
  return n;
}

int TIdConnectionInterceptOpenSSL::PasswordCallback(char* buf, int size, int, void* userdata) {
  auto* self = static_cast<TIdConnectionInterceptOpenSSL*>(userdata);
  if (!self) return 0;
  return CopyPassPhrase(self->OnGetPassword ? self->OnGetPassword() : std::string(), buf, size);
}

TIdConnectionInterceptOpenSSL::~TIdConnectionInterceptOpenSSL() {
  if (ssl_) {
    // Destruction sends nothing: mark the shutdown done so SSL_free stays quiet.
    g_api.set_shutdown(ssl_, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
  }
  Release();
}

void TIdConnectionInterceptOpenSSL::Connect(int fd, int timeoutMs, const std::string& serverName,
                                            const std::function<void()>& eachSlice) {
  Release();
  if (!LoadSsl()) throw NetError("Could not load SSL library.");
  ctx_ = g_api.ctx_new(g_api.client_method());
  if (!ctx_) throw NetError("Error creating SSL context.");
  g_api.ctx_set_passwd_cb(ctx_, &PasswordCallback);
  g_api.ctx_set_passwd_userdata(ctx_, this);
  // The library keeps the parts of this list it still knows.
  g_api.err_clear();
  if (g_api.ctx_set_cipher_list(ctx_, "ALL:!ADH:RC4+RSA:+HIGH:+MEDIUM:+LOW:+SSLv2:+EXP") != 1) {
    throw NetError("SetCipher failed.");
  }
  // A server that drops the TCP stream without a close notification has
  // still ended the connection: read it as a close, not a TLS failure.
  if (g_api.ctx_set_options) g_api.ctx_set_options(ctx_, SSL_OP_IGNORE_UNEXPECTED_EOF);
  // No peer verification: the server certificate is accepted as it is.
  ssl_ = g_api.ssl_new(ctx_);
  if (!ssl_) throw NetError("Error binding data to SSL socket.");
  if (g_api.set_fd(ssl_, fd) != 1) throw NetError("Error binding data to SSL socket.");
  fd_ = fd;

  AnnounceServerName(serverName);
  Handshake(timeoutMs, eachSlice);
  established_ = true;
}

void TIdConnectionInterceptOpenSSL::AnnounceServerName(const std::string& serverName) {
  if (serverName.empty()) return;
  // SSL_set_tlsext_host_name. A name the library refuses (over 255 bytes)
  // is left out, as for an address; the handshake goes on without it.
  g_serverNameApi.ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                       const_cast<char*>(serverName.c_str()));
  g_api.err_clear();
}

// The client handshake on the non-blocking socket, for at most timeoutMs in
// all, waiting in slices so that eachSlice can service the program.
void TIdConnectionInterceptOpenSSL::Handshake(int timeoutMs, const std::function<void()>& eachSlice) {
  constexpr long long kSliceMs = 50;  // the longest wait without servicing
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    auto [r, e, sysErr] = CallSsl(ssl_, [&] { return g_api.connect(ssl_); });
    (void)sysErr;  // a failed handshake reports one text whatever the cause
    if (r == 1) return;
    if (e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE) {
      throw NetError("Error connecting with SSL.");
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) throw NetError("Error connecting with SSL.");
    PollFor(fd_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, static_cast<int>(std::min<long long>(left, kSliceMs)));
    if (eachSlice) eachSlice();  // raises when the connection went under it
  }
}

TIdConnectionInterceptOpenSSL::Io TIdConnectionInterceptOpenSSL::Read(char* out, size_t n, size_t& got, int& err) {
  got = 0;
  err = 0;
  if (!ssl_) {
    err = ENOTCONN;
    return Io::Error;
  }
  int ask = static_cast<int>(std::min<size_t>(n, 1u << 30));
  for (;;) {
    auto [r, e, sysErr] = CallSsl(ssl_, [&] { return g_api.read(ssl_, out, ask); });
    if (r > 0) {
      got = static_cast<size_t>(r);
      return Io::Done;
    }
    switch (e) {
      case SSL_ERROR_WANT_READ:
        // Part of a record, or only a handshake message such as a session
        // ticket: nothing for the caller yet.
        return Io::WouldBlock;
      case SSL_ERROR_WANT_WRITE:
        PollFor(fd_, POLLOUT, 250);
        continue;
      case SSL_ERROR_ZERO_RETURN:
        return Io::Closed;
      case SSL_ERROR_SYSCALL:
        // A peer that drops the TCP stream without a close notification
        // looks like this with errno 0: an end of stream all the same.
        if (sysErr == 0 || sysErr == EAGAIN) return sysErr == EAGAIN ? Io::WouldBlock : Io::Closed;
        err = sysErr;
        return Io::Error;
      default:
        err = EPROTO;
        return Io::Error;
    }
  }
}

TIdConnectionInterceptOpenSSL::Io TIdConnectionInterceptOpenSSL::Write(const char* data, size_t n, size_t& put, int& err) {
  put = 0;
  err = 0;
  if (!ssl_) {
    err = ENOTCONN;
    return Io::Error;
  }
  int ask = static_cast<int>(std::min<size_t>(n, 1u << 30));
  for (;;) {
    auto [r, e, sysErr] = CallSsl(ssl_, [&] { return g_api.write(ssl_, data, ask); });
    if (r > 0) {
      put = static_cast<size_t>(r);
      return Io::Done;
    }
    switch (e) {
      case SSL_ERROR_WANT_WRITE:
        PollFor(fd_, POLLOUT, 250);
        continue;
      case SSL_ERROR_WANT_READ:
        PollFor(fd_, POLLIN, 250);
        continue;
      case SSL_ERROR_ZERO_RETURN:
        return Io::Closed;
      case SSL_ERROR_SYSCALL:
        if (sysErr == 0) return Io::Closed;
        err = sysErr;
        return Io::Error;
      default:
        err = EPROTO;
        return Io::Error;
    }
  }
}

size_t TIdConnectionInterceptOpenSSL::Pending() const {
  if (!ssl_ || !established_) return 0;
  int p = g_api.pending(ssl_);
  return p > 0 ? static_cast<size_t>(p) : 0;
}

void TIdConnectionInterceptOpenSSL::SendCloseNotify() {
  if (!ssl_ || !established_) return;
  SigpipeGuard guard;
  g_api.err_clear();
  g_api.shutdown(ssl_);  // one attempt; the socket closes right after
  g_api.err_clear();
  established_ = false;
}

void TIdConnectionInterceptOpenSSL::Release() {
  if (ssl_) {
    // A session whose handshake failed, or whose notification already went,
    // must not try to send again on free.
    g_api.set_shutdown(ssl_, SSL_SENT_SHUTDOWN | SSL_RECEIVED_SHUTDOWN);
    g_api.ssl_free(ssl_);
    ssl_ = nullptr;
  }
  if (ctx_) {
    g_api.ctx_free(ctx_);
    ctx_ = nullptr;
  }
  fd_ = -1;
  established_ = false;
}

// ---- the server's certificate after the handshake ----

namespace {

// The entry points of the peer check, bound apart from the connection's own
// table the first time a check runs (the libraries are loaded by then).
struct PeerApi {
  X509* (*get1_peer_certificate)(const SSL*) = nullptr;
  STACK_OF(X509)* (*get_peer_cert_chain)(const SSL*) = nullptr;
  void (*x509_free)(X509*) = nullptr;
  int (*x509_digest)(const X509*, const EVP_MD*, unsigned char*, unsigned int*) = nullptr;
  const EVP_MD* (*evp_sha256)() = nullptr;
  X509_STORE* (*store_new)() = nullptr;
  void (*store_free)(X509_STORE*) = nullptr;
  int (*store_default_paths)(X509_STORE*) = nullptr;
  int (*store_load_locations)(X509_STORE*, const char*, const char*) = nullptr;
  X509_STORE_CTX* (*store_ctx_new)() = nullptr;
  void (*store_ctx_free)(X509_STORE_CTX*) = nullptr;
  int (*store_ctx_init)(X509_STORE_CTX*, X509_STORE*, X509*, STACK_OF(X509)*) = nullptr;
  int (*store_ctx_set_default)(X509_STORE_CTX*, const char*) = nullptr;
  int (*verify_cert)(X509_STORE_CTX*) = nullptr;
  int (*check_host)(X509*, const char*, size_t, unsigned int, char**) = nullptr;
  int (*check_ip_asc)(X509*, const char*, unsigned int) = nullptr;
};

std::mutex g_peerMutex;
PeerApi g_peerApi;
bool g_peerLoaded = false;
std::string g_trustStoreFile;  // empty: the system's authorities

// Called after a successful handshake only, so LoadSsl has already loaded
// the libraries and opening them again just finds them.
bool LoadPeerApi() {
  std::lock_guard<std::mutex> lock(g_peerMutex);
  if (g_peerLoaded) return true;
  std::string sslName, cryptoName;
  {
    std::lock_guard<std::mutex> names(g_apiMutex);
    if (!g_loaded) return false;
    sslName = g_sslName;
    cryptoName = g_cryptoName;
  }
  void* crypto = OpenFirst(cryptoName, "libcrypto.so.3", "libcrypto.so", RTLD_NOW | RTLD_GLOBAL);
  void* ssl = OpenFirst(sslName, "libssl.so.3", "libssl.so", RTLD_NOW);
  if (!crypto || !ssl) {
    if (ssl) dlclose(ssl);
    if (crypto) dlclose(crypto);
    return false;
  }
  PeerApi api;
  // OpenSSL 3 renamed the call; the old name returns the same counted reference.
  const bool ok =
      (Bind(ssl, "SSL_get1_peer_certificate", api.get1_peer_certificate) ||
       Bind(ssl, "SSL_get_peer_certificate", api.get1_peer_certificate)) &&
      Bind(ssl, "SSL_get_peer_cert_chain", api.get_peer_cert_chain) &&
      Bind(crypto, "X509_free", api.x509_free) && Bind(crypto, "X509_digest", api.x509_digest) &&
      Bind(crypto, "EVP_sha256", api.evp_sha256) && Bind(crypto, "X509_STORE_new", api.store_new) &&
      Bind(crypto, "X509_STORE_free", api.store_free) &&
      Bind(crypto, "X509_STORE_set_default_paths", api.store_default_paths) &&
      Bind(crypto, "X509_STORE_load_locations", api.store_load_locations) &&
      Bind(crypto, "X509_STORE_CTX_new", api.store_ctx_new) &&
      Bind(crypto, "X509_STORE_CTX_free", api.store_ctx_free) &&
      Bind(crypto, "X509_STORE_CTX_init", api.store_ctx_init) &&
      Bind(crypto, "X509_STORE_CTX_set_default", api.store_ctx_set_default) &&
      Bind(crypto, "X509_verify_cert", api.verify_cert) && Bind(crypto, "X509_check_host", api.check_host) &&
      Bind(crypto, "X509_check_ip_asc", api.check_ip_asc);
  if (!ok) {
    // Only our own references go; the connection's stay.
    dlclose(ssl);
    dlclose(crypto);
    return false;
  }
  g_peerApi = api;  // the references stay with the table for the program's run
  g_peerLoaded = true;
  return true;
}

// An address literal is checked against the certificate's IP addresses, a
// name against its DNS names. "[::1]" is the literal ::1.
bool CertificateNamesHost(const PeerApi& api, X509* cert, std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string text(host);
  if (text.empty() || text.find('\0') != std::string::npos) return false;
  unsigned char address[16];
  if (inet_pton(AF_INET, text.c_str(), address) == 1 || inet_pton(AF_INET6, text.c_str(), address) == 1) {
    return api.check_ip_asc(cert, text.c_str(), 0) == 1;
  }
  return api.check_host(cert, text.data(), text.size(), 0, nullptr) == 1;
}

bool ChainVerifies(const PeerApi& api, X509* cert, STACK_OF(X509)* chain, const std::string& trustFile) {
  X509_STORE* store = api.store_new();
  if (!store) return false;
  bool verified = false;
  const bool loaded = trustFile.empty() ? api.store_default_paths(store) == 1
                                        : api.store_load_locations(store, trustFile.c_str(), nullptr) == 1;
  if (loaded) {
    if (X509_STORE_CTX* ctx = api.store_ctx_new()) {
      // The chain the server sent stands as untrusted intermediates; the
      // "ssl_server" defaults check the purpose a server certificate needs.
      if (api.store_ctx_init(ctx, store, cert, chain) == 1 && api.store_ctx_set_default(ctx, "ssl_server") == 1) {
        verified = api.verify_cert(ctx) == 1;
      }
      api.store_ctx_free(ctx);
    }
  }
  api.store_free(store);
  return verified;
}

}  // namespace

void SetTlsTrustStoreFile(const std::string& pemFile) {
  std::lock_guard<std::mutex> lock(g_peerMutex);
  g_trustStoreFile = pemFile;
}

std::string FormatFingerprint(const unsigned char* digest, size_t length) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < length; ++i) {
    if (i > 0) out += ':';
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0x0F];
  }
  return out;
}

TlsPeerCheck TIdConnectionInterceptOpenSSL::CheckPeer(const std::string& host) const {
  TlsPeerCheck check;
  if (!ssl_ || !established_ || !LoadPeerApi()) return check;
  std::string trustFile;
  {
    std::lock_guard<std::mutex> lock(g_peerMutex);
    trustFile = g_trustStoreFile;
  }
  const PeerApi& api = g_peerApi;
  g_api.err_clear();
  X509* cert = api.get1_peer_certificate(ssl_);
  if (!cert) return check;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (api.x509_digest(cert, api.evp_sha256(), digest, &length) == 1) check.Fingerprint = FormatFingerprint(digest, length);
  check.Verified = !check.Fingerprint.empty() && ChainVerifies(api, cert, api.get_peer_cert_chain(ssl_), trustFile) &&
                   CertificateNamesHost(api, cert, host);
  api.x509_free(cert);
  // Whatever the checks left in the error queue must not reach the next read.
  g_api.err_clear();
  return check;
}

}  // namespace brevan
