// Answers MatchWildcard for the cases on standard input, one per line:
// "<pattern hex> <text hex>" (either may be empty). Prints one position per
// line. The first output line lists the code page's lead bytes in hex, so the
// model on the other side finds "*" on the same character boundaries.
#include <iostream>
#include <string>

#include "common/codepage.h"
#include "filter/filter_rules.h"

namespace {

int Nibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool FromHex(const std::string& hex, std::string& out) {
  out.clear();
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = Nibble(hex[i]);
    const int lo = Nibble(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<char>(hi * 16 + lo));
  }
  return true;
}

}  // namespace

int main() {
  static const char kDigits[] = "0123456789abcdef";
  std::string lead;
  for (int b = 0; b < 256; ++b) {
    if (brevan::IsLeadByte(static_cast<unsigned char>(b))) {
      lead += kDigits[b >> 4];
      lead += kDigits[b & 15];
    }
  }
  std::cout << "lead " << lead << '\n';
  std::string line;
  while (std::getline(std::cin, line)) {
    const size_t blank = line.find(' ');
    std::string pattern;
    std::string text;
    if (blank == std::string::npos || !FromHex(line.substr(0, blank), pattern) ||
        !FromHex(line.substr(blank + 1), text)) {
      std::cerr << "bad case line: " << line << '\n';
      return 2;
    }
    std::cout << brevan::MatchWildcard(pattern, text) << '\n';
  }
  return 0;
}
