// The tokens of a header block: what a row of each table must give, and what
// it must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "learn/header_tokens.h"
#include "named_rows.h"

namespace brevan {
namespace {

struct TokenRow {
  const char* name;
  std::string block;
  std::vector<std::string> present;
  std::vector<std::string> absent;
};
void PrintTo(const TokenRow& row, std::ostream* os) { *os << row.name; }

class HeaderTokensTest : public ::testing::TestWithParam<TokenRow> {};

TEST_P(HeaderTokensTest, GivesAndLeavesOut) {
  const std::vector<std::string> tokens = HeaderTokens(GetParam().block);
  ASSERT_TRUE(std::is_sorted(tokens.begin(), tokens.end()));
  ASSERT_EQ(std::adjacent_find(tokens.begin(), tokens.end()), tokens.end()) << "a token twice";
  for (const std::string& token : GetParam().present)
    EXPECT_TRUE(std::binary_search(tokens.begin(), tokens.end(), token)) << "missing " << token;
  for (const std::string& token : GetParam().absent)
    EXPECT_FALSE(std::binary_search(tokens.begin(), tokens.end(), token)) << "unexpected " << token;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HeaderTokensTest,
    ::testing::Values(
        // 免費贈品 in UTF-8 Base64: two-character pieces, overlapping, never the whole run.
        TokenRow{"cjk_pieces_utf8",
                 "Subject: =?UTF-8?B?5YWN6LK76LSI5ZOB?=\r\n",
                 {"subject:免費", "subject:費贈", "subject:贈品"},
                 {"subject:免費贈品", "subject:免", "subject:費贈品"}},
        // 會議通知 in Big5 Base64, lower-case charset name and encoding letter.
        TokenRow{"cjk_pieces_big5", "Subject: =?big5?b?t3zEs7Nxqr4=?=\r\n",
                 {"subject:會議", "subject:議通", "subject:通知", "subject:encoded:big5b"}, {}},
        // Blanks between two encoded words vanish (RFC 2047 section 6.2), so the
        // pair across them is a piece; a lone CJK character between ASCII words stands alone.
        TokenRow{"adjacent_encoded_words", "Subject: =?UTF-8?B?5YWN?= =?UTF-8?B?6LK7?= x =?UTF-8?B?5Y2z?= y\r\n",
                 {"subject:免費", "subject:即", "subject:x", "subject:y"}, {"subject:免", "subject:費"}},
        TokenRow{"q_word_underscore_latin1", "Subject: =?ISO-8859-1?Q?caf=E9_cr=E8me?= Now\r\n",
                 {"subject:café", "subject:crème", "subject:now"}, {"subject:café_crème", "subject:Now"}},
        TokenRow{"address_domain_and_parents",
                 "From: \"Bob Smith\" <Bob.Smith@Mail.Example.CO.uk>\r\n",
                 {"from:bob", "from:smith", "from:addr:bob.smith@mail.example.co.uk",
                  "from:domain:mail.example.co.uk", "from:domain:example.co.uk", "from:domain:co.uk",
                  "from:domain:tld:uk"},
                 {"from:domain:uk", "from:bob.smith@mail.example.co.uk"}},
        TokenRow{"same_word_other_header",
                 "Subject: free offer\r\nFrom: Free <a@b.example>\r\nReply-To: x@c.example\r\n",
                 {"subject:free", "from:free", "reply-to:addr:x@c.example", "reply-to:domain:c.example"},
                 {"free"}},
        TokenRow{"folded_received_hosts_and_networks",
                 "Received: from relay.mx.example.net (relay.mx.example.net [10.1.2.3])\r\n"
                 "\tby inbound.example.org (Postfix 2.1.5) with ESMTP\r\n"
                 "\tfor <ann@example.org>; Thu, 22 Aug 2002 08:17:21 -0400\r\n",
                 {"received:relay.mx.example.net", "received:mx.example.net", "received:example.net",
                  "received:tld:net", "received:ip:10.1.2.3", "received:ip:10.1.2", "received:ip:10.1",
                  "received:inbound.example.org", "received:count:1"},
                 {"received:2.1.5", "received:example.org>", "received:ann@example.org"}},
        TokenRow{"folded_subject_continues",
                 "Subject: first line\r\n second\tline\r\nX-Other: 1\r\n",
                 {"subject:first", "subject:second", "subject:line", "has:x-other"}, {}},
        TokenRow{"repeated_headers_all_count",
                 "Subject: alpha\r\nSubject: beta\r\nReceived: from a.example.com\r\nReceived: from b.example.com\r\n",
                 {"subject:alpha", "subject:beta", "has:subject", "received:count:2", "received:a.example.com",
                  "received:b.example.com"},
                 {"received:count:1"}},
        TokenRow{"ids_types_mailers_and_absence",
                 "Message-ID: <123.abc@Mailer.Example.com>\r\n"
                 "Content-Type: text/HTML; charset=\"GB2312\"\r\n"
                 "X-Mailer: Microsoft Outlook Express 6.00\r\n"
                 "Date: Wed, 21 Aug 2002 20:31:57 -1600\r\n",
                 {"message-id:mailer.example.com", "message-id:example.com", "content-type:text/html",
                  "charset:gb2312", "mailer:microsoft", "mailer:outlook", "mailer:6.00", "date:zone:-1600",
                  "missing:from", "missing:to", "missing:subject"},
                 {"missing:date", "missing:message-id"}},
        TokenRow{"header_names_any_case",
                 "SUBJECT: Hello\r\nfrom: x@y.example\r\n",
                 {"has:subject", "has:from", "subject:hello", "from:addr:x@y.example"}, {"has:SUBJECT"}},
        TokenRow{"undecodable_charset_kept_as_bytes", "Subject: =?x-unknown?B?aGVsbG8=?= there\r\n",
                 {"subject:hello", "subject:there", "subject:encoded:x-unknownb"}, {"subject:encoded:x-unknown?b"}},
        TokenRow{"raw_latin1_bytes", "Subject: Caf\xE9 ol\xE9\r\n", {"subject:café", "subject:olé"}, {}},
        TokenRow{"mailbox_separator_is_not_a_header", std::string(HeaderBlockOf("From x@y Thu Aug 22 2002\nSubject: s\n\nbody: no\n")),
                 {"subject:s"}, {"has:body", "from:addr:x@y"}}),
    RowName<TokenRow>);

// Where the header block of a message file ends: at its first empty line,
// whatever ends the lines.
class HeaderBlockOfTest : public ::testing::TestWithParam<Row> {};

TEST_P(HeaderBlockOfTest, EndsAtTheFirstEmptyLine) {
  EXPECT_EQ(std::string(HeaderBlockOf(GetParam().input)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HeaderBlockOfTest,
    ::testing::Values(Row{"crlf", "A: 1\r\nB: 2\r\n\r\nbody\r\n\r\nmore", "A: 1\r\nB: 2"},
                      Row{"lf", "A: 1\nB: 2\n\nbody", "A: 1\nB: 2"},
                      Row{"lone_cr", "A: 1\rB: 2\r\rbody", "A: 1\rB: 2"},
                      Row{"no_empty_line", "A: 1\r\nB: 2", "A: 1\r\nB: 2"},
                      Row{"ends_in_one_line_end", "A: 1\r\n", "A: 1"},
                      Row{"empty_line_first", "\r\nA: 1", ""},
                      Row{"mailbox_from_line_dropped", "From a@b Mon\nA: 1\n\nx", "A: 1"}),
    RowName<Row>);

// Input a server or a file may hold: however large or strange, the tokens
// stay within their caps and come quickly.
struct BadRow {
  const char* name;
  std::string block;
};
void PrintTo(const BadRow& row, std::ostream* os) { *os << row.name; }

class HostileHeaderTest : public ::testing::TestWithParam<BadRow> {};

TEST_P(HostileHeaderTest, BoundedAndQuick) {
  const auto start = std::chrono::steady_clock::now();
  TokenList list;
  TokenizeHeaderBlock(GetParam().block, list);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_LE(list.size(), kMaxTokensPerMessage);
  for (std::string_view token : list) EXPECT_LE(token.size(), kMaxTokenBytes + 40) << token;
  // Far above what it takes (milliseconds); a quadratic walk would take minutes.
  EXPECT_LT(spent, std::chrono::seconds(20));
}

std::string Repeat(std::string_view piece, size_t bytes) {
  std::string out;
  while (out.size() < bytes) out.append(piece);
  return out;
}

const char kNuls[] = "Subject: a\0b\0\0c\r\nFrom: \0@\0\r\n\0: \0\r\nReceived: \0.a.b\r\n";

std::string Binary(size_t bytes) {
  std::string out(bytes, '\0');
  uint32_t state = 12345;
  for (char& c : out) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HostileHeaderTest,
    ::testing::Values(
        BadRow{"ten_megabyte_subject", "Subject: " + Repeat("word", 10 << 20)},
        BadRow{"ten_megabytes_of_headers", Repeat("X-H: a b c d e f g h\r\n", 10 << 20)},
        BadRow{"a_million_distinct_words", "Subject:" + [] {
                 std::string s;
                 for (int i = 0; i < 1000000; ++i) s += " w" + std::to_string(i);
                 return s;
               }()},
        BadRow{"nul_bytes", std::string(kNuls, sizeof kNuls - 1)},
        BadRow{"binary", Binary(3 << 20)},
        BadRow{"encoded_word_storm", "Subject: " + Repeat("=?utf-8?B?5YWN?= =?", 1 << 20)},
        BadRow{"endless_folding", "Received: from a.example.com\r\n" + Repeat("\tby b.example.com [1.2.3.4]\r\n", 4 << 20)},
        BadRow{"at_signs", "To: " + Repeat("a@", 2 << 20)}),
    RowName<BadRow>);

}  // namespace
}  // namespace brevan
