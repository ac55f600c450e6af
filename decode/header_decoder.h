#pragma once
// MIME encoded words (RFC 2047) in sender and subject header values.
#include <string>
#include <string_view>

namespace brevan {

// Decodes every recognised encoded word of one header value into display
// text in the ANSI code page. Ten charset/encoding prefixes are recognised
// (Big5, GB2312, UTF-8, ISO-8859-1 and ISO-8859-2, each with B and Q, any
// letter case); everything else, unknown charsets included, is copied byte
// for byte. A word still open at the end of the value is copied undecoded.
// A blank value (nothing but bytes of value 32 or less) gives empty text.
std::string DecodeHeaderText(std::string_view value);

// Cleans a decoded subject for display and matching: removes every "-" and
// every double quote, and shortens each run of spaces to one space. A blank
// subject gives empty text.
std::string CleanSubjectText(std::string_view subject);

}  // namespace brevan
