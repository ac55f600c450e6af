#pragma once
#include <string>
#include <string_view>

namespace brevan {

// The program's one tokenizer. Finds the first occurrence of separator in
// source (case-sensitive). For the single NUL separator the search is a plain
// byte search over all of source; otherwise it stops at the first NUL of
// source and never accepts an occurrence that starts on the trail byte of a
// double-byte character. An empty separator or source is never found.
// Found: returns the text before it; with remove, source loses that text and
// the separator. Not found: returns all of source; with remove, source
// becomes empty.
std::string SplitToken(std::string& source, std::string_view separator, bool remove);

// The 0-based position of the first occurrence of needle in text at or after
// from that starts on a character boundary (never on a trail byte), or npos.
size_t FindCharAware(std::string_view text, std::string_view needle, size_t from = 0);

}  // namespace brevan
