#include "decode/header_decoder.h"

#include "common/codepage.h"
#include "common/trim.h"
#include "decode/codecs.h"
#include "decode/utf8.h"

#include <cstring>

namespace brevan {
namespace {

enum class Encoding { kBase64, kQ };
enum class After { kNothing, kTrim, kFromUtf8 };

struct WordKind {
  std::string_view prefix;  // lower case; compared with the lower-cased value
  Encoding encoding;
  After after;
};

// Tried in this order at every position. No prefix begins another, so at
// most one can match. Only these ten are recognised: any other charset
// (gbk, utf8, big5-hkscs, ...) stays in the text as written.
constexpr WordKind kKinds[] = {
    {"=?big5?b?", Encoding::kBase64, After::kTrim},
    {"=?big5?q?", Encoding::kQ, After::kNothing},
    {"=?gb2312?b?", Encoding::kBase64, After::kTrim},
    {"=?gb2312?q?", Encoding::kQ, After::kNothing},
    {"=?utf-8?b?", Encoding::kBase64, After::kFromUtf8},
    {"=?utf-8?q?", Encoding::kQ, After::kFromUtf8},
    {"=?iso-8859-1?b?", Encoding::kBase64, After::kNothing},
    {"=?iso-8859-1?q?", Encoding::kQ, After::kNothing},
    {"=?iso-8859-2?b?", Encoding::kBase64, After::kNothing},
    {"=?iso-8859-2?q?", Encoding::kQ, After::kNothing},
};

// The shortest prefix; fewer characters left than this can start no word.
constexpr size_t kShortestPrefix = 9;

inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithFolded(std::string_view text, size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[at + i]) != prefix[i]) return false;
  }
  return true;
}

const WordKind* MatchPrefix(std::string_view text, size_t at) {
  for (const WordKind& kind : kKinds) {
    if (StartsWithFolded(text, at, kind.prefix)) return &kind;
  }
  return nullptr;
}

// `scratch` and `q_text` are buffers reused from word to word.
void AppendWord(const WordKind& kind, std::string_view encoded, std::string& out, std::string& scratch,
                std::string& q_text) {
  scratch.clear();
  if (kind.encoding == Encoding::kBase64) {
    AppendBase64Decoded(encoded, scratch);
  } else {
    // RFC 2047 section 4.2: "_" stands for a blank in Q words, whatever the
    // charset. An escaped "=5F" stays an underscore.
    q_text.assign(encoded);
    for (char& c : q_text) {
      if (c == '_') c = ' ';
    }
    AppendQuotedPrintableDecoded(q_text, scratch);
  }
  switch (kind.after) {
    case After::kNothing:
      out += scratch;
      break;
    case After::kTrim:
      out += TrimBlankView(scratch);
      break;
    case After::kFromUtf8:
      // Malformed UTF-8 converts to nothing, so the word adds nothing.
      out += Utf8ToAnsiText(scratch);
      break;
  }
}

}  // namespace

std::string DecodeHeaderText(std::string_view value) {
  // Like the codecs, a value of nothing but blanks gives nothing.
  if (IsBlank(value)) return {};
  std::string out;
  out.reserve(value.size());
  std::string scratch;
  std::string q_text;
  size_t p = 0;  // 0-based here
  const size_t size = value.size();
  while (p < size) {
    // Outside a word. Every prefix starts with "=?", so only an "=" can open
    // one; everything up to it is plain text.
    const void* hit = std::memchr(value.data() + p, '=', size - p);
    if (hit == nullptr) {
      out.append(value.data() + p, size - p);
      break;
    }
    const size_t eq = static_cast<size_t>(static_cast<const char*>(hit) - value.data());
    out.append(value.data() + p, eq - p);
    p = eq;
    const WordKind* kind = size - p >= kShortestPrefix ? MatchPrefix(value, p) : nullptr;
    if (kind == nullptr) {
      out.push_back('=');
      ++p;
      continue;
    }

    // Inside a word: the first "?=" whose "?" lies at or after the start of
    // the encoded text closes it. The "?" that ends the prefix never pairs
    // with a following "=". The encoded text's alphabet is not checked, and
    // no other prefix is looked for until the word closes.
    const size_t word_start = p;
    const size_t text_start = p + kind->prefix.size();
    size_t close = std::string_view::npos;
    for (size_t q = text_start; q + 1 < size; ++q) {
      const void* mark = std::memchr(value.data() + q, '?', size - 1 - q);
      if (mark == nullptr) break;
      q = static_cast<size_t>(static_cast<const char*>(mark) - value.data());
      if (value[q + 1] == '=') {
        close = q;
        break;
      }
    }
    if (close == std::string_view::npos) {
      // Still open at the end of the value: keep it as it stands rather than
      // lose the rest of the header.
      out.append(value.data() + word_start, size - word_start);
      break;
    }
    AppendWord(*kind, value.substr(text_start, close - text_start), out, scratch, q_text);
    p = close + 2;
  }
  return out;
}

std::string CleanSubjectText(std::string_view subject) {
  if (IsBlank(subject)) return {};
  std::string out;
  out.reserve(subject.size());
  bool after_space = false;
  const size_t size = subject.size();
  for (size_t i = 0; i < size; ++i) {
    const char c = subject[i];
    if (IsLeadByte(static_cast<unsigned char>(c)) && i + 1 < size) {
      // A double-byte character: its trail byte is never a "-", a quote or a
      // blank of its own.
      out.push_back(c);
      out.push_back(subject[++i]);
      after_space = false;
      continue;
    }
    // The removals come before the shortening, so "a - b" ends with one
    // space between the letters, not two.
    if (c == '-' || c == '"') continue;
    if (c == ' ') {
      if (after_space) continue;
      after_space = true;
    } else {
      after_space = false;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace brevan
