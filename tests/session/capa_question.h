#pragma once
// The CAPA question asked on a bare connection, as the session's login asks
// it: true when the server offers pipelining. A "-ERR" reply (a server that
// predates RFC 2449) means no; a "+ok" reply is not taken at its word, but
// its lines are read all the same.
#include <string>
#include <vector>

#include "common/trim.h"
#include "net/tcp_client.h"
#include "session/pipelined_listing.h"
#include "tests/support/line_client.h"

namespace brevan::testing_support {

inline bool AskPipelining(TIdTCPConnection& connection) {
  test::LineClient lineClient(connection);
  lineClient.SendCommand("capa");
  const std::string status = lineClient.LastReply();
  if (AsciiLower(status.substr(0, 3)) != "+ok") return false;
  std::vector<std::string> lines;
  lineClient.CaptureLines(lines);
  return status.compare(0, 3, "+OK") == 0 && CapabilitiesOfferPipelining(lines);
}

}  // namespace brevan::testing_support
