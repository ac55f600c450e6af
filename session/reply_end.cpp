#include "session/reply_end.h"

#include <cstring>

namespace brevan {

bool IsTerminatingLine(std::string_view line) { return line == "." || line == ".\r"; }

bool ReplyEnd::OpenLineMayEnd() const {
  if (lineLength_ == 0) return true;
  if (head_[0] != '.') return false;
  return lineLength_ == 1 || (lineLength_ == 2 && head_[1] == '\r');
}

size_t ReplyEnd::Take(std::string_view bytes) {
  if (ended_) return 0;
  // Only a line's length and its first two bytes matter: whole lines are
  // skipped with memchr, never looked at a byte at a time.
  const char* const begin = bytes.data();
  const char* const end = begin + bytes.size();
  const char* at = begin;
  while (at < end) {
    const void* found = std::memchr(at, '\n', static_cast<size_t>(end - at));
    const char* lf = static_cast<const char*>(found);
    const size_t segment = static_cast<size_t>((lf ? lf : end) - at);
    if (lineLength_ < 2) {
      const size_t head = segment < 2 - lineLength_ ? segment : 2 - lineLength_;
      std::memcpy(head_ + lineLength_, at, head);
    }
    lineLength_ += segment;
    if (!lf) break;
    if (lineLength_ <= 2 && IsTerminatingLine(std::string_view(head_, lineLength_))) {
      ended_ = true;
      return static_cast<size_t>(lf + 1 - begin);
    }
    lineLength_ = 0;
    firstLine_ = false;
    at = lf + 1;
  }
  return bytes.size();
}

}  // namespace brevan
