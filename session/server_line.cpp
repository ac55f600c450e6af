#include "session/server_line.h"

#include <algorithm>

#include "common/codepage.h"

namespace brevan {
namespace {

// Code page 950 trail bytes. Control bytes and DEL are never among them, so a
// lead byte followed by one is not a character and the two go separately.
bool IsTrailByte(unsigned char byte) { return (byte >= 0x40 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE); }

}  // namespace

std::string SanitizeServerLine(std::string_view line) {
  std::string out;
  out.reserve(std::min(line.size(), kMaxShownServerBytes) + 3);
  for (size_t i = 0; i < line.size();) {
    const auto byte = static_cast<unsigned char>(line[i]);
    const bool pair =
        IsLeadByte(byte) && i + 1 < line.size() && IsTrailByte(static_cast<unsigned char>(line[i + 1]));
    const size_t width = pair ? 2 : 1;
    if (out.size() + width > kMaxShownServerBytes) {
      out += "...";
      break;
    }
    if (pair) {
      out.append(line.substr(i, 2));
    } else if (byte < 0x20 || byte == 0x7F || IsLeadByte(byte)) {
      out += '?';
    } else {
      out += static_cast<char>(byte);
    }
    i += width;
  }
  return out;
}

}  // namespace brevan
