#pragma once
// The raw reply's end test and terminator removal worked out on the whole
// text at once: what ReplyTerminatorFilter must give, however the bytes are
// split, is checked against these.
#include <algorithm>
#include <string>
#include <string_view>

namespace brevan::testing_support {

inline constexpr std::string_view kTerminator = "\r\n.\r\n";
inline constexpr std::string_view kLoneTerminator = ".\r\n";

inline bool RawReplyEnded(std::string_view received) {
  if (received == kLoneTerminator) return true;
  const std::string_view tail = received.size() > 10 ? received.substr(received.size() - 10) : received;
  return tail.find(kTerminator) != std::string_view::npos;
}

inline void RemoveReplyTerminator(std::string& received) {
  if (received == kLoneTerminator) {
    received.clear();
    return;
  }
  // In place, so a large message is never copied.
  size_t out = 0;
  size_t in = 0;
  for (;;) {
    const size_t hit = received.find(kTerminator, in);
    const size_t end = hit == std::string::npos ? received.size() : hit;
    if (out != in) std::copy(received.begin() + static_cast<std::ptrdiff_t>(in),
                             received.begin() + static_cast<std::ptrdiff_t>(end),
                             received.begin() + static_cast<std::ptrdiff_t>(out));
    out += end - in;
    if (hit == std::string::npos) break;
    in = hit + kTerminator.size();
  }
  received.resize(out);
}

}  // namespace brevan::testing_support
