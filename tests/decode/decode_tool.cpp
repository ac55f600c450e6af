// decode_tool <mode>: runs one decoding function over many inputs, for the
// cross-check against Python's codecs. Input and output are records on
// stdin and stdout: a 4-byte little-endian length, then that many bytes.
// Modes: b64enc, b64dec, qpdec, utf8wide (output as UTF-16LE).
#include "decode/codecs.h"
#include "decode/utf8.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

bool ReadRecord(std::string& out) {
  unsigned char head[4];
  if (std::fread(head, 1, 4, stdin) != 4) return false;
  const uint32_t n = uint32_t{head[0]} | uint32_t{head[1]} << 8 | uint32_t{head[2]} << 16 | uint32_t{head[3]} << 24;
  out.resize(n);
  return n == 0 || std::fread(out.data(), 1, n, stdin) == n;
}

void WriteRecord(const void* data, size_t n) {
  const unsigned char head[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                 static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
  std::fwrite(head, 1, 4, stdout);
  std::fwrite(data, 1, n, stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: decode_tool b64enc|b64dec|qpdec|utf8wide < records\n");
    return 2;
  }
  const std::string mode = argv[1];
  if (mode != "b64enc" && mode != "b64dec" && mode != "qpdec" && mode != "utf8wide") {
    std::fprintf(stderr, "unknown mode %s\n", argv[1]);
    return 2;
  }
  std::string in;
  while (ReadRecord(in)) {
    if (mode == "utf8wide") {
      const std::u16string wide = brevan::Utf8ToWideText(in);
      std::string bytes;
      for (char16_t u : wide) {
        bytes += static_cast<char>(u & 0xFF);
        bytes += static_cast<char>(u >> 8);
      }
      WriteRecord(bytes.data(), bytes.size());
      continue;
    }
    const std::string out = mode == "b64enc"   ? brevan::EncodeBase64Text(in)
                            : mode == "b64dec" ? brevan::DecodeBase64Text(in)
                                               : brevan::DecodeQuotedPrintableText(in);
    WriteRecord(out.data(), out.size());
  }
  return 0;
}
