#pragma once
#include <string>
#include <string_view>

namespace brevan {

// Blanks are the bytes of value 32 or less (space, tab, CR, LF, NUL and the
// other control bytes). These trims remove them from both ends.
std::string_view TrimBlankView(std::string_view text);
std::string TrimBlank(std::string_view text);
// True when the text is empty once trimmed.
bool IsBlank(std::string_view text);

// ASCII-only lower-casing ("A" to "Z"); every other byte stays.
std::string AsciiLower(std::string_view text);

}  // namespace brevan
