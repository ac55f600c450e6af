#include "tests/support/line_client.h"

#include <algorithm>

#include "common/trim.h"

namespace brevan::test {
namespace {

// Bytes are taken from the connection in pieces that grow while a line goes
// on, so a short line costs a short copy and a long one stays linear.
constexpr int kFirstPiece = 128;
constexpr int kLargestPiece = 65536;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

// The number in the first three characters of a reply, 0 when they are not
// one (an optional sign and digits only).
int NumericCode(std::string_view reply) {
  std::string_view head = reply.substr(0, 3);
  size_t i = 0;
  bool negative = false;
  if (i < head.size() && (head[i] == '+' || head[i] == '-')) negative = head[i++] == '-';
  if (i == head.size()) return 0;
  int value = 0;
  for (; i < head.size(); ++i) {
    if (head[i] < '0' || head[i] > '9') return 0;
    value = value * 10 + (head[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

std::string LineClient::ReadLine(int timeoutMs) {
  timedOut_ = false;
  for (;;) {
    std::string line;  // taken so far; no LF among it
    int piece = kFirstPiece;
    for (int buffered = connection_.BufferedByteCount(); buffered > 0; buffered = connection_.BufferedByteCount()) {
      // The last buffered byte is taken only on its own: bytes past the LF
      // then always go back into room the connection already has.
      std::string taken = connection_.TakeBytes(std::min(piece, buffered > 1 ? buffered - 1 : 1));
      const size_t lf = taken.find('\n');
      if (lf != std::string::npos) {
        connection_.Unread(std::string_view(taken).substr(lf + 1));
        line.append(taken, 0, lf);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
      }
      line += taken;
      piece = std::min(piece * 2, kLargestPiece);
    }
    // The unfinished line stays in the connection while it waits, for any
    // reader the wait services, and is taken again from its start after it.
    connection_.Unread(line);
    if (!connection_.IsOpen()) throw NetError("Connection Closed Gracefully.");
    const int before = connection_.BufferedByteCount();
    const int received = connection_.WaitForData(timeoutMs);
    // Nothing new and still open: the time ran out. A close seen by the wait
    // goes round to the closed test above instead.
    if (received == 0 && connection_.BufferedByteCount() == before && connection_.IsOpen()) {
      timedOut_ = true;
      return std::string();
    }
  }
}

int LineClient::SendCommand(std::string_view text) {
  connection_.WriteLine(text);
  replyLines_.clear();
  auto readReplyLine = [this] {
    for (;;) {
      std::string line = TrimBlank(ReadLine(InfiniteWait));
      if (!line.empty()) return line;
    }
  };
  replyLines_.push_back(readReplyLine());
  const std::string first = replyLines_.front();
  if (first.size() > 3 && first[3] == '-') {
    const std::string endPrefix = first.substr(0, 3) + " ";
    for (;;) {
      replyLines_.push_back(readReplyLine());
      const std::string& line = replyLines_.back();
      if (line.size() < 4 || StartsWithNoCase(line, endPrefix)) break;
    }
  }
  const std::string last = LastReply();
  if (StartsWithNoCase(last, "+OK")) return 1;
  if (StartsWithNoCase(last, "-ERR")) return 0;
  return NumericCode(last);
}

void LineClient::CaptureLines(std::vector<std::string>& lines, std::string_view endMarker, bool unstuff) {
  for (;;) {
    std::string line = ReadLine(InfiniteWait);
    if (line == endMarker) return;
    if (unstuff && line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    lines.push_back(std::move(line));
  }
}

void OpenAndLogIn(TIdTCPConnection& connection, int port, std::string_view user, std::string_view password) {
  connection.Host = "127.0.0.1";
  connection.Port = port;
  connection.Open();
  LineClient lineClient(connection);
  lineClient.ReadLine();
  lineClient.SendCommand("user " + std::string(user));
  lineClient.SendCommand("pass " + std::string(password));
}

}  // namespace brevan::test
