#include "filter/obfuscated.h"

namespace brevan {
namespace {

// Single-byte ASCII classes: a Big5 character starts with a byte from 0x81 up,
// which belongs to none of them, so such a word is never judged.
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsLetter(char c) { return IsLower(c) || (c >= 'A' && c <= 'Z'); }

}  // namespace

bool IsObfuscatedWord(std::string_view word) {
  bool allDigits = true;
  for (char c : word) {
    if (!IsDigit(c) && !IsLetter(c) && c != '|') return false;
    if (!IsDigit(c)) allDigits = false;
  }
  // Plain numbers ("2024") and the empty word are not disguises.
  if (allDigits) return false;

  const size_t n = word.size();  // at least 1 here
  for (size_t i = 0; i < n; ++i) {
    const char c = word[i];
    if (IsDigit(c)) {
      // The first digit decides: it is a disguise when no digit stands beside
      // it. n >= 2 here, because a one-byte word holding a digit is all digits.
      const bool digitBefore = i > 0 && IsDigit(word[i - 1]);
      const bool digitAfter = i + 1 < n && IsDigit(word[i + 1]);
      return !digitBefore && !digitAfter;
    }
    if (c == '|') return true;
    if (c == 'O' && i > 0 && IsLower(word[i - 1]) && (i + 1 == n || IsLower(word[i + 1]))) {
      return true;
    }
  }
  return false;
}

bool IsObfuscatedSubject(std::string_view subject) {
  while (!subject.empty()) {
    const size_t blank = subject.find(' ');
    if (blank == std::string_view::npos) return IsObfuscatedWord(subject);
    if (IsObfuscatedWord(subject.substr(0, blank))) return true;
    subject.remove_prefix(blank + 1);
  }
  return false;
}

std::string_view FirstObfuscatedWord(std::string_view subject) {
  while (!subject.empty()) {
    const size_t blank = subject.find(' ');
    const std::string_view word = subject.substr(0, blank);
    if (IsObfuscatedWord(word)) return word;
    if (blank == std::string_view::npos) break;
    subject.remove_prefix(blank + 1);
  }
  return {};
}

}  // namespace brevan
