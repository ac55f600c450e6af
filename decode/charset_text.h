#pragma once
// Text in a MIME character set to Unicode (UTF-8), through ICU converters.
//
// Labels are read the way senders use them, not the way the registry spells
// them: GB2312 and GBK text is GB18030 in practice, Big5 is code page 950,
// Big5-HKSCS is HKSCS, and ks_c_5601-1987 (and EUC-KR) is code page 949.
// Every other label is whatever ICU makes of it.
#include <string>
#include <string_view>

namespace brevan {

// True when the label names a character set that can be converted.
bool IsKnownCharset(std::string_view label);

// Appends the bytes, read in the labelled character set, to out as UTF-8. A
// byte sequence the set does not define becomes U+FFFD. False, with nothing
// appended, when the label is unknown.
bool AppendCharsetAsUtf8(std::string_view label, std::string_view bytes, std::string& out);

// Well-formed UTF-8: no stray continuation byte, no truncated, overlong or
// surrogate sequence, nothing above U+10FFFF.
bool IsValidUtf8(std::string_view text);

}  // namespace brevan
