#pragma once
// Server text is untrusted: every line a server sent that the user sees in a
// message box (a refused USER, PASS, TOP or RETR, a bad number) goes through
// SanitizeServerLine first.
#include <cstddef>
#include <string>
#include <string_view>

namespace brevan {

// The most bytes of a server line a message box shows.
inline constexpr size_t kMaxShownServerBytes = 512;

// The line made fit for a message box: every byte below 0x20 and DEL becomes
// "?", also right after a double-byte lead byte (a lead byte without a valid
// trail byte after it becomes "?" as well, so it cannot swallow its
// neighbour); a line longer than kMaxShownServerBytes is cut at a character
// boundary at or before that many bytes and "..." is added.
std::string SanitizeServerLine(std::string_view line);

}  // namespace brevan
