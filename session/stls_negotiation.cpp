#include "session/stls_negotiation.h"

#include <exception>

#include "common/trim.h"
#include "net/tcp_client.h"
#include "session/reply_drain.h"

namespace brevan {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

// RFC 1939 section 3: positive is exactly "+OK".
bool IsPositive(const std::string& status) { return status.compare(0, 3, "+OK") == 0; }

void CloseQuietly(TIdTCPConnection& connection) {
  try {
    connection.Close();
  } catch (...) {
  }
}

}  // namespace

bool CapabilitiesOfferStls(const std::vector<std::string>& capabilityLines) {
  for (const std::string& line : capabilityLines) {
    const std::string_view trimmed = TrimBlankView(line);
    if (AsciiLower(trimmed.substr(0, trimmed.find_first_of(" \t"))) == "stls") return true;
  }
  return false;
}

StlsNegotiation NegotiateStls(TIdTCPConnection& connection, const StlsOptions& options) {
  StlsNegotiation result;
  TrackedExchange* exchange = options.exchange;
  auto ended = [&] {
    return (options.stop && options.stop()) || (exchange && exchange->Finished());
  };
  // CAPA and its lines. A server from before RFC 2449 answers "-ERR" and
  // sends none; one that answers "+ok" is not taken at its word, but its
  // lines are read all the same, or they would pass for the next reply.
  auto askCapabilities = [&] {
    if (exchange) exchange->AwaitStatus(true);
    connection.SendCommand("capa");
    const std::string status = connection.LastReply();
    result.capabilities.clear();
    if (StartsWithNoCase(status, "+OK")) connection.CaptureLines(result.capabilities, ".", false);
    if (exchange) exchange->Received();
    result.capaAnswered = IsPositive(status);
    if (!result.capaAnswered) result.capabilities.clear();
  };

  askCapabilities();
  if (ended()) {
    result.outcome = StlsOutcome::Ended;
    return result;
  }
  if (!CapabilitiesOfferStls(result.capabilities)) {
    // A server reached through TLS before that offers none now is what an
    // attacker who strips STLS from the capabilities looks like.
    result.outcome = options.seenWithTls ? StlsOutcome::Downgraded : StlsOutcome::NotOffered;
    return result;
  }

  if (exchange) exchange->AwaitStatus(false);
  connection.SendCommand("stls");
  if (exchange) exchange->Received();
  if (ended()) {
    result.outcome = StlsOutcome::Ended;
    return result;
  }
  if (!IsPositive(connection.LastReply())) {
    result.failure = connection.LastReply();
    result.outcome = StlsOutcome::Refused;
    CloseQuietly(connection);
    return result;
  }
  try {
    connection.StartTls();
  } catch (const std::exception& e) {
    if (ended()) {
      result.outcome = StlsOutcome::Ended;
      return result;
    }
    result.failure = e.what();
    result.outcome = StlsOutcome::HandshakeFailed;
    CloseQuietly(connection);
    return result;
  }
  const bool trusted = !options.trust || options.trust();
  if (ended()) {
    result.outcome = StlsOutcome::Ended;
    return result;
  }
  if (!trusted) {
    result.outcome = StlsOutcome::Untrusted;
    CloseQuietly(connection);
    return result;
  }
  // RFC 2595 section 4: the capabilities from before TLS are forgotten.
  askCapabilities();
  result.outcome = ended() ? StlsOutcome::Ended : StlsOutcome::Secured;
  return result;
}

}  // namespace brevan
