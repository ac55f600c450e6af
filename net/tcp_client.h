#pragma once
// The line connection of a session window: blocking TCP with optional TLS,
// used only from the user-interface thread. While it waits for the server it
// keeps calling the program's service callback, so the windows stay alive.
#include <sys/socket.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/tls_peer.h"

namespace brevan {

// Every failure of the connection: the text is what the user sees.
class NetError : public std::runtime_error {
 public:
  explicit NetError(const std::string& text, int socketError = 0)
      : std::runtime_error(text), SocketError(socketError) {}
  int SocketError;  // errno of a socket error, 0 otherwise
};

constexpr int InfiniteWait = -2;

// One address a host name stands for, with the port, as the socket calls
// take it (IPv4 or IPv6).
struct NetAddress {
  sockaddr_storage storage{};
  socklen_t length = 0;
};

// Turns Host and Port into the addresses to try, in the order to try them.
// Raises NetError when there is none.
using HostResolver = std::function<std::vector<NetAddress>(const std::string& host, int port)>;

// The system's resolver (getaddrinfo, any address family). A host written in
// brackets ("[::1]") is taken without them.
std::vector<NetAddress> ResolveHost(const std::string& host, int port);

// True when the host is written as an IPv4 or IPv6 address rather than a
// name (brackets allowed around an IPv6 address).
bool IsAddressLiteral(const std::string& host);

class TIdTCPConnection {
 public:
  TIdTCPConnection();
  virtual ~TIdTCPConnection();
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  std::string Host;
  int Port = 0;
  bool UseTls = false;
  // The bound of the TCP connect over all addresses, and separately of the
  // TLS handshake. Tests shorten it; the program keeps the default.
  static constexpr int kDefaultConnectTimeoutMs = 30000;
  int ConnectTimeoutMs = kDefaultConnectTimeoutMs;
  std::function<void()> OnDisconnected;
  // How Open finds the addresses of Host; ResolveHost unless replaced (tests
  // give fixed addresses without touching the system's name service).
  HostResolver Resolver = ResolveHost;

  void Open();
  void Close();
  bool IsOpen();
  int WaitForData(int timeoutMs);
  int BufferedByteCount() const;
  std::string TakeBytes(int n);
  // Bytes a reader took past the reply it wanted go back to the front of the
  // input, for the next reader.
  void Unread(std::string_view bytes);
  void WriteLine(std::string_view text);

  // One step of an exchange that sends commands ahead of their replies.
  // Waits at most timeoutMs, without servicing the program, until the server
  // has bytes for us or (when out is not empty) the socket can take more; then
  // receives what has come into the input buffer and sends what the socket
  // takes of out at once. Returns how many bytes of out went out. It never
  // waits for the socket to take the rest: a server that stops reading
  // commands until its replies are read cannot stall us in a send. Reading
  // comes first, so a server that closed after its last replies is seen as a
  // close, not as a failed send. A close with nothing buffered raises the
  // connection-closed error, as WaitForData; send failures raise as WriteLine.
  size_t SendSomeAndReceive(std::string_view out, int timeoutMs);

  // The one service callback of the program (the anti-freeze): run after every
  // wait slice of at most 50 ms (reads, the TCP connect, the TLS handshake)
  // and after each send on a plain connection. Only name resolution in Open
  // runs without it.
  static void SetServiceCallback(std::function<void()> callback);

  // Tests point the TLS loader at other library names (an empty name keeps the
  // default). Takes effect before the first TLS Open only.
  static void SetTlsLibraryNames(const std::string& ssl, const std::string& crypto);

  // On an open TLS connection: whether the server's certificate verifies for
  // Host, and its fingerprint. An empty check on a plain or closed one.
  TlsPeerCheck CheckTlsPeer() const;

  // Turns the open plain connection into a TLS one (the server has agreed
  // to STLS, RFC 2595 section 4): the client handshake as Open does it, with
  // the same bound and the program serviced in slices. Bytes the server sent
  // behind its agreement would pass for protected ones: with any in the
  // input buffer, nothing is tried and the handshake error is raised. A
  // failed handshake raises "Error connecting with SSL." (or the TLS
  // layer's other texts) and leaves the socket held; the caller closes it.
  // UseTls is not changed: it says how the next Open begins.
  void StartTls();
  // True while the connection runs through TLS, from Open or StartTls.
  bool TlsActive() const;

 private:
  struct Impl;
  Impl* impl_;
};

class TIdTCPClient : public TIdTCPConnection {};

}  // namespace brevan
