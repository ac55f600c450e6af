#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

// Cuts a text into lines: CR LF, a lone CR and a lone LF each end a line; the
// last line needs no line end, and a final line end adds no empty line.
std::vector<std::string> SplitTextLines(std::string_view text);

// As above, but a NUL byte ends the text first (the rule file and the viewers
// read text this way).
std::vector<std::string> SplitTextLinesToNul(std::string_view text);

// Every line followed by CR LF.
std::string JoinLinesCrLf(const std::vector<std::string>& lines);

}  // namespace brevan
