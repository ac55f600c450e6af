#pragma once
// The user's ANSI code page (950, Big5). Every text inside Brevan is a byte
// string in this code page; UTF-16 exists only at the widget boundary and in
// the UTF-8 conversion.
#include <string>
#include <string_view>

namespace brevan {

// True when the byte starts a double-byte character (the next byte is its
// trail byte and must never be taken for a single-byte character).
bool IsLeadByte(unsigned char byte);

// UTF-16 to the code page. A character the code page lacks becomes "?"; a 0
// unit becomes a NUL byte (the whole given length is converted).
std::string WideToAnsi(std::u16string_view text);

// Code page to UTF-16, for display.
std::u16string AnsiToWide(std::string_view text);

// Code page to UTF-8, for paths handed to the operating system.
std::string AnsiToUtf8(std::string_view text);

// UTF-8 (a path or a text from the operating system) to the code page.
std::string Utf8ToAnsi(std::string_view text);

// True when every character of the UTF-16 text exists in the code page, so
// WideToAnsi loses nothing.
bool FitsCodePage(std::u16string_view text);

}  // namespace brevan
