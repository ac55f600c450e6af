#pragma once
// The TLS layer of the line connection. OpenSSL is loaded with dlopen at the
// first TLS connect, so plain POP3 never needs the library and a missing
// library fails only TLS connections.
#include <cstddef>
#include <functional>
#include <string>

#include "net/tls_peer.h"

struct ssl_st;
struct ssl_ctx_st;

namespace brevan {

// The pass-phrase answer as OpenSSL wants it: at most size bytes copied into
// buf, no terminator, the count copied returned.
int CopyPassPhrase(const std::string& word, char* buf, int size);

class TIdConnectionInterceptOpenSSL {
 public:
  TIdConnectionInterceptOpenSSL() = default;
  ~TIdConnectionInterceptOpenSSL();  // frees without sending anything
  TIdConnectionInterceptOpenSSL(const TIdConnectionInterceptOpenSSL&) = delete;
  TIdConnectionInterceptOpenSSL& operator=(const TIdConnectionInterceptOpenSSL&) = delete;

  // Answers OpenSSL's pass-phrase question. Only an encrypted private key
  // would make OpenSSL ask, and none is ever loaded; registered all the same.
  std::function<std::string()> OnGetPassword = [] { return std::string("9057"); };

  // Creates the context and the session, binds them to the connected socket
  // fd (non-blocking) and runs the client handshake, for at most timeoutMs.
  // A non-empty serverName goes out as the server name (SNI). eachSlice runs
  // after every wait slice of at most 250 ms; it may raise to abandon the
  // handshake, after which nothing of this object is touched (a nested call
  // may have released or destroyed it). Throws NetError with the
  // user-visible texts.
  void Connect(int fd, int timeoutMs, const std::string& serverName = std::string(),
               const std::function<void()>& eachSlice = nullptr);

  // Outcome of one read or write through TLS.
  enum class Io { Done, Closed, WouldBlock, Error };
  // Reads at most n bytes. Done: got > 0; Closed: the peer ended the stream;
  // WouldBlock: no complete record yet; Error: err holds an errno.
  Io Read(char* out, size_t n, size_t& got, int& err);
  // Writes at most n bytes, waiting while OpenSSL wants the socket.
  Io Write(const char* data, size_t n, size_t& put, int& err);

  // Decrypted bytes OpenSSL holds that a readiness wait on the socket would
  // not see.
  size_t Pending() const;

  bool Established() const { return ssl_ != nullptr && established_; }
  bool Active() const { return ssl_ != nullptr || ctx_ != nullptr; }

  // Sends the close notification (RFC 8446 section 6.1) once, without
  // waiting for the peer's.
  void SendCloseNotify();
  // Frees the session and the context.
  void Release();

  static void SetLibraryNames(const std::string& ssl, const std::string& crypto);

  // After an established handshake: verifies the server's chain and host
  // name (host as the user typed it) and takes the certificate's
  // fingerprint. Never fails the connection; a check that cannot run reports
  // "not verified".
  TlsPeerCheck CheckPeer(const std::string& host) const;

 private:
  static int PasswordCallback(char* buf, int size, int rwflag, void* userdata);
  // Pieces of Connect: the SNI extension, then the handshake itself.
  void AnnounceServerName(const std::string& serverName);
  void Handshake(int timeoutMs, const std::function<void()>& eachSlice);
  ssl_st* ssl_ = nullptr;
  ssl_ctx_st* ctx_ = nullptr;
  int fd_ = -1;
  bool established_ = false;
};

}  // namespace brevan
