#include "common/trim.h"

namespace brevan {
namespace {
bool IsBlankByte(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string_view TrimBlankView(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlankByte(text[b])) ++b;
  while (e > b && IsBlankByte(text[e - 1])) --e;
  return text.substr(b, e - b);
}

std::string TrimBlank(std::string_view text) { return std::string(TrimBlankView(text)); }

bool IsBlank(std::string_view text) { return TrimBlankView(text).empty(); }

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace brevan
