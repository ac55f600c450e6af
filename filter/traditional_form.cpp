#include "filter/traditional_form.h"

#include <unicode/translit.h>
#include <unicode/uniset.h>
#include <unicode/unistr.h>

#include <memory>

namespace brevan {
namespace {

// Han characters lie in U+3400..U+9FFF (lead bytes E3 to E9) and in the
// supplementary ideographic planes (lead byte F0); a text without those bytes
// has nothing to change.
bool MayHoldHan(std::string_view utf8) {
  for (const char c : utf8) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 0xE3 && b <= 0xE9) || b == 0xF0) return true;
  }
  return false;
}

std::unique_ptr<icu::Transliterator> NewTransliterator() {
  UErrorCode err = U_ZERO_ERROR;
  std::unique_ptr<icu::Transliterator> transliterator(icu::Transliterator::createInstance(
      icu::UnicodeString("Simplified-Traditional", -1, US_INV), UTRANS_FORWARD, err));
  if (U_FAILURE(err)) transliterator.reset();
  return transliterator;
}

// The characters that ICU's "Simplified-Traditional" changes when they stand
// alone, read out once over the set it may change. Running the
// transliterator costs microseconds a subject, checking a subject against
// this set next to nothing; a subject with none of them is Traditional
// already (or written alike in both scripts) and is not transliterated.
// Empty when the ICU data lacks the transliteration: no text then has a
// second form.
icu::UnicodeSet ReadChangedCharacters() {
  icu::UnicodeSet changed;
  std::unique_ptr<icu::Transliterator> transliterator = NewTransliterator();
  if (transliterator) {
    icu::UnicodeSet source;
    transliterator->getSourceSet(source);
    const int32_t ranges = source.getRangeCount();
    for (int32_t r = 0; r < ranges; ++r) {
      for (UChar32 c = source.getRangeStart(r); c <= source.getRangeEnd(r); ++c) {
        icu::UnicodeString one(c);
        transliterator->transliterate(one);
        if (one != icu::UnicodeString(c)) changed.add(c);
      }
    }
  }
  changed.freeze();
  return changed;
}

const icu::UnicodeSet& ChangedCharacters() {
  static const icu::UnicodeSet changed = ReadChangedCharacters();
  return changed;
}

}  // namespace

std::string TraditionalForm(std::string_view utf8) {
  if (!MayHoldHan(utf8)) return std::string(utf8);
  const auto length = static_cast<int32_t>(utf8.size());
  if (ChangedCharacters().spanUTF8(utf8.data(), length, USET_SPAN_NOT_CONTAINED) == length) {
    return std::string(utf8);
  }
  // Not safe to share between threads: each keeps its own. The whole text
  // goes through it, so its rules for words ("头发" to "頭髮") apply.
  thread_local std::unique_ptr<icu::Transliterator> transliterator = NewTransliterator();
  if (!transliterator) return std::string(utf8);
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), length));
  transliterator->transliterate(text);
  std::string out;
  text.toUTF8String(out);
  return out;
}

}  // namespace brevan
