// libFuzzer target for the decoders that take server text: the two header
// decoders (code page and Unicode) and the two codecs. The first byte picks the function, the rest is
// its input; every path must end without a crash or a sanitizer report, and
// the results must hold the few facts that are true for any input.
#include "decode/charset_text.h"
#include "decode/codecs.h"
#include "decode/header_decoder.h"
#include "decode/unicode_header.h"
#include "decode/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 5) {
    case 0: {
      const std::string out = brevan::DecodeHeaderText(text);
      (void)brevan::CleanSubjectText(out);
      break;
    }
    case 1: {
      const std::string out = brevan::DecodeBase64Text(text);
      if (out.size() > text.size() / 4 * 3 + 3) std::abort();
      break;
    }
    case 2: {
      const std::string out = brevan::DecodeQuotedPrintableText(text);
      if (out.size() > text.size()) std::abort();
      break;
    }
    case 3: {
      // The list's text is valid UTF-8 whatever the server sent.
      const std::string out = brevan::CleanSubjectUnicode(brevan::DecodeHeaderUnicode(text));
      if (!brevan::IsValidUtf8(out)) std::abort();
      break;
    }
    default: {
      // Whatever is encoded comes back.
      const std::string encoded = brevan::EncodeBase64Text(text);
      if (!encoded.empty() && brevan::DecodeBase64Text(encoded) != text) std::abort();
      (void)brevan::Utf8ToAnsiText(text);
      break;
    }
  }
  return 0;
}
