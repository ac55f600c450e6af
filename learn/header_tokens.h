#pragma once
// The words a learned judgement sees in one message: tokens taken from its
// header block alone (what "top n 0" returns, or a file up to its first empty
// line). Every token carries the header it came from, so "subject:free" and
// "from:free" are different words.
//
// Texts are decoded to UTF-8 (MIME encoded words in any charset ICU knows;
// raw bytes that are not UTF-8 are read as Latin-1) and ASCII letters are
// lower-cased. Chinese, Japanese and Korean text has no blanks between words,
// so a run of such characters becomes its overlapping two-character pieces.
//
// The header block is untrusted and may be anything: only its first
// kMaxHeaderBytes are looked at, a token is at most kMaxTokenBytes long
// (longer ones become a "skip" token telling their length), and a message
// gives at most kMaxTokensPerMessage distinct tokens.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

inline constexpr size_t kMaxHeaderBytes = 256 * 1024;
inline constexpr size_t kMaxTokenBytes = 48;
inline constexpr size_t kMaxTokensPerMessage = 600;

// The distinct tokens of one header block, in the order first seen, in one
// buffer: judging a listing of thousands of messages makes no string per
// token. Past kMaxTokensPerMessage, later tokens are dropped.
class TokenList {
 public:
  size_t size() const { return views_.size(); }
  bool empty() const { return views_.empty(); }
  std::string_view operator[](size_t i) const { return views_[i]; }
  std::vector<std::string_view>::const_iterator begin() const { return views_.begin(); }
  std::vector<std::string_view>::const_iterator end() const { return views_.end(); }

 private:
  friend class TokenSink;
  std::string text_;
  std::vector<std::pair<uint32_t, uint32_t>> spans_;  // offset and length in text_
  std::vector<std::string_view> views_;
  std::vector<uint32_t> table_;  // Finish's table of repeats
};

// Fills tokens (its old contents go; its buffers are reused).
void TokenizeHeaderBlock(std::string_view headerBlock, TokenList& tokens);

// The same tokens as strings, sorted.
std::vector<std::string> HeaderTokens(std::string_view headerBlock);

// The header block of a message file's bytes: everything before the first
// empty line (CR LF, LF or a lone CR end a line), or the whole text when there
// is none. A leading mailbox "From " separator line is not part of it.
std::string_view HeaderBlockOf(std::string_view messageBytes);

// Decodes the MIME encoded words of one header value (RFC 2047) into UTF-8;
// the rest of the value is taken as UTF-8 when it is, else as Latin-1.
std::string DecodeHeaderToUtf8(std::string_view value);

}  // namespace brevan
