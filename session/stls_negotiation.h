#pragma once
// What a session says between the greeting and USER on a connection that did
// not begin in TLS: it asks the capabilities (RFC 2449), and where the server
// offers STLS (RFC 2595 section 4) it turns the connection into TLS, has the
// server's certificate judged before anything else goes out, and asks the
// capabilities again, since those from before TLS are forgotten.
//
// User name and password are no part of it: the caller sends them only when
// the outcome says so. Everything the server sends here is untrusted text.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace brevan {

class TIdTCPConnection;
class TrackedExchange;

enum class StlsOutcome {
  Secured,          // TLS is up and its certificate trusted: log in
  NotOffered,       // no STLS, and the server was never seen with TLS: log in as before
  Downgraded,       // no STLS now, although the server was seen with TLS: ask before a word more
  Refused,          // STLS was offered but refused; the connection is closed
  HandshakeFailed,  // the TLS handshake failed or was cut; the connection is closed
  Untrusted,        // the certificate was refused; the connection is closed
  Ended,            // stopped from outside (a closing window, a disconnect), or a reply not ended
                    // within capaBound (the connection is then closed): nothing more is sent
};

struct StlsNegotiation {
  StlsOutcome outcome = StlsOutcome::NotOffered;
  // The last CAPA's answer: whether it was "+OK", and its lines. After TLS,
  // those of the CAPA asked through it.
  bool capaAnswered = false;
  std::vector<std::string> capabilities;
  // Refused: the server's reply line; HandshakeFailed: the connection's error.
  std::string failure;
};

struct StlsOptions {
  // The server and port were once reached through TLS (brevan.certs).
  bool seenWithTls = false;
  // Judges the server's certificate right after the handshake; false refuses
  // it. Empty: every certificate is trusted.
  std::function<bool()> trust;
  // True once the caller began to close: the negotiation ends where it is.
  std::function<bool()> stop;
  // Told which reply is awaited before each wait, so that a disconnect can
  // finish the exchange from outside (its Finished() then ends it as well).
  TrackedExchange* exchange = nullptr;
  // How long each CAPA reply, and the reply to STLS, may take to end. A
  // server whose reply never ends loses the connection, so none of its later
  // bytes is ever taken for another reply.
  std::chrono::milliseconds capaBound{10000};
};

// True when a CAPA reply's lines hold STLS: the first word of a line, in any
// case (RFC 2449 section 5).
bool CapabilitiesOfferStls(const std::vector<std::string>& capabilityLines);

// Runs the negotiation on the open connection, right after the greeting.
// Transport failures raise, as every command does (the connection has then
// been closed by the failing read or write). Every wait services the program
// and ends at capaBound at the latest.
StlsNegotiation NegotiateStls(TIdTCPConnection& connection, const StlsOptions& options);

}  // namespace brevan
