#pragma once
// Sender and subject header values decoded to Unicode (UTF-8), as their
// writers wrote them: the listing shows these, while DecodeHeaderText and
// CleanSubjectText (header_decoder.h) stay for code-page text.
#include <string>
#include <string_view>

namespace brevan {

// Decodes one header value to UTF-8.
//  - Encoded words (RFC 2047, "=?charset?B|Q?text?="; a language after "*" in
//    the charset, RFC 2231 section 5, is ignored) in any character set ICU
//    knows are decoded (charset_text.h says how labels are read).
//  - A word whose set is unknown, whose payload is not valid Base64 or Q, or
//    that never closes, stays as written.
//  - Blanks between two adjacent encoded words vanish (RFC 2047 section 6.2),
//    and adjacent words in one set are joined before conversion, so a
//    character split across two words comes out whole.
//  - Text outside encoded words is read as UTF-8 when the whole value is
//    valid UTF-8, otherwise as code page 950.
// The result is always valid UTF-8. A blank value gives empty text.
std::string DecodeHeaderUnicode(std::string_view value);

// CleanSubjectText for UTF-8: removes every "-" and every double quote, and
// shortens each run of spaces to one space. A blank subject gives empty text.
std::string CleanSubjectUnicode(std::string_view subject);

}  // namespace brevan
