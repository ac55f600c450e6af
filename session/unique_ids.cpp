#include "session/unique_ids.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "common/trim.h"
#include "session/pop3_exchanges.h"

namespace brevan {

namespace {

// RFC 1939 section 7: 1 to 70 characters in 0x21..0x7E.
constexpr size_t kMaxUidLength = 70;

bool IsUid(std::string_view id) {
  if (id.empty() || id.size() > kMaxUidLength) return false;
  for (unsigned char c : id)
    if (c < 0x21 || c > 0x7E) return false;
  return true;
}

// "number id", with any blanks between and around: false for anything else.
bool ParseLine(std::string_view line, int& number, std::string_view& id) {
  line = TrimBlankView(line);
  const size_t gap = line.find_first_of(" \t");
  if (gap == std::string_view::npos) return false;
  const std::string_view digits = line.substr(0, gap);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || number <= 0) return false;
  id = TrimBlankView(line.substr(gap));
  return IsUid(id);
}

}  // namespace

bool CapabilitiesOfferUidl(const std::vector<std::string>& capabilityLines) {
  return CapabilitiesOffer(capabilityLines, "uidl");
}

std::unordered_map<std::string, int> NumbersByUid(const std::vector<std::string>& uidlLines) {
  std::unordered_map<std::string, int> numbers;
  for (const std::string& line : uidlLines) {
    int number = 0;
    std::string_view id;
    if (!ParseLine(line, number, id)) continue;
    const auto [at, added] = numbers.emplace(std::string(id), number);
    if (!added) at->second = 0;
  }
  return numbers;
}

std::vector<std::string> UidsByNumber(const std::vector<std::string>& uidlLines, int messageCount) {
  std::vector<std::string> ids(static_cast<size_t>(std::max(messageCount, 0)));
  for (const auto& [id, number] : NumbersByUid(uidlLines)) {
    if (number >= 1 && number <= messageCount) ids[static_cast<size_t>(number - 1)] = id;
  }
  // A number given twice keeps neither of its ids.
  std::vector<int> seen(ids.size(), 0);
  for (const std::string& line : uidlLines) {
    int number = 0;
    std::string_view id;
    if (ParseLine(line, number, id) && number <= messageCount && ++seen[static_cast<size_t>(number - 1)] > 1)
      ids[static_cast<size_t>(number - 1)].clear();
  }
  return ids;
}

}  // namespace brevan
