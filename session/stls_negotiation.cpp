#include "session/stls_negotiation.h"

#include <chrono>
#include <exception>
#include <functional>

#include "common/trim.h"
#include "net/tcp_client.h"
#include "session/reply_drain.h"

namespace brevan {
namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

void CloseQuietly(TIdTCPConnection& connection) {
  try {
    connection.Close();
  } catch (...) {
  }
}

}  // namespace

bool CapabilitiesOfferStls(const std::vector<std::string>& capabilityLines) {
  return CapabilitiesOffer(capabilityLines, "stls");
}

StlsNegotiation NegotiateStls(TIdTCPConnection& connection, const StlsOptions& options) {
  StlsNegotiation result;
  TrackedExchange* exchange = options.exchange;
  ConnectionReplySource source(connection);
  auto ended = [&] {
    return (options.stop && options.stop()) || (exchange && exchange->Finished());
  };
  // One read through the shared reply reader. False when the negotiation
  // stops here: stopped from outside, or the reply did not end in time. A
  // reply that did not end in time loses the connection: whatever the server
  // sends later could no longer be told from the next reply.
  auto read = [&](const std::function<DrainEnd(ReplyDrain&)>& step) {
    DrainEnd end;
    std::string error;
    {
      // Bytes taken past the reply go back to the connection when the reader
      // goes, before anything else (a handshake) reads it.
      ReplyDrain reader(source);
      end = step(reader);
      error = reader.Error();
    }
    if (ended()) {
      result.outcome = StlsOutcome::Ended;
      return false;
    }
    if (end == DrainEnd::TimedOut) {
      CloseQuietly(connection);
      result.outcome = StlsOutcome::Ended;
      return false;
    }
    if (end == DrainEnd::Failed) {
      CloseQuietly(connection);
      throw NetError(error);
    }
    return true;
  };
  // Sends a command whose reply is awaited until capaBound from now; false
  // when stopped from outside meanwhile (the send serviced the program).
  auto send = [&](const char* command, bool multiLine) {
    if (exchange) exchange->AwaitStatus(multiLine);
    connection.WriteLine(command);
    if (!ended()) return true;
    result.outcome = StlsOutcome::Ended;
    return false;
  };
  // CAPA and its lines. A server from before RFC 2449 answers "-ERR" and
  // sends none; one that answers "+ok" is not taken at its word, but its
  // lines are read all the same, or they would pass for the next reply.
  auto askCapabilities = [&] {
    result.capabilities.clear();
    result.capaAnswered = false;
    const Deadline deadline = std::chrono::steady_clock::now() + options.capaBound;
    if (!send("capa", true)) return false;
    std::string status;
    if (!read([&](ReplyDrain& reader) { return reader.StatusLine(deadline, &status); })) return false;
    if (!StartsWithNoCase(status, "+OK")) {
      if (exchange) exchange->Received();
      return true;
    }
    if (exchange) exchange->AwaitBody(nullptr);
    std::vector<std::string> lines;
    if (!read([&](ReplyDrain& reader) { return reader.Lines(deadline, lines, false); })) return false;
    if (exchange) exchange->Received();
    result.capaAnswered = IsPositiveStatus(status);
    if (result.capaAnswered) result.capabilities = std::move(lines);
    return true;
  };

  if (!askCapabilities()) return result;
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

  const Deadline stlsDeadline = std::chrono::steady_clock::now() + options.capaBound;
  if (!send("stls", false)) return result;
  std::string agreement;
  if (!read([&](ReplyDrain& reader) { return reader.StatusLine(stlsDeadline, &agreement); })) return result;
  if (exchange) exchange->Received();
  if (!IsPositiveStatus(agreement)) {
    result.failure = agreement;
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
  if (!askCapabilities()) return result;
  result.outcome = ended() ? StlsOutcome::Ended : StlsOutcome::Secured;
  return result;
}

}  // namespace brevan
