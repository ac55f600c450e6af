#pragma once
// The rule line written when the user adds a message's subject to the rules.
#include <optional>
#include <string>
#include <string_view>

namespace brevan {

// The rule for a Unicode (UTF-8) subject, in the code page of the rule file:
// the subject itself when Big5 has all its characters, else its Traditional
// form when Big5 has all of those. Line breaks and NULs become "*", so the
// rule stays one line and still hits the subject it came from. Nothing when
// neither form can be written in Big5: a rule with "?" in place of a
// character would not hit its own subject.
std::optional<std::string> RuleFromSubject(std::string_view utf8Subject);

}  // namespace brevan
