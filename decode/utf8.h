#pragma once
// UTF-8 to UTF-16 and on to the user's ANSI code page, for the text of UTF-8
// encoded words.
//
// Strict about structure, lenient about ranges: a truncated sequence, a stray
// continuation byte or any four-byte sequence (a character above U+FFFF)
// makes the whole text malformed, while overlong forms and surrogate code
// points are decoded by their bits (C0 80 gives 0, ED A0 80 gives 0xD800).
#include <string>
#include <string_view>

namespace brevan {

// Returned by Utf8ToWideBuffer for malformed input.
inline constexpr unsigned kUtf8Malformed = ~0u;

// Converts `length` bytes at `source` into at most `capacity` units at `dest`,
// the last of them a terminating 0, and returns the units written including
// that terminator. A null source gives 0, and so does a null destination or a
// capacity of 0 (there is no room even for the terminator). Malformed input
// gives kUtf8Malformed; the buffer's contents are then of no use. A capacity
// of length + 1 always suffices; a smaller one cuts the text short.
unsigned Utf8ToWideBuffer(char16_t* dest, unsigned capacity, const unsigned char* source,
                          unsigned length);

// The whole text as UTF-16; empty when the text is malformed.
std::u16string Utf8ToWideText(std::string_view text);

// The whole text in the ANSI code page; characters the code page lacks become
// "?", a 0 unit becomes a NUL byte. Empty when the text is malformed.
std::string Utf8ToAnsiText(std::string_view text);

}  // namespace brevan
