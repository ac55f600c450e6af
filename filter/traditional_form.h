#pragma once
// Simplified Chinese written in Traditional characters, so that a rule
// written in one script also finds the same words in the other.
#include <string>
#include <string_view>

namespace brevan {

// The UTF-8 text with its Simplified characters replaced by Traditional ones
// (ICU's "Simplified-Traditional" transliteration); every other character
// stays. Text without Han characters comes back unchanged at once.
std::string TraditionalForm(std::string_view utf8);

}  // namespace brevan
