#include "common/split_token.h"

#include "common/codepage.h"

namespace brevan {

size_t FindCharAware(std::string_view text, std::string_view needle, size_t from) {
  if (needle.empty() || text.empty()) return std::string_view::npos;
  size_t boundary = 0;  // the start of the character that covers the next candidate
  size_t pos = text.find(needle, from);
  while (pos != std::string_view::npos) {
    // Walk whole characters up to the candidate; a lead byte swallows its trail.
    while (boundary < pos) {
      boundary += (IsLeadByte(static_cast<unsigned char>(text[boundary])) && boundary + 1 < text.size()) ? 2 : 1;
    }
    if (boundary == pos) return pos;
    pos = text.find(needle, pos + 1);
  }
  return std::string_view::npos;
}

std::string SplitToken(std::string& source, std::string_view separator, bool remove) {
  size_t pos = std::string::npos;
  if (!separator.empty() && !source.empty()) {
    if (separator.size() == 1 && separator[0] == '\0') {
      pos = source.find('\0');
    } else {
      std::string_view region(source);
      size_t nul = region.find('\0');
      if (nul != std::string_view::npos) region = region.substr(0, nul);
      pos = FindCharAware(region, separator);
    }
  }
  std::string token;
  if (pos == std::string::npos) {
    token = source;
    if (remove) source.clear();
  } else {
    token = source.substr(0, pos);
    if (remove) source.erase(0, pos + separator.size());
  }
  return token;
}

}  // namespace brevan
