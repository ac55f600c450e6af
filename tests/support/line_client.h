#pragma once
// A plain line-at-a-time POP3 client for tests and benchmarks: greetings,
// USER/PASS, one command and its status, a whole multi-line body. It works
// on the connection's public byte interface only (WriteLine, WaitForData,
// TakeBytes, Unread), takes no byte past the line it wants, and keeps
// nothing between calls but the last reply, so any other reader can take
// the connection over after it.
//
//   brevan::test::LineClient lineClient(connection);
//   lineClient.ReadLine();  // the greeting
//   if (lineClient.SendCommand("user bob") != 1) ... lineClient.LastReply() ...
#include <string>
#include <string_view>
#include <vector>

#include "net/tcp_client.h"

namespace brevan::test {

class LineClient {
 public:
  explicit LineClient(TIdTCPConnection& connection) : connection_(connection) {}

  // The next line without its LF and the one CR before it (a lone CR inside
  // a line stays). Every wait for more bytes is WaitForData(timeoutMs); one
  // that brings nothing while the connection stays open ends the read with ""
  // and ReadTimedOut(), leaving any partial line in the connection. A peer
  // that closed mid-line raises the connection-closed error: a partial line
  // is not a line.
  std::string ReadLine(int timeoutMs = InfiniteWait);
  bool ReadTimedOut() const { return timedOut_; }

  // Sends the command and reads its status: blank lines are skipped and the
  // line is trimmed; a line with "-" as its 4th character continues up to a
  // line shorter than 4 characters or starting with its first three
  // characters and a blank. Returns 1 for "+OK", 0 for "-ERR" (any case),
  // else the number in the first three characters of the last line (0 when
  // there is none).
  int SendCommand(std::string_view text);
  std::string LastReply() const { return replyLines_.empty() ? std::string() : replyLines_.back(); }

  // Lines up to the line equal to endMarker (taken, not kept); with unstuff
  // the first "." of a line starting with two is taken off.
  void CaptureLines(std::vector<std::string>& lines, std::string_view endMarker = ".", bool unstuff = false);

 private:
  TIdTCPConnection& connection_;
  std::vector<std::string> replyLines_;
  bool timedOut_ = false;
};

// Opens the connection to 127.0.0.1:port, reads the greeting and logs in with
// USER and PASS: a connection in the transaction state for the exchange
// under test. The replies are not judged.
void OpenAndLogIn(TIdTCPConnection& connection, int port, std::string_view user = "user",
                  std::string_view password = "password");

}  // namespace brevan::test
