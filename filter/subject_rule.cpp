#include "filter/subject_rule.h"

#include "common/codepage.h"
#include "filter/traditional_form.h"

#include <unicode/ustring.h>

namespace brevan {
namespace {

std::optional<std::u16string> Utf16(std::string_view utf8) {
  std::u16string wide(utf8.size() + 1, u'\0');
  int32_t length = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &length, utf8.data(),
                static_cast<int32_t>(utf8.size()), &err);
  if (U_FAILURE(err)) return std::nullopt;
  wide.resize(static_cast<size_t>(length));
  return wide;
}

// The text in the code page, when the code page has every character of it.
std::optional<std::string> InCodePage(std::string_view utf8) {
  const std::optional<std::u16string> wide = Utf16(utf8);
  if (!wide || !FitsCodePage(*wide)) return std::nullopt;
  return WideToAnsi(*wide);
}

}  // namespace

std::optional<std::string> RuleFromSubject(std::string_view utf8Subject) {
  std::optional<std::string> rule = InCodePage(utf8Subject);
  if (!rule) rule = InCodePage(TraditionalForm(utf8Subject));
  if (!rule) return std::nullopt;
  for (char& ch : *rule) {
    if (ch == '\r' || ch == '\n' || ch == '\0') ch = '*';
  }
  return rule;
}

}  // namespace brevan
