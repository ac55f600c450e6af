#include "decode/codecs.h"

#include "common/trim.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace brevan {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every byte outside the alphabet has the value 64. Shifted into its place of
// a group, that sets the lowest bit of the preceding character's six bits (and
// in the first place bit 24, which no output byte takes), so stray characters
// fold in instead of stopping the decoder.
constexpr uint8_t kOutside = 64;

constexpr std::array<uint8_t, 256> MakeValues() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kOutside;
  for (uint8_t i = 0; i < 64; ++i) t[static_cast<unsigned char>(kAlphabet[i])] = i;
  return t;
}
constexpr std::array<uint8_t, 256> kValues = MakeValues();

constexpr std::array<int8_t, 256> MakeHex() {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<int8_t>(c - '0');
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<int8_t>(c - 'A' + 10);
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<int8_t>(c - 'a' + 10);
  return t;
}
constexpr std::array<int8_t, 256> kHex = MakeHex();

inline uint32_t Value(char c) { return kValues[static_cast<unsigned char>(c)]; }

// Decodes a Base64 text that holds no CR or LF.
void DecodeBase64Unbroken(std::string_view s, std::string& out) {
  if (s.empty()) return;
  // Full groups while more than four characters remain; the last one to four
  // characters are the final group.
  const size_t groups = (s.size() - 1) / 4;
  std::string_view last = s.substr(groups * 4);
  while (!last.empty() && last.back() == '=') last.remove_suffix(1);

  const size_t start = out.size();
  out.resize(start + groups * 3 + 3);
  char* w = out.data() + start;
  const char* r = s.data();
  for (size_t g = 0; g < groups; ++g, r += 4, w += 3) {
    const uint32_t n = Value(r[0]) << 18 | Value(r[1]) << 12 | Value(r[2]) << 6 | Value(r[3]);
    w[0] = static_cast<char>(n >> 16);
    w[1] = static_cast<char>(n >> 8);
    w[2] = static_cast<char>(n);
  }

  // Missing places of the final group count as 0.
  uint32_t x[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < last.size(); ++i) x[i] = Value(last[i]);
  const uint32_t n = x[0] << 18 | x[1] << 12 | x[2] << 6 | x[3];
  switch (last.size()) {
    case 2:
      *w++ = static_cast<char>(n >> 16);
      // Bits that a correctly padded group never carries still make a byte.
      if (x[1] & 0x0F) *w++ = static_cast<char>((x[1] & 0x0F) << 4);
      break;
    case 3:
      *w++ = static_cast<char>(n >> 16);
      *w++ = static_cast<char>(n >> 8);
      if (x[2] & 0x03) *w++ = static_cast<char>((x[2] & 0x03) << 6);
      break;
    case 4:
      *w++ = static_cast<char>(n >> 16);
      *w++ = static_cast<char>(n >> 8);
      *w++ = static_cast<char>(n);
      break;
    default:
      // Nothing, or one character: six bits make no byte.
      break;
  }
  out.resize(static_cast<size_t>(w - out.data()));
}

}  // namespace

std::string EncodeBase64Text(std::string_view text) {
  if (IsBlank(text)) return {};
  std::string out;
  out.resize((text.size() + 2) / 3 * 4);
  char* w = out.data();
  const auto* r = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  for (; i + 3 <= text.size(); i += 3, w += 4) {
    const uint32_t n = uint32_t{r[i]} << 16 | uint32_t{r[i + 1]} << 8 | r[i + 2];
    w[0] = kAlphabet[n >> 18];
    w[1] = kAlphabet[(n >> 12) & 63];
    w[2] = kAlphabet[(n >> 6) & 63];
    w[3] = kAlphabet[n & 63];
  }
  const size_t rest = text.size() - i;
  if (rest == 1) {
    const uint32_t n = uint32_t{r[i]} << 16;
    w[0] = kAlphabet[n >> 18];
    w[1] = kAlphabet[(n >> 12) & 63];
    w[2] = '=';
    w[3] = '=';
  } else if (rest == 2) {
    const uint32_t n = uint32_t{r[i]} << 16 | uint32_t{r[i + 1]} << 8;
    w[0] = kAlphabet[n >> 18];
    w[1] = kAlphabet[(n >> 12) & 63];
    w[2] = kAlphabet[(n >> 6) & 63];
    w[3] = '=';
  }
  return out;
}

void AppendBase64Decoded(std::string_view text, std::string& out) {
  if (IsBlank(text)) return;
  // Line breaks may stand anywhere, even inside a group; drop them first.
  const auto is_break = [](char c) { return c == '\r' || c == '\n'; };
  const bool has_breaks = std::memchr(text.data(), '\r', text.size()) != nullptr ||
                          std::memchr(text.data(), '\n', text.size()) != nullptr;
  if (!has_breaks) {
    DecodeBase64Unbroken(text, out);
    return;
  }
  std::string joined;
  joined.reserve(text.size());
  for (char c : text) {
    if (!is_break(c)) joined.push_back(c);
  }
  DecodeBase64Unbroken(joined, out);
}

std::string DecodeBase64Text(std::string_view text) {
  std::string out;
  AppendBase64Decoded(text, out);
  return out;
}

void AppendQuotedPrintableDecoded(std::string_view text, std::string& out) {
  if (IsBlank(text)) return;
  out.reserve(out.size() + text.size());
  size_t i = 0;
  const size_t size = text.size();
  while (i < size) {
    const void* hit = std::memchr(text.data() + i, '=', size - i);
    if (hit == nullptr) {
      out.append(text.data() + i, size - i);
      break;
    }
    const size_t eq = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
    out.append(text.data() + i, eq - i);
    if (size - eq < 3) {
      // An escape cut off by the end of the text: keep the byte after "=", if any.
      if (size - eq == 2) out.push_back(text[eq + 1]);
      break;
    }
    const char a = text[eq + 1];
    const char b = text[eq + 2];
    const int hi = kHex[static_cast<unsigned char>(a)];
    const int lo = kHex[static_cast<unsigned char>(b)];
    if (hi >= 0 && lo >= 0) {
      out.push_back(static_cast<char>(hi << 4 | lo));
    } else if (a == '\r' && b == '\n') {
      // Soft line break (RFC 2045 section 6.7, rule 5).
    } else {
      // Not an escape after all: leave it in the text as written.
      out.push_back('=');
      out.push_back(a);
      out.push_back(b);
    }
    i = eq + 3;
  }
}

std::string DecodeQuotedPrintableText(std::string_view text) {
  std::string out;
  AppendQuotedPrintableDecoded(text, out);
  return out;
}

}  // namespace brevan
