#include "common/codepage.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ustring.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace brevan {
namespace {

constexpr const char* kConverterName = "windows-950-2000";

struct ConverterCloser {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

ConverterPtr OpenConverter() {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* c = ucnv_open(kConverterName, &err);
  if (U_FAILURE(err) || c == nullptr) {
    throw std::runtime_error(std::string("Cannot open the code page converter ") + kConverterName);
  }
  err = U_ZERO_ERROR;
  ucnv_setSubstChars(c, "?", 1, &err);
  ucnv_setFallback(c, false);
  return ConverterPtr(c);
}

// ICU converters are not thread-safe; one per thread, reset before each use.
UConverter* Converter() {
  thread_local ConverterPtr converter = OpenConverter();
  ucnv_reset(converter.get());
  return converter.get();
}

const std::array<bool, 256>& LeadBytes() {
  static const std::array<bool, 256> table = [] {
    std::array<bool, 256> t{};
    UBool starters[256] = {};
    UErrorCode err = U_ZERO_ERROR;
    ucnv_getStarters(Converter(), starters, &err);
    if (U_FAILURE(err)) {
      // Code page 950 lead bytes, should the converter not tell.
      for (int b = 0x81; b <= 0xFE; ++b) t[b] = true;
    } else {
      for (int b = 0; b < 256; ++b) t[b] = starters[b] != 0;
    }
    return t;
  }();
  return table;
}

}  // namespace

bool IsLeadByte(unsigned char byte) { return LeadBytes()[byte]; }

std::string WideToAnsi(std::u16string_view text) {
  if (text.empty()) return {};
  UConverter* conv = Converter();
  std::string out;
  // At most two bytes per unit in this code page; "?" for one unit is one byte.
  out.resize(text.size() * 2 + 8);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                              reinterpret_cast<const UChar*>(text.data()),
                              static_cast<int32_t>(text.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(n));
    err = U_ZERO_ERROR;
    ucnv_reset(conv);
    n = ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                        reinterpret_cast<const UChar*>(text.data()),
                        static_cast<int32_t>(text.size()), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return std::string(text.size(), '?');
  out.resize(static_cast<size_t>(n));
  return out;
}

std::u16string AnsiToWide(std::string_view text) {
  if (text.empty()) return {};
  UConverter* conv = Converter();
  std::u16string out;
  out.resize(text.size() + 8);
  UErrorCode err = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                            text.data(), static_cast<int32_t>(text.size()), &err);
  if (err == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(static_cast<size_t>(n));
    err = U_ZERO_ERROR;
    ucnv_reset(conv);
    n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), static_cast<int32_t>(out.size()),
                      text.data(), static_cast<int32_t>(text.size()), &err);
  }
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string AnsiToUtf8(std::string_view text) {
  std::u16string wide = AnsiToWide(text);
  if (wide.empty()) return {};
  std::string out(wide.size() * 3 + 4, '\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n,
                     reinterpret_cast<const UChar*>(wide.data()), static_cast<int32_t>(wide.size()),
                     0xFFFD, nullptr, &err);
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return {};
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Utf8ToAnsi(std::string_view text) {
  if (text.empty()) return {};
  std::u16string wide(text.size() + 1, u'\0');
  int32_t n = 0;
  UErrorCode err = U_ZERO_ERROR;
  u_strFromUTF8WithSub(reinterpret_cast<UChar*>(wide.data()), static_cast<int32_t>(wide.size()), &n,
                       text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &err);
  if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING) return {};
  wide.resize(static_cast<size_t>(n));
  return WideToAnsi(wide);
}

bool FitsCodePage(std::u16string_view text) {
  if (text.empty()) return true;
  UConverter* conv = Converter();
  UErrorCode err = U_ZERO_ERROR;
  // Stop at the first unmappable character instead of substituting it.
  ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &err);
  std::string out(text.size() * 2 + 8, '\0');
  err = U_ZERO_ERROR;
  ucnv_fromUChars(conv, out.data(), static_cast<int32_t>(out.size()),
                  reinterpret_cast<const UChar*>(text.data()), static_cast<int32_t>(text.size()), &err);
  bool ok = U_SUCCESS(err) || err == U_STRING_NOT_TERMINATED_WARNING;
  UErrorCode err2 = U_ZERO_ERROR;
  ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err2);
  return ok;
}

}  // namespace brevan
