#include "learn/header_tokens.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <unordered_map>

#include "decode/codecs.h"

namespace brevan {

namespace {

// More raw tokens than this are not even collected: a hostile block of a
// million words costs no more than a long honest one.
constexpr size_t kMaxRawTokens = 4 * kMaxTokensPerMessage;

}  // namespace

// Collects the raw tokens of one block into a TokenList's buffer; Finish
// sorts them, drops repeats and applies the cap.
class TokenSink {
 public:
  explicit TokenSink(TokenList& list) : list_(list) {
    list_.text_.clear();
    list_.spans_.clear();
    list_.views_.clear();
  }
  void Add(std::string_view prefix, std::string_view word) {
    if (list_.spans_.size() >= kMaxRawTokens || word.empty()) return;
    const auto offset = static_cast<uint32_t>(list_.text_.size());
    list_.text_.append(prefix);
    if (word.size() > kMaxTokenBytes) {
      // A long run of letters is itself a clue; its exact text is not.
      list_.text_.append("skip:");
      list_.text_.append(std::to_string(word.size() / 10 * 10));
    } else {
      list_.text_.append(word);
    }
    list_.spans_.emplace_back(offset, static_cast<uint32_t>(list_.text_.size() - offset));
  }
  void Finish() {
    // Repeats go through a small open-addressed table of the tokens kept so
    // far (sorting the tokens cost more than finding them).
    std::vector<std::string_view>& views = list_.views_;
    std::vector<uint32_t>& table = list_.table_;
    size_t capacity = 64;
    while (capacity < list_.spans_.size() * 2) capacity *= 2;
    table.assign(capacity, 0);
    views.reserve(list_.spans_.size());
    const std::hash<std::string_view> hash;
    for (const auto& [offset, length] : list_.spans_) {
      if (views.size() >= kMaxTokensPerMessage) break;
      const std::string_view token(list_.text_.data() + offset, length);
      size_t slot = hash(token) & (capacity - 1);
      for (;;) {
        const uint32_t held = table[slot];
        if (held == 0) {
          views.push_back(token);
          table[slot] = static_cast<uint32_t>(views.size());
          break;
        }
        if (views[held - 1] == token) break;
        slot = (slot + 1) & (capacity - 1);
      }
    }
  }

 private:
  TokenList& list_;
};

namespace {


// One header value is looked at up to this length (a folded Received line
// or a long To list is far shorter).
constexpr size_t kMaxValueBytes = 16 * 1024;

char AsciiLowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

std::string AsciiLowerCopy(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

// The same into a buffer that keeps its room from one header to the next.
const std::string& AsciiLowerInto(std::string& out, std::string_view text) {
  out.assign(text);
  for (char& c : out) c = AsciiLowerChar(c);
  return out;
}

bool IsBlankByte(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlankByte(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlankByte(text.back())) text.remove_suffix(1);
  return text;
}

// Length of the UTF-8 sequence at text[i], or 0 when it is not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto b = static_cast<unsigned char>(text[i]);
  size_t length = 0;
  if (b < 0x80) return 1;
  if (b >= 0xC2 && b <= 0xDF) length = 2;
  else if (b >= 0xE0 && b <= 0xEF) length = 3;
  else if (b >= 0xF0 && b <= 0xF4) length = 4;
  else return 0;
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
  }
  return length;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8SequenceLength(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void AppendLatin1(std::string_view text, std::string& out) {
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
}

void AppendRaw(std::string_view text, std::string& out) {
  if (IsUtf8(text)) {
    out.append(text);
  } else {
    AppendLatin1(text, out);
  }
}

// The charset's bytes as UTF-8 through ICU; false for a charset ICU does not
// know (the caller then keeps the bytes as they are).
bool AppendConverted(std::string_view charset, std::string_view bytes, std::string& out) {
  const std::string name(charset.substr(0, std::min<size_t>(charset.size(), 40)));
  if (bytes.empty()) return true;
  std::string converted(bytes.size() * 4 + 4, '\0');
  UErrorCode error = U_ZERO_ERROR;
  const int32_t written = ucnv_convert("UTF-8", name.c_str(), converted.data(), static_cast<int32_t>(converted.size()),
                                       bytes.data(), static_cast<int32_t>(bytes.size()), &error);
  if (U_FAILURE(error) || written < 0) return false;
  out.append(converted.data(), static_cast<size_t>(written));
  return true;
}

// One RFC 2047 encoded word at text[at] ("=?charset?X?text?="): its length,
// or 0 when none starts there.
size_t EncodedWordAt(std::string_view text, size_t at, std::string& decoded) {
  if (text.compare(at, 2, "=?") != 0) return 0;
  const size_t charsetEnd = text.find('?', at + 2);
  if (charsetEnd == std::string_view::npos || charsetEnd + 2 >= text.size() || text[charsetEnd + 2] != '?') return 0;
  const char encoding = AsciiLowerChar(text[charsetEnd + 1]);
  if (encoding != 'b' && encoding != 'q') return 0;
  const size_t end = text.find("?=", charsetEnd + 3);
  if (end == std::string_view::npos) return 0;
  std::string_view charset = text.substr(at + 2, charsetEnd - at - 2);
  // RFC 2231 section 5: a language may follow the charset after "*".
  charset = charset.substr(0, charset.find('*'));
  const std::string_view payload = text.substr(charsetEnd + 3, end - charsetEnd - 3);
  std::string bytes;
  if (encoding == 'b') {
    AppendBase64Decoded(payload, bytes);
  } else {
    // RFC 2047 section 4.2: "_" stands for a blank in Q words.
    std::string q(payload);
    std::replace(q.begin(), q.end(), '_', ' ');
    AppendQuotedPrintableDecoded(q, bytes);
  }
  decoded.clear();
  if (!AppendConverted(charset, bytes, decoded)) AppendRaw(bytes, decoded);
  return end + 2 - at;
}

// ---- the tokens ----

// Chinese, Japanese and Korean characters: written without blanks.
bool IsCjk(uint32_t cp) {
  return (cp >= 0x3040 && cp <= 0x30FF) || (cp >= 0x3400 && cp <= 0x4DBF) || (cp >= 0x4E00 && cp <= 0x9FFF) ||
         (cp >= 0xAC00 && cp <= 0xD7AF) || (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0x20000 && cp <= 0x2FFFF);
}

// Punctuation that ends a word; blanks do too. Characters such as "$", "%",
// "!" and "'" stay in the word: "$100" and "free!" say more than their parts.
bool IsWordBreak(uint32_t cp) {
  switch (cp) {
    case '"': case '(': case ')': case '<': case '>': case '[': case ']': case '{': case '}':
    case ',': case ';': case ':': case '|': case '*': case '=': case '?': case '/': case '\\':
      return true;
    default:
      break;
  }
  // Blanks and control characters, the ideographic space and full-width
  // punctuation around CJK text.
  return cp <= 32 || cp == 0x7F || cp == 0xA0 || cp == 0x3000 || (cp >= 0x3001 && cp <= 0x303F) ||
         (cp >= 0xFF01 && cp <= 0xFF0F) || (cp >= 0xFF1A && cp <= 0xFF20);
}

uint32_t DecodeAt(std::string_view text, size_t i, size_t& length) {
  length = Utf8SequenceLength(text, i);
  if (length == 0) {
    length = 1;
    return 0xFFFD;
  }
  const auto b = static_cast<unsigned char>(text[i]);
  if (length == 1) return b;
  uint32_t cp = b & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
  return cp;
}

// The words of a decoded text (UTF-8, ASCII already lower-cased): runs
// between breaks, trailing dots and dashes dropped; CJK runs in overlapping
// pairs, a lone CJK character on its own.
void AddTextWords(TokenSink& sink, std::string_view prefix, std::string_view text) {
  size_t wordStart = std::string_view::npos;
  std::vector<size_t> cjk;  // starts of the CJK characters of the current run, and its end
  auto endWord = [&](size_t end) {
    if (wordStart == std::string_view::npos) return;
    std::string_view word = text.substr(wordStart, end - wordStart);
    while (!word.empty() && (word.back() == '.' || word.back() == '-' || word.back() == '\'')) word.remove_suffix(1);
    while (!word.empty() && (word.front() == '-' || word.front() == '\'' || word.front() == '.')) word.remove_prefix(1);
    sink.Add(prefix, word);
    wordStart = std::string_view::npos;
  };
  auto endCjk = [&](size_t end) {
    if (cjk.empty()) return;
    cjk.push_back(end);
    if (cjk.size() == 2) {
      sink.Add(prefix, text.substr(cjk[0], cjk[1] - cjk[0]));
    } else {
      for (size_t k = 0; k + 2 < cjk.size(); ++k) sink.Add(prefix, text.substr(cjk[k], cjk[k + 2] - cjk[k]));
    }
    cjk.clear();
  };
  for (size_t i = 0; i < text.size();) {
    size_t length = 0;
    const uint32_t cp = DecodeAt(text, i, length);
    if (IsCjk(cp)) {
      endWord(i);
      cjk.push_back(i);
    } else if (IsWordBreak(cp)) {
      endWord(i);
      endCjk(i);
    } else {
      endCjk(i);
      if (wordStart == std::string_view::npos) wordStart = i;
    }
    i += length;
  }
  endWord(text.size());
  endCjk(text.size());
}

bool IsDomainByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || (c >= 'A' && c <= 'Z');
}
bool IsLocalPartByte(char c) {
  return IsDomainByte(c) || c == '+' || c == '=' || c == '%' || c == '!' || c == '#' || c == '$' || c == '&' ||
         c == '\'' || c == '*' || c == '/' || c == '?' || c == '^' || c == '`' || c == '{' || c == '|' || c == '}' ||
         c == '~';
}

bool IsIpv4(std::string_view text) {
  int dots = 0;
  int digits = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0) return false;
      ++dots;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
    } else {
      return false;
    }
  }
  return dots == 3 && digits > 0;
}

// A name whose last label is letters only ("mail.example.com", not a
// version number such as "fetchmail-5.9.0").
bool IsHostName(std::string_view word) {
  const size_t dot = word.rfind('.');
  if (dot == std::string_view::npos || dot + 1 >= word.size()) return false;
  return std::all_of(word.begin() + static_cast<std::ptrdiff_t>(dot + 1), word.end(),
                     [](char c) { return c >= 'a' && c <= 'z'; });
}

// The tokens of one kind of header: "received:" for the host itself,
// "received:tld:" for its top-level label, and so on.
struct Prefixes {
  std::string base;    // "from:"
  std::string addr;    // "from:addr:"
  std::string domain;  // "from:domain:"
  std::string tld;     // "from:domain:tld:"
  std::string hostTld; // "from:tld:"
  std::string ip;      // "from:ip:"
  explicit Prefixes(std::string_view name)
      : base(std::string(name) + ":"),
        addr(base + "addr:"),
        domain(base + "domain:"),
        tld(domain + "tld:"),
        hostTld(base + "tld:"),
        ip(base + "ip:") {}
};

// A domain and each of its parents with at least two labels, and its
// top-level label: "a.b.example.com" gives a.b.example.com, b.example.com,
// example.com and tld:com.
void AddDomain(TokenSink& sink, std::string_view prefix, std::string_view tldPrefix, std::string_view domain) {
  while (!domain.empty() && domain.back() == '.') domain.remove_suffix(1);
  while (!domain.empty() && domain.front() == '.') domain.remove_prefix(1);
  if (domain.empty()) return;
  std::string_view rest = domain;
  for (int depth = 0; depth < 8; ++depth) {
    const size_t dot = rest.find('.');
    if (dot == std::string_view::npos) break;
    sink.Add(prefix, rest);
    rest.remove_prefix(dot + 1);
  }
  if (rest.find('.') == std::string_view::npos) sink.Add(tldPrefix, rest);
}

// An IPv4 address and its /24 and /16 networks.
void AddAddressAndNetworks(TokenSink& sink, std::string_view prefix, std::string_view ip) {
  sink.Add(prefix, ip);
  std::string_view net = ip.substr(0, ip.rfind('.'));
  sink.Add(prefix, net);
  sink.Add(prefix, net.substr(0, net.rfind('.')));
}

// Every mail address of a value (lower-cased): the whole address, its domain
// and parents. Returns how many there were.
int AddMailAddresses(TokenSink& sink, const Prefixes& prefixes, std::string_view value) {
  int count = 0;
  for (size_t at = value.find('@'); at != std::string_view::npos && count < 50; at = value.find('@', at + 1)) {
    size_t begin = at;
    while (begin > 0 && IsLocalPartByte(value[begin - 1])) --begin;
    size_t end = at + 1;
    while (end < value.size() && IsDomainByte(value[end])) ++end;
    const std::string_view domain = value.substr(at + 1, end - at - 1);
    if (begin == at || domain.empty()) continue;
    ++count;
    sink.Add(prefixes.addr, value.substr(begin, end - begin));
    AddDomain(sink, prefixes.domain, prefixes.tld, domain);
  }
  return count;
}

// Host names and IPv4 addresses of a Received line.
void AddHosts(TokenSink& sink, const Prefixes& prefixes, std::string_view value) {
  size_t i = 0;
  while (i < value.size()) {
    if (!IsDomainByte(value[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < value.size() && IsDomainByte(value[end])) ++end;
    std::string_view word = value.substr(i, end - i);
    // An address part (local@host) is no host of its own.
    const bool afterAt = i > 0 && value[i - 1] == '@';
    const bool beforeAt = end < value.size() && value[end] == '@';
    while (!word.empty() && (word.back() == '.' || word.back() == '-')) word.remove_suffix(1);
    if (!beforeAt && !afterAt && word.find('.') != std::string_view::npos) {
      if (IsIpv4(word)) {
        AddAddressAndNetworks(sink, prefixes.ip, word);
      } else if (IsHostName(word)) {
        AddDomain(sink, prefixes.base, prefixes.hostTld, word);
      }
    }
    i = end;
  }
}

// Splits a raw (undecoded) value into blank-separated words, lower-cased.
void AddRawWords(TokenSink& sink, std::string_view prefix, std::string_view value) {
  std::string decoded;
  AppendRaw(value, decoded);
  AddTextWords(sink, prefix, AsciiLowerCopy(decoded));
}

std::string_view Bucket(size_t n) {
  if (n == 0) return "0";
  if (n == 1) return "1";
  if (n == 2) return "2";
  if (n <= 4) return "3-4";
  if (n <= 8) return "5-8";
  return "9+";
}

struct Header {
  std::string_view name;   // lower-case, in the block's name buffer
  std::string_view value;  // from after the colon to the end of its last continuation line
};

// The headers of a block. A folded header (RFC 5322 section 2.2.3) keeps its
// line breaks inside its value: every reader here takes them for blanks.
std::vector<Header> SplitHeaders(std::string_view block, std::string& names) {
  std::vector<Header> headers;
  names.clear();
  names.reserve(block.size());  // never reallocated below: the views stay valid
  auto lineEnd = [&](size_t from) {
    // A plain loop: find_first_of asks memchr once per byte.
    while (from < block.size() && block[from] != '\r' && block[from] != '\n') ++from;
    return from;
  };
  auto nextLine = [&](size_t end) {
    if (end < block.size() && block[end] == '\r') ++end;
    if (end < block.size() && block[end] == '\n') ++end;
    return end;
  };
  size_t i = 0;
  while (i < block.size() && headers.size() < 2000) {
    const size_t end = lineEnd(i);
    const std::string_view line = block.substr(i, end - i);
    const size_t start = i;
    i = nextLine(end);
    if (line.empty() || line[0] == ' ' || line[0] == '\t') continue;  // a continuation without a header
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 60) continue;
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    if (name.empty() || name.find(' ') != std::string_view::npos) continue;
    // The continuation lines that follow belong to this header.
    size_t valueEnd = end;
    while (i < block.size() && (block[i] == ' ' || block[i] == '\t')) {
      valueEnd = lineEnd(i);
      i = nextLine(valueEnd);
    }
    const size_t nameAt = names.size();
    for (char c : name) names += AsciiLowerChar(c);
    const size_t valueStart = start + colon + 1;
    headers.push_back({std::string_view(names).substr(nameAt, name.size()),
                       TrimBlanks(block.substr(valueStart, valueEnd - valueStart)).substr(0, kMaxValueBytes)});
  }
  return headers;
}

void AddSubject(TokenSink& sink, std::string_view value) {
  const std::string text = DecodeHeaderToUtf8(value);
  int letters = 0;
  int lower = 0;
  for (char c : text) {
    if (c >= 'a' && c <= 'z') ++lower, ++letters;
    if (c >= 'A' && c <= 'Z') ++letters;
  }
  if (letters >= 4 && lower == 0) sink.Add("subject:", "shape:caps");
  if (text.find("  ") != std::string::npos) sink.Add("subject:", "shape:blanks");
  AddTextWords(sink, "subject:", AsciiLowerCopy(text));
}

void AddEncodings(TokenSink& sink, std::string_view prefix, std::string_view value) {
  for (size_t at = value.find("=?"); at != std::string_view::npos; at = value.find("=?", at + 2)) {
    const size_t q1 = value.find('?', at + 2);
    if (q1 == std::string_view::npos || q1 + 2 >= value.size() || value[q1 + 2] != '?') continue;
    sink.Add(prefix, AsciiLowerCopy(value.substr(at + 2, q1 - at - 2)) + AsciiLowerChar(value[q1 + 1]));
  }
}

}  // namespace

std::string DecodeHeaderToUtf8(std::string_view value) {
  std::string out;
  std::string decoded;
  size_t plainStart = 0;
  size_t i = 0;
  bool lastWasEncoded = false;
  while (i < value.size()) {
    const size_t next = value.find("=?", i);
    if (next == std::string_view::npos) break;
    const size_t length = EncodedWordAt(value, next, decoded);
    if (length == 0) {
      i = next + 2;
      continue;
    }
    // RFC 2047 section 6.2: blanks between two encoded words are dropped.
    const std::string_view between = value.substr(plainStart, next - plainStart);
    if (!(lastWasEncoded && TrimBlanks(between).empty())) AppendRaw(between, out);
    out += decoded;
    i = plainStart = next + length;
    lastWasEncoded = true;
  }
  AppendRaw(value.substr(plainStart), out);
  return out;
}

std::string_view HeaderBlockOf(std::string_view bytes) {
  // A mailbox file's "From " line is the mailbox's, not the message's.
  if (bytes.substr(0, 5) == "From ") {
    const size_t eol = bytes.find('\n');
    bytes = eol == std::string_view::npos ? std::string_view() : bytes.substr(eol + 1);
  }
  // An empty first line: no headers at all.
  if (!bytes.empty() && (bytes[0] == '\n' || bytes[0] == '\r')) return bytes.substr(0, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const char c = bytes[i];
    if (c != '\n' && c != '\r') continue;
    size_t next = i + 1;
    if (c == '\r' && next < bytes.size() && bytes[next] == '\n') ++next;
    if (next >= bytes.size()) return bytes.substr(0, i);
    // An empty line: a line end right after this one.
    if (bytes[next] == '\n' || bytes[next] == '\r') return bytes.substr(0, i);
    i = next - 1;
  }
  return bytes;
}

std::vector<std::string> HeaderTokens(std::string_view block) {
  TokenList list;
  TokenizeHeaderBlock(block, list);
  std::vector<std::string> tokens(list.begin(), list.end());
  std::sort(tokens.begin(), tokens.end());
  return tokens;
}

namespace {

enum class HeaderKind {
  Other, Subject, From, Address, Recipients, Received, OriginatingIp, MessageId, ContentType, Mailer, Date, Words
};

struct HeaderRole {
  HeaderKind kind;
  Prefixes prefixes;
};

// What is taken from which header; every header also gives "has:<name>".
const HeaderRole* RoleOf(std::string_view name) {
  static const std::unordered_map<std::string_view, HeaderRole> roles = [] {
    std::unordered_map<std::string_view, HeaderRole> map;
    auto add = [&](std::string_view header, HeaderKind kind, std::string_view prefix) {
      map.emplace(header, HeaderRole{kind, Prefixes(prefix)});
    };
    add("subject", HeaderKind::Subject, "subject");
    add("from", HeaderKind::From, "from");
    for (std::string_view header : {"reply-to", "return-path", "sender", "errors-to"})
      add(header, HeaderKind::Address, header);
    add("to", HeaderKind::Recipients, "to");
    add("cc", HeaderKind::Recipients, "to");
    add("received", HeaderKind::Received, "received");
    add("x-originating-ip", HeaderKind::OriginatingIp, "x-originating-ip");
    add("message-id", HeaderKind::MessageId, "message-id");
    add("content-type", HeaderKind::ContentType, "content-type");
    for (std::string_view header : {"x-mailer", "user-agent", "x-mimeole", "x-newsreader"})
      add(header, HeaderKind::Mailer, "mailer");
    add("date", HeaderKind::Date, "date");
    for (std::string_view header : {"precedence", "x-priority", "x-msmail-priority", "importance",
                                    "content-transfer-encoding", "mime-version", "list-id", "x-beenthere",
                                    "organization", "list-unsubscribe", "x-mailing-list", "mailing-list"})
      add(header, HeaderKind::Words, header);
    return map;
  }();
  const auto found = roles.find(name);
  return found == roles.end() ? nullptr : &found->second;
}

}  // namespace

void TokenizeHeaderBlock(std::string_view block, TokenList& list) {
  TokenSink sink(list);
  block = block.substr(0, kMaxHeaderBytes);
  std::string names;
  const std::vector<Header> headers = SplitHeaders(block, names);
  size_t received = 0;
  size_t recipients = 0;
  static constexpr std::string_view kExpected[] = {"date", "message-id", "to", "subject", "mime-version", "from"};
  bool seen[std::size(kExpected)] = {};
  std::string text;
  for (const Header& header : headers) {
    const std::string_view name = header.name;
    const std::string_view value = header.value;
    for (size_t k = 0; k < std::size(kExpected); ++k) {
      if (name == kExpected[k]) seen[k] = true;
    }
    sink.Add("has:", name);
    const HeaderRole* role = RoleOf(name);
    if (!role) continue;
    const Prefixes& prefixes = role->prefixes;
    switch (role->kind) {
      case HeaderKind::Subject:
        AddSubject(sink, value);
        AddEncodings(sink, "subject:encoded:", value);
        break;
      case HeaderKind::From: {
        text = AsciiLowerCopy(DecodeHeaderToUtf8(value));
        // The display name's words; the address goes in whole, with its domains.
        std::string_view displayName = text;
        displayName = displayName.substr(0, displayName.find('<'));
        if (displayName.find('@') == std::string_view::npos) AddTextWords(sink, prefixes.base, displayName);
        if (AddMailAddresses(sink, prefixes, text) == 0) sink.Add(prefixes.base, "noaddress");
        AddEncodings(sink, "from:encoded:", value);
        break;
      }
      case HeaderKind::Address:
        AddMailAddresses(sink, prefixes, AsciiLowerInto(text, value));
        break;
      case HeaderKind::Recipients:
        AsciiLowerInto(text, value);
        recipients += static_cast<size_t>(AddMailAddresses(sink, prefixes, text));
        if (text.find("undisclosed") != std::string::npos) sink.Add(prefixes.base, "undisclosed");
        break;
      case HeaderKind::Received:
        ++received;
        AddHosts(sink, prefixes, AsciiLowerInto(text, value));
        break;
      case HeaderKind::OriginatingIp:
        AddHosts(sink, prefixes, AsciiLowerInto(text, value));
        break;
      case HeaderKind::MessageId: {
        AsciiLowerInto(text, value);
        const size_t at = text.rfind('@');
        if (at == std::string::npos) {
          sink.Add(prefixes.base, "noat");
          break;
        }
        size_t end = at + 1;
        while (end < text.size() && IsDomainByte(text[end])) ++end;
        const std::string_view domain = std::string_view(text).substr(at + 1, end - at - 1);
        if (domain.empty()) sink.Add(prefixes.base, "nodomain");
        else AddDomain(sink, prefixes.base, prefixes.hostTld, domain);
        break;
      }
      case HeaderKind::ContentType: {
        const std::string_view lower = AsciiLowerInto(text, value);
        sink.Add(prefixes.base, TrimBlanks(lower.substr(0, lower.find(';'))));
        const size_t charset = lower.find("charset=");
        if (charset != std::string_view::npos) {
          std::string_view rest = lower.substr(charset + 8);
          if (!rest.empty() && rest.front() == '"') rest.remove_prefix(1);
          size_t end = 0;
          while (end < rest.size() && rest[end] != '"' && rest[end] != ';' && !IsBlankByte(rest[end])) ++end;
          sink.Add("charset:", rest.substr(0, end));
        }
        break;
      }
      case HeaderKind::Mailer:
      case HeaderKind::Words:
        AddRawWords(sink, prefixes.base, value);
        break;
      case HeaderKind::Date: {
        // The zone says something of the sender's clock, the rest nothing.
        const size_t blank = value.find_last_of(" \t");
        const std::string_view zone = blank == std::string_view::npos ? value : value.substr(blank + 1);
        sink.Add("date:zone:", AsciiLowerCopy(zone));
        break;
      }
      case HeaderKind::Other:
        break;
    }
  }
  for (size_t k = 0; k < std::size(kExpected); ++k) {
    if (!seen[k]) sink.Add("missing:", kExpected[k]);
  }
  sink.Add("received:count:", Bucket(received));
  sink.Add("to:count:", Bucket(recipients));
  sink.Finish();
}

}  // namespace brevan
