#pragma once
// The line connection of a session window: blocking TCP with optional TLS,
// used only from the user-interface thread. While it waits for the server it
// keeps calling the program's service callback, so the windows stay alive.
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

// Every failure of the connection: the text is what the user sees.
class NetError : public std::runtime_error {
 public:
  explicit NetError(const std::string& text, int socketError = 0)
      : std::runtime_error(text), SocketError(socketError) {}
  int SocketError;  // errno of a socket error, 0 otherwise
};

constexpr int InfiniteWait = -2;

class TIdTCPConnection {
 public:
  TIdTCPConnection();
  virtual ~TIdTCPConnection();
  TIdTCPConnection(const TIdTCPConnection&) = delete;
  TIdTCPConnection& operator=(const TIdTCPConnection&) = delete;

  std::string Host;
  int Port = 0;
  bool UseTls = false;
  std::vector<std::string> ReplyLines;
  std::function<void()> OnDisconnected;

  void Open();
  void Close();
  bool IsOpen();
  std::string ReadLine(int timeoutMs);
  int WaitForData(int timeoutMs);
  int BufferedByteCount() const;
  std::string TakeBytes(int n);
  void WriteLine(std::string_view text);
  int SendCommand(std::string_view text);
  std::string LastReply() const;
  void CaptureLines(std::vector<std::string>& lines, std::string_view endMarker, bool unstuff);
  bool ReadTimedOut() const;

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
  // wait slice of at most 250 ms and after each send on a plain connection.
  static void SetServiceCallback(std::function<void()> callback);

  // Tests point the TLS loader at other library names (an empty name keeps the
  // default). Takes effect before the first TLS Open only.
  static void SetTlsLibraryNames(const std::string& ssl, const std::string& crypto);

 private:
  struct Impl;
  Impl* impl_;
};

class TIdTCPClient : public TIdTCPConnection {};

}  // namespace brevan
