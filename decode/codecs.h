#pragma once
// Base64 and quoted-printable (RFC 2045 section 6.8 and 6.7), as used for the
// text of encoded words, the preview pane's decode commands and the stored
// account passwords.
//
// All three take and return byte strings and never fail. Input that is empty
// once bytes of value 32 or less are trimmed from both ends gives empty
// output; any other input is worked on untrimmed.
#include <string>
#include <string_view>

namespace brevan {

// Standard alphabet with "=" padding, one unbroken line.
std::string EncodeBase64Text(std::string_view text);

// Lenient: CR and LF are ignored wherever they stand, characters outside the
// alphabet are folded in rather than rejected, and missing padding is fine.
std::string DecodeBase64Text(std::string_view text);

// Lenient: broken escapes stay in the text as written; "_" is an ordinary byte.
std::string DecodeQuotedPrintableText(std::string_view text);

// The same decoders appending to an existing buffer, for callers that decode
// many short texts in a row (the header decoder). The blank-input rule applies.
void AppendBase64Decoded(std::string_view text, std::string& out);
void AppendQuotedPrintableDecoded(std::string_view text, std::string& out);

}  // namespace brevan
