#include "filter/traditional_form.h"

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <memory>

namespace brevan {
namespace {

// Han characters lie in U+3400..U+9FFF (lead bytes E3 to E9) and in the
// supplementary ideographic planes (lead byte F0); a text without those bytes
// has nothing to transliterate.
bool MayHoldHan(std::string_view utf8) {
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 0xE3 && b <= 0xE9) || b == 0xF0) return true;
  }
  return false;
}

// A transliterator is not safe to share between threads; each keeps its own.
// Null when the ICU data lacks the transliteration: the text then has no
// second form.
icu::Transliterator* SimplifiedToTraditional() {
  thread_local std::unique_ptr<icu::Transliterator> transliterator = [] {
    UErrorCode err = U_ZERO_ERROR;
    std::unique_ptr<icu::Transliterator> t(
        icu::Transliterator::createInstance(icu::UnicodeString("Simplified-Traditional", -1, US_INV), UTRANS_FORWARD, err));
    if (U_FAILURE(err)) t.reset();
    return t;
  }();
  return transliterator.get();
}

}  // namespace

std::string TraditionalForm(std::string_view utf8) {
  if (!MayHoldHan(utf8)) return std::string(utf8);
  icu::Transliterator* transliterator = SimplifiedToTraditional();
  if (!transliterator) return std::string(utf8);
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
  transliterator->transliterate(text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace brevan
