// Throughput of the decoders on inputs far larger than any header or preview
// selection: 10 MB of Base64 in 76-character lines, 10 MB of
// quoted-printable, and a 1 MB header value made of encoded words; and the
// listing's own load: 5,000 subjects in mixed character sets decoded to
// Unicode and cleaned up (target: under 20 ms).
#include "decode/codecs.h"
#include "decode/header_decoder.h"
#include "decode/unicode_header.h"
#include "decode/utf8.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string RandomBytes(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::string Base64Lines(size_t target) {
  const std::string encoded = brevan::EncodeBase64Text(RandomBytes(target / 4 * 3, 1));
  std::string lines;
  lines.reserve(encoded.size() + encoded.size() / 76 * 2 + 2);
  for (size_t i = 0; i < encoded.size(); i += 76) {
    lines.append(encoded, i, 76);
    lines += "\r\n";
  }
  return lines;
}

std::string QuotedPrintable(size_t target) {
  // Mostly text with escapes and soft breaks, as a mailer writes it.
  std::mt19937 gen(2);
  std::string s;
  s.reserve(target + 80);
  size_t column = 0;
  while (s.size() < target) {
    const unsigned r = gen() % 10;
    if (r < 7) {
      s += static_cast<char>('a' + gen() % 26);
      ++column;
    } else if (r < 9) {
      static const char kHex[] = "0123456789ABCDEF";
      const unsigned b = 0x80 + gen() % 0x80;
      s += '=';
      s += kHex[b >> 4];
      s += kHex[b & 15];
      column += 3;
    } else {
      s += ' ';
      ++column;
    }
    if (column >= 72) {
      s += "=\r\n";
      column = 0;
    }
  }
  return s;
}

std::string HeaderOfWords(size_t target) {
  const std::string words[] = {
      "=?big5?B?pKSk5bT6uNU=?=", "=?UTF-8?B?5pyD6K2w6YCa55+l?=", "=?utf-8?q?caf=C3=A9_au_lait?=",
      "=?gb2312?B?xOO6ww==?=", "=?iso-8859-1?Q?Gr=FC=DFe?=", "plain text"};
  std::string s;
  s.reserve(target + 64);
  for (size_t i = 0; s.size() < target; ++i) {
    s += words[i % std::size(words)];
    s += ' ';
  }
  return s;
}

void BM_DecodeBase64(benchmark::State& state) {
  const std::string text = Base64Lines(10 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(brevan::DecodeBase64Text(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeBase64)->Unit(benchmark::kMillisecond);

void BM_EncodeBase64(benchmark::State& state) {
  const std::string bytes = RandomBytes(10 << 20, 3);
  for (auto _ : state) benchmark::DoNotOptimize(brevan::EncodeBase64Text(bytes));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_EncodeBase64)->Unit(benchmark::kMillisecond);

void BM_DecodeQuotedPrintable(benchmark::State& state) {
  const std::string text = QuotedPrintable(10 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(brevan::DecodeQuotedPrintableText(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_DecodeQuotedPrintable)->Unit(benchmark::kMillisecond);

void BM_DecodeHeader(benchmark::State& state) {
  const std::string value = HeaderOfWords(1 << 20);
  for (auto _ : state) benchmark::DoNotOptimize(brevan::DecodeHeaderText(value));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * value.size()));
}
BENCHMARK(BM_DecodeHeader)->Unit(benchmark::kMillisecond);

void BM_Utf8ToWide(benchmark::State& state) {
  std::string text;
  while (text.size() < (10u << 20)) text += "Brevan \xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9 ";
  for (auto _ : state) benchmark::DoNotOptimize(brevan::Utf8ToWideText(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Utf8ToWide)->Unit(benchmark::kMillisecond);

// Subjects as a mailbox of mixed origin sends them: plain ASCII, raw Big5,
// and encoded words in Chinese, Japanese, Korean, Cyrillic and Latin sets, in
// B and Q, some split in two.
std::vector<std::string> MixedSubjects(int count) {
  const std::string samples[] = {
      "Weekly status report",
      "=?gb2312?B?NTDUqrvxtcPSu9LazuXHp83yRU1BSUy12Na3tcS7+rvh?=",
      "=?big5?B?t3zEs7Nxqr4gqfqk0Q==?=",
      "=?utf-8?B?5Y2I6aSQIPCfjbEg5ZCD5LuA6bq8?=",
      "Re: =?UTF-8?Q?caf=C3=A9_au_lait?=",
      "=?iso-2022-jp?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=",
      "=?shift_jis?B?g1yDdINng0WDRoNBlVyOpg==?=",
      "=?euc-kr?B?vsiz58fPvLy/5A==?=",
      "=?koi8-r?Q?=F0=D2=C9=D7=C5=D4_=CD=C9=D2?=",
      "=?windows-1251?B?x+Tw4OLx8uLz6fLl?=",
      "=?iso-8859-1?Q?J=F8rgen_=C6r=F8?=",
      "=?gbk?B?w+K30bei?= =?gbk?B?xrE=?=",
      "\xB7\x7C\xC4\xB3\xB3\x71\xAA\xBE",
      "=?utf-8?B?5Lg=?= =?utf-8?B?rQ==?= news",
  };
  std::vector<std::string> subjects;
  subjects.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) subjects.push_back(samples[i % std::size(samples)] + " #" + std::to_string(i));
  return subjects;
}

void BM_DecodeSubjectsUnicode(benchmark::State& state) {
  const std::vector<std::string> subjects = MixedSubjects(5000);
  for (auto _ : state) {
    for (const std::string& subject : subjects) {
      benchmark::DoNotOptimize(brevan::CleanSubjectUnicode(brevan::DecodeHeaderUnicode(subject)));
    }
  }
  state.counters["subjects"] = static_cast<double>(subjects.size());
}
BENCHMARK(BM_DecodeSubjectsUnicode)->Unit(benchmark::kMillisecond);

// The same 5,000 subjects through the code-page decoder, for comparison.
void BM_DecodeSubjectsCodePage(benchmark::State& state) {
  const std::vector<std::string> subjects = MixedSubjects(5000);
  for (auto _ : state) {
    for (const std::string& subject : subjects) {
      benchmark::DoNotOptimize(brevan::CleanSubjectText(brevan::DecodeHeaderText(subject)));
    }
  }
}
BENCHMARK(BM_DecodeSubjectsCodePage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
