#pragma once
// The server's unique ids of its messages (UIDL, RFC 1939 section 7): what
// finds a marked message again on a later connection, where its number may
// have changed. An id is trusted only as far as it is what the RFC allows and
// unique in its reply: a repeated id names no message at all.
#include <string>
#include <unordered_map>
#include <vector>

namespace brevan {

// True when a CAPA reply's lines hold UIDL: the first word of a line, in any
// case (RFC 2449 section 6.7).
bool CapabilitiesOfferUidl(const std::vector<std::string>& capabilityLines);

// The ids of a UIDL reply's lines ("number id") by message number - 1, for
// messageCount messages. A message whose line is missing, malformed, or
// whose id is repeated gets an empty id.
std::vector<std::string> UidsByNumber(const std::vector<std::string>& uidlLines, int messageCount);

// The message number of each id of a UIDL reply's lines. A repeated id
// maps to 0: it names no message.
std::unordered_map<std::string, int> NumbersByUid(const std::vector<std::string>& uidlLines);

}  // namespace brevan
