#include "decode/charset_text.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace brevan {
namespace {

// Labels read as a wider set than they name, because that is what senders
// write under them. Compared after ASCII lower-casing.
struct Relabel {
  std::string_view label;
  const char* converter;
};
constexpr Relabel kRelabels[] = {
    {"gb2312", "gb18030"},          {"gb_2312-80", "gb18030"},      {"csgb2312", "gb18030"},
    {"euc-cn", "gb18030"},          {"x-euc-cn", "gb18030"},        {"cn-gb", "gb18030"},
    {"gbk", "gb18030"},             {"x-gbk", "gb18030"},           {"cp936", "gb18030"},
    {"ms936", "gb18030"},           {"windows-936", "gb18030"},     {"big5", "windows-950-2000"},
    {"csbig5", "windows-950-2000"}, {"x-x-big5", "windows-950-2000"}, {"cn-big5", "windows-950-2000"},
    {"big5-hkscs", "ibm-1375_P100-2008"}, {"big5hkscs", "ibm-1375_P100-2008"},
    {"ks_c_5601-1987", "windows-949-2000"}, {"ks_c_5601-1989", "windows-949-2000"},
    {"ks_c_5601", "windows-949-2000"},      {"ksc5601", "windows-949-2000"},
    {"ksc_5601", "windows-949-2000"},       {"euc-kr", "windows-949-2000"},
    {"cseuckr", "windows-949-2000"},        {"cp949", "windows-949-2000"},
};

// A label longer than this is no character set name (the longest ICU alias
// is well under it); it is not worth a converter lookup.
constexpr size_t kLongestLabel = 40;
// Converters kept per thread. Labels come from the server, so a mailbox full
// of invented ones must not grow the cache without bound.
constexpr size_t kCacheLimit = 64;

struct ConverterCloser {
  void operator()(UConverter* c) const {
    if (c) ucnv_close(c);
  }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

ConverterPtr OpenConverter(const std::string& label) {
  const char* name = label.c_str();
  for (const Relabel& r : kRelabels) {
    if (r.label == label) {
      name = r.converter;
      break;
    }
  }
  UErrorCode err = U_ZERO_ERROR;
  UConverter* c = ucnv_open(name, &err);
  if (U_FAILURE(err)) {
    if (c) ucnv_close(c);
    return nullptr;
  }
  // Undefined sequences become U+FFFD (the default substitutes U+001A for
  // some single-byte sets).
  err = U_ZERO_ERROR;
  ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &err);
  return ConverterPtr(c);
}

// The converter for a label, or null when ICU does not know it. ICU
// converters are not thread-safe: each thread keeps its own.
UConverter* ConverterFor(std::string_view label) {
  if (label.empty() || label.size() > kLongestLabel) return nullptr;
  // "=" would start ICU's option syntax; no charset name holds one, nor a NUL.
  if (label.find_first_of(std::string_view("=,\0", 3)) != std::string_view::npos) return nullptr;
  thread_local std::unordered_map<std::string, ConverterPtr> cache;
  std::string key = LowerAscii(label);
  auto it = cache.find(key);
  if (it == cache.end()) {
    if (cache.size() >= kCacheLimit) cache.clear();
    ConverterPtr converter = OpenConverter(key);
    it = cache.emplace(std::move(key), std::move(converter)).first;
  }
  if (it->second) ucnv_reset(it->second.get());
  return it->second.get();
}

void AppendUtf16AsUtf8(const UChar* units, int32_t count, std::string& out) {
  if (count <= 0) return;
  const size_t start = out.size();
  out.resize(start + static_cast<size_t>(count) * 3);
  int32_t written = 0;
  UErrorCode err = U_ZERO_ERROR;
  // Lone surrogates (a converter never makes them, but UTF-16 input could)
  // become U+FFFD, so the result is always well-formed.
  u_strToUTF8WithSub(out.data() + start, count * 3, &written, units, count, 0xFFFD, nullptr, &err);
  out.resize(U_FAILURE(err) ? start : start + static_cast<size_t>(written));
}

}  // namespace

bool IsKnownCharset(std::string_view label) { return ConverterFor(label) != nullptr; }

bool AppendCharsetAsUtf8(std::string_view label, std::string_view bytes, std::string& out) {
  UConverter* converter = ConverterFor(label);
  if (!converter) return false;
  if (bytes.empty()) return true;
  if (ucnv_getType(converter) == UCNV_UTF8 && IsValidUtf8(bytes)) {
    out.append(bytes);
    return true;
  }
  // A byte gives at most one UTF-16 unit, except in sets where one byte maps
  // to a pair; twice the bytes and a little more always suffices.
  thread_local std::u16string units;
  units.resize(bytes.size() * 2 + 16);
  UErrorCode err = U_ZERO_ERROR;
  const int32_t count =
      ucnv_toUChars(converter, reinterpret_cast<UChar*>(units.data()), static_cast<int32_t>(units.size()),
                    bytes.data(), static_cast<int32_t>(bytes.size()), &err);
  if (U_FAILURE(err)) {
    out += "\xEF\xBF\xBD";  // cannot happen with the room given; say that something was here
    return true;
  }
  AppendUtf16AsUtf8(reinterpret_cast<const UChar*>(units.data()), count, out);
  return true;
}

bool IsValidUtf8(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;  // bounds of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;   // overlong
      if (b == 0xED) high = 0x9F;  // surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;   // overlong
      if (b == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    if (s[i + 1] < low || s[i + 1] > high) return false;
    for (size_t k = 2; k < length; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
    }
    i += length;
  }
  return true;
}

}  // namespace brevan
