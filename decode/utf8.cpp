#include "decode/utf8.h"

#include "common/codepage.h"

#include <limits>

namespace brevan {
namespace {

inline bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

unsigned Utf8ToWideBuffer(char16_t* dest, unsigned capacity, const unsigned char* source,
                          unsigned length) {
  if (source == nullptr) return 0;
  if (dest == nullptr || capacity == 0) return 0;
  unsigned i = 0;
  unsigned k = 0;
  while (i < length && k < capacity) {
    const unsigned char b = source[i++];
    char16_t unit;
    if (b < 0x80) {
      unit = b;
    } else if (b >= 0xC0 && b <= 0xDF) {
      if (i >= length || !IsContinuation(source[i])) return kUtf8Malformed;
      unit = static_cast<char16_t>((b & 0x1F) << 6 | (source[i] & 0x3F));
      i += 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      if (length - i < 2 || !IsContinuation(source[i]) || !IsContinuation(source[i + 1])) {
        return kUtf8Malformed;
      }
      unit = static_cast<char16_t>((b & 0x0F) << 12 | (source[i] & 0x3F) << 6 | (source[i + 1] & 0x3F));
      i += 2;
    } else {
      // A continuation byte where a lead belongs, or a four-byte lead and up:
      // characters beyond the BMP have no single unit.
      return kUtf8Malformed;
    }
    dest[k++] = unit;
  }
  if (k >= capacity) k = capacity - 1;
  dest[k] = 0;
  return k + 1;
}

std::u16string Utf8ToWideText(std::string_view text) {
  if (text.empty()) return {};
  // The count is unsigned 32-bit; a text beyond that is cut short rather
  // than wrapped around.
  const size_t limit = std::numeric_limits<unsigned>::max() - 1;
  const unsigned length = static_cast<unsigned>(text.size() < limit ? text.size() : limit);
  // Every unit takes at least one byte, so length + 1 units always suffice.
  std::u16string out(size_t{length} + 1, u'\0');
  const unsigned count = Utf8ToWideBuffer(out.data(), length + 1,
                                          reinterpret_cast<const unsigned char*>(text.data()), length);
  if (count == 0 || count == kUtf8Malformed) return {};
  out.resize(count - 1);
  return out;
}

std::string Utf8ToAnsiText(std::string_view text) {
  const std::u16string wide = Utf8ToWideText(text);
  if (wide.empty()) return {};
  return WideToAnsi(wide);
}

}  // namespace brevan
