#pragma once
// The end of a raw multi-line reply and what its file holds, worked out on
// the whole text at once, line by line: what ReplyEnd and
// ReplyTerminatorFilter must give, however the bytes are split, is checked
// against these.
#include <string>
#include <string_view>

namespace brevan::testing_support {

// Where the reply ends: just past the LF of its first line that is "." or
// ".\r"; npos while there is none.
inline size_t ReplyEndOffset(std::string_view text) {
  for (size_t start = 0;;) {
    const size_t lf = text.find('\n', start);
    if (lf == std::string_view::npos) return std::string_view::npos;
    const std::string_view line = text.substr(start, lf - start);
    if (line == "." || line == ".\r") return lf + 1;
    start = lf + 1;
  }
}

// What the file holds of a reply that ended, before its closing CR LF: the
// text in front of the terminating line, without the line end (LF or CR LF)
// of the line before it.
inline std::string ReplyFileText(std::string_view text) {
  const size_t end = ReplyEndOffset(text);
  if (end == std::string_view::npos) return std::string(text);
  const size_t lineLength = text[end - 2] == '.' ? 2 : 3;
  std::string kept(text.substr(0, end - lineLength));
  if (!kept.empty() && kept.back() == '\n') kept.pop_back();
  if (!kept.empty() && kept.back() == '\r') kept.pop_back();
  return kept;
}

}  // namespace brevan::testing_support
