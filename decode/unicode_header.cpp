#include "decode/unicode_header.h"

#include "common/codepage.h"
#include "common/trim.h"
#include "decode/charset_text.h"

namespace brevan {
namespace {

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool IsLinearBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsAllBlank(std::string_view text) {
  for (char c : text) {
    if (!IsLinearBlank(c)) return false;
  }
  return true;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

struct EncodedWord {
  size_t end = 0;  // one past the closing "?="
  std::string_view charset;
  char encoding = 0;  // 'b' or 'q'
  std::string_view text;
};

// The encoded word that starts with the "=?" at `at`, if it is one.
bool ParseWord(std::string_view value, size_t at, EncodedWord& word) {
  const size_t nameStart = at + 2;
  const size_t nameEnd = value.find('?', nameStart);
  if (nameEnd == std::string_view::npos || nameEnd == nameStart) return false;
  std::string_view charset = value.substr(nameStart, nameEnd - nameStart);
  for (char c : charset) {
    if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return false;
  }
  // RFC 2231 section 5: "=?utf-8*zh-tw?B?...?=" names the language after "*".
  charset = charset.substr(0, charset.find('*'));
  if (charset.empty()) return false;
  if (value.size() - nameEnd < 3 || value[nameEnd + 2] != '?') return false;
  const char encoding = LowerAscii(value[nameEnd + 1]);
  if (encoding != 'b' && encoding != 'q') return false;
  const size_t textStart = nameEnd + 3;
  const size_t close = value.find("?=", textStart);
  if (close == std::string_view::npos) return false;
  const std::string_view text = value.substr(textStart, close - textStart);
  // RFC 2047 section 5: encoded text holds no "?" and no blank.
  for (char c : text) {
    if (c == '?' || IsLinearBlank(c)) return false;
  }
  word.end = close + 2;
  word.charset = charset;
  word.encoding = encoding;
  word.text = text;
  return true;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict Base64: the alphabet only, "=" padding only at the end and never
// more than completes the last group. Missing padding is forgiven (senders
// drop it), a lone sixth bit group is not.
bool DecodeBase64(std::string_view text, std::string& out) {
  size_t length = text.size();
  size_t padding = 0;
  while (length > 0 && text[length - 1] == '=' && padding < 2) {
    --length;
    ++padding;
  }
  if (length % 4 == 1) return false;
  if (padding > 0 && (length + padding) % 4 != 0) return false;
  unsigned bits = 0;
  int count = 0;
  for (size_t i = 0; i < length; ++i) {
    const int v = Base64Value(text[i]);
    if (v < 0) return false;
    bits = (bits << 6) | static_cast<unsigned>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return true;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// RFC 2047 section 4.2: "_" stands for a blank, "=" and two hexadecimal
// digits for a byte; an "=" without them makes the word malformed.
bool DecodeQ(std::string_view text, std::string& out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '_') {
      out.push_back(' ');
    } else if (c == '=') {
      if (text.size() - i < 3) return false;
      const int high = HexValue(text[i + 1]);
      const int low = HexValue(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else {
      out.push_back(c);
    }
  }
  return true;
}

bool SameCharset(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

class Decoder {
 public:
  explicit Decoder(std::string_view value) : value_(value) { out_.reserve(value.size() + value.size() / 2); }

  std::string Run() {
    size_t plain = 0;     // start of the text not yet given out
    bool afterWord = false;  // plain begins right after a decoded word
    size_t search = 0;
    std::string bytes;
    for (;;) {
      const size_t at = value_.find("=?", search);
      if (at == std::string_view::npos) break;
      EncodedWord word;
      bytes.clear();
      if (!ParseWord(value_, at, word) || !IsKnownCharset(word.charset) ||
          !(word.encoding == 'b' ? DecodeBase64(word.text, bytes) : DecodeQ(word.text, bytes))) {
        // Not a word after all: its "=?" is text, and the search goes on
        // right after it.
        search = at + 2;
        continue;
      }
      const std::string_view between = value_.substr(plain, at - plain);
      if (!(afterWord && IsAllBlank(between))) {
        FlushWords();
        AppendPlain(between);
      } else if (!SameCharset(charset_, word.charset)) {
        FlushWords();
      }
      charset_ = word.charset;
      pending_ += bytes;
      plain = search = word.end;
      afterWord = true;
    }
    FlushWords();
    AppendPlain(value_.substr(plain));
    return std::move(out_);
  }

 private:
  // Converts the joined bytes of the adjacent words of one set.
  void FlushWords() {
    if (charset_.empty()) return;
    AppendCharsetAsUtf8(charset_, pending_, out_);
    pending_.clear();
    charset_ = {};
  }

  void AppendPlain(std::string_view text) {
    if (text.empty()) return;
    if (IsAscii(text)) {
      out_.append(text);
      return;
    }
    if (plainUtf8_ < 0) plainUtf8_ = IsValidUtf8(value_) ? 1 : 0;
    if (plainUtf8_ == 1) {
      out_.append(text);
    } else {
      out_ += AnsiToUtf8(text);
    }
  }

  std::string_view value_;
  std::string out_;
  std::string_view charset_;  // of the pending words; empty when none
  std::string pending_;       // their decoded bytes
  int plainUtf8_ = -1;        // unknown until text outside words needs it
};

}  // namespace

std::string DecodeHeaderUnicode(std::string_view value) {
  if (IsBlank(value)) return {};
  if (value.find("=?") == std::string_view::npos && IsAscii(value)) return std::string(value);
  return Decoder(value).Run();
}

std::string CleanSubjectUnicode(std::string_view subject) {
  if (IsBlank(subject)) return {};
  // UTF-8 never uses a byte below 0x80 inside a multi-byte character, so a
  // byte-wise pass is character-wise.
  std::string out;
  out.reserve(subject.size());
  bool afterSpace = false;
  for (const char c : subject) {
    if (c == '-' || c == '"') continue;
    if (c == ' ') {
      if (afterSpace) continue;
      afterSpace = true;
    } else {
      afterSpace = false;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace brevan
