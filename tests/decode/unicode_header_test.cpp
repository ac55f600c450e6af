#include "decode/unicode_header.h"

#include "decode/charset_text.h"

#include <gtest/gtest.h>

#include "tests/support/named_rows.h"

#include <random>
#include <string>

namespace brevan {
namespace {

// One sample text per character set, written by an encoder other than ours,
// in B and in Q: the decoded value must be the sample, character for character.
class DecodeCharset : public ::testing::TestWithParam<Row> {};

TEST_P(DecodeCharset, GivesTheWritersText) {
  EXPECT_EQ(DecodeHeaderUnicode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, DecodeCharset,
    ::testing::Values(
        Row{"gb2312_b", "=?gb2312?B?NTDUqrvxtcPSu9LazuXHp83yRU1BSUy12Na3tcS7+rvh?=", "50元获得一亿五千万EMAIL地址的机会"},
        Row{"gb2312_q", "=?gb2312?Q?50=D4=AA=BB=F1=B5=C3=D2=BB=D2=DA=CE=E5=C7=A7=CD=F2EMAIL=B5=D8=D6=B7=B5=C4=BB=FA=BB=E1?=", "50元获得一亿五千万EMAIL地址的机会"},
        Row{"gbk_b", "=?gbk?B?1uzpRrv5tcS3osax?=", "朱镕基的发票"},
        Row{"gbk_q", "=?gbk?Q?=D6=EC=E9F=BB=F9=B5=C4=B7=A2=C6=B1?=", "朱镕基的发票"},
        Row{"gb18030_b", "=?gb18030?B?u+HS6c2o1qoglDn8NiCBOe45?=", "会议通知 😀 㐀"},
        Row{"gb18030_q", "=?gb18030?Q?=BB=E1=D2=E9=CD=A8=D6=AA_=949=FC6_=819=EE9?=", "会议通知 😀 㐀"},
        Row{"big5_b", "=?big5?B?t3zEs7Nxqr4gtW+yvA==?=", "會議通知 發票"},
        Row{"big5_q", "=?big5?Q?=B7=7C=C4=B3=B3q=AA=BE_=B5o=B2=BC?=", "會議通知 發票"},
        Row{"big5_hkscs_b", "=?big5-hkscs?B?p0Gd753yw2Gd9w==?=", "你嘅𨋢壞咗"},
        Row{"big5_hkscs_q", "=?big5-hkscs?Q?=A7A=9D=EF=9D=F2=C3a=9D=F7?=", "你嘅𨋢壞咗"},
        Row{"utf8_emoji_b", "=?utf-8?B?5Y2I6aSQIPCfjbEg5ZCD5LuA6bq8?=", "午餐 🍱 吃什麼"},
        Row{"utf8_emoji_q", "=?utf-8?Q?=E5=8D=88=E9=A4=90_=F0=9F=8D=B1_=E5=90=83=E4=BB=80=E9=BA=BC?=", "午餐 🍱 吃什麼"},
        Row{"utf8_simplified_b", "=?utf-8?B?5Y+R56Wo5Lya6K6uIOeugOS9kw==?=", "发票会议 简体"},
        Row{"utf8_simplified_q", "=?utf-8?Q?=E5=8F=91=E7=A5=A8=E4=BC=9A=E8=AE=AE_=E7=AE=80=E4=BD=93?=", "发票会议 简体"},
        Row{"utf8_greek_b", "=?utf-8?B?zprOsc67zrfOvM6tz4HOsSDOus+Mz4POvM61?=", "Καλημέρα κόσμε"},
        Row{"utf8_greek_q", "=?utf-8?Q?=CE=9A=CE=B1=CE=BB=CE=B7=CE=BC=CE=AD=CF=81=CE=B1_=CE=BA=CF=8C=CF=83=CE=BC=CE=B5?=", "Καλημέρα κόσμε"},
        Row{"utf8_cyrillic_b", "=?utf-8?B?0KHRitC10YjRjCDQttC1INC10YnRkSDRjdGC0LjRhSDQsdGD0LvQvtC6?=", "Съешь же ещё этих булок"},
        Row{"utf8_cyrillic_q", "=?utf-8?Q?=D0=A1=D1=8A=D0=B5=D1=88=D1=8C_=D0=B6=D0=B5_=D0=B5=D1=89=D1=91_=D1=8D=D1=82=D0=B8=D1=85_=D0=B1=D1=83=D0=BB=D0=BE=D0=BA?=", "Съешь же ещё этих булок"},
        Row{"iso2022jp_b", "=?iso-2022-jp?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=", "会議のお知らせ"},
        Row{"iso2022jp_q", "=?iso-2022-jp?Q?=1B=24B2q5D=24N=24=2ACN=24i=24=3B=1B=28B?=", "会議のお知らせ"},
        Row{"shift_jis_b", "=?shift_jis?B?g1yDdINng0WDRoNBlVyOpg==?=", "ソフトウェア表示"},
        Row{"shift_jis_q", "=?shift_jis?Q?=83=5C=83t=83g=83E=83F=83A=95=5C=8E=A6?=", "ソフトウェア表示"},
        Row{"euc_jp_b", "=?euc-jp?B?xvzL3LjspM6lxqW5pcg=?=", "日本語のテスト"},
        Row{"euc_jp_q", "=?euc-jp?Q?=C6=FC=CB=DC=B8=EC=A4=CE=A5=C6=A5=B9=A5=C8?=", "日本語のテスト"},
        Row{"euc_kr_b", "=?euc-kr?B?vsiz58fPvLy/5A==?=", "안녕하세요"},
        Row{"euc_kr_q", "=?euc-kr?Q?=BE=C8=B3=E7=C7=CF=BC=BC=BF=E4?=", "안녕하세요"},
        Row{"ks_c_5601_1987_b", "=?ks_c_5601-1987?B?jGO55rCix88gvsiz5w==?=", "똠방각하 안녕"},
        Row{"ks_c_5601_1987_q", "=?ks_c_5601-1987?Q?=8Cc=B9=E6=B0=A2=C7=CF_=BE=C8=B3=E7?=", "똠방각하 안녕"},
        Row{"iso8859_1_b", "=?iso-8859-1?B?SvhyZ2VuIMZy+A==?=", "Jørgen Ærø"},
        Row{"iso8859_1_q", "=?iso-8859-1?Q?J=F8rgen_=C6r=F8?=", "Jørgen Ærø"},
        Row{"iso8859_2_b", "=?iso-8859-2?B?o/NkvCCubHW7b3Xoa/0=?=", "Łódź Žluťoučký"},
        Row{"iso8859_2_q", "=?iso-8859-2?Q?=A3=F3d=BC_=AElu=BBou=E8k=FD?=", "Łódź Žluťoučký"},
        Row{"iso8859_5_b", "=?iso-8859-5?B?v+DY0tXiINzY4A==?=", "Привет мир"},
        Row{"iso8859_5_q", "=?iso-8859-5?Q?=BF=E0=D8=D2=D5=E2_=DC=D8=E0?=", "Привет мир"},
        Row{"iso8859_7_b", "=?iso-8859-7?B?yuHr5+zd8eE=?=", "Καλημέρα"},
        Row{"iso8859_7_q", "=?iso-8859-7?Q?=CA=E1=EB=E7=EC=DD=F1=E1?=", "Καλημέρα"},
        Row{"iso8859_15_b", "=?iso-8859-15?B?UHJpeCAxMDCkIL11dnJl?=", "Prix 100€ œuvre"},
        Row{"iso8859_15_q", "=?iso-8859-15?Q?Prix_100=A4_=BDuvre?=", "Prix 100€ œuvre"},
        Row{"windows1250_b", "=?windows-1250?B?UPjtbGmaIJ5sdZ1vdehr/SBr+fI=?=", "Příliš žluťoučký kůň"},
        Row{"windows1250_q", "=?windows-1250?Q?P=F8=EDli=9A_=9Elu=9Dou=E8k=FD_k=F9=F2?=", "Příliš žluťoučký kůň"},
        Row{"windows1251_b", "=?windows-1251?B?x+Tw4OLx8uLz6fLl?=", "Здравствуйте"},
        Row{"windows1251_q", "=?windows-1251?Q?=C7=E4=F0=E0=E2=F1=F2=E2=F3=E9=F2=E5?=", "Здравствуйте"},
        Row{"windows1252_b", "=?windows-1252?B?k1F1b3RlZJQgY2Fm6SCWIG5h73Zl?=", "“Quoted” café – naïve"},
        Row{"windows1252_q", "=?windows-1252?Q?=93Quoted=94_caf=E9_=96_na=EFve?=", "“Quoted” café – naïve"},
        Row{"koi8r_b", "=?koi8-r?B?8NLJ18XUIM3J0g==?=", "Привет мир"},
        Row{"koi8r_q", "=?koi8-r?Q?=F0=D2=C9=D7=C5=D4_=CD=C9=D2?=", "Привет мир"},
        Row{"koi8u_b", "=?koi8-u?B?vcHOz8sgp9bByyCkzs/U?=", "Ґанок їжак єнот"},
        Row{"koi8u_q", "=?koi8-u?Q?=BD=C1=CE=CF=CB_=A7=D6=C1=CB_=A4=CE=CF=D4?=", "Ґанок їжак єнот"},
        Row{"us_ascii_b", "=?us-ascii?B?SGVsbG8gd29ybGQ=?=", "Hello world"},
        Row{"us_ascii_q", "=?us-ascii?Q?Hello_world?=", "Hello world"}),
    RowName<Row>);

// How words meet each other and the text around them, and what is not a word.
class DecodeWords : public ::testing::TestWithParam<Row> {};

TEST_P(DecodeWords, GivesTheWritersText) {
  EXPECT_EQ(DecodeHeaderUnicode(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodeWords,
    ::testing::Values(
        // RFC 2047 section 6.2: blanks between adjacent words vanish, also
        // between words of two sets; blanks next to plain text stay.
        Row{"adjacent_two_sets", "=?utf-8?B?5Lit?= \t =?big5?B?pOU=?=", "中文"},
        Row{"blank_to_plain_text_stays", "Re: =?utf-8?Q?caf=C3=A9?= au lait", "Re: café au lait"},
        Row{"words_apart_keep_text", "=?utf-8?Q?a?= - =?utf-8?Q?b?=", "a - b"},
        // One character split across two words (E4 B8 | AD) is put back
        // together before conversion, in B and in Q, and across encodings.
        Row{"split_character_b", "=?utf-8?B?5Lg=?= =?utf-8?B?rQ==?=", "中"},
        Row{"split_character_q", "=?UTF-8?Q?=E4=B8?=\t=?utf-8?Q?=AD?=", "中"},
        Row{"split_character_b_then_q", "=?gbk?B?1g==?= =?GBK?q?=D0?=", "中"},
        Row{"split_surrogate_pair_gb18030", "=?gb18030?B?lDk=?= =?gb18030?B?/DY=?=", "😀"},
        Row{"language_suffix", "=?utf-8*zh-tw?B?5Lit5paH?=", "中文"},
        Row{"lower_case_b", "=?utf-8?b?5Lit5paH?=", "中文"},
        Row{"capital_charset", "=?UTF-8?Q?=E4=B8=AD?=", "中"},
        Row{"q_underscore_is_blank", "=?iso-8859-1?q?a_b=5Fc?=", "a b_c"},
        Row{"empty_payload", "x=?utf-8?B?" "?=y", "xy"},
        Row{"missing_padding_forgiven", "=?utf-8?B?w6k?=", "é"},
        // Not words: left as written, and the text after them still decoded.
        Row{"unknown_set", "one =?x-no-such-set?B?QUJD?= =?utf-8?Q?two?=", "one =?x-no-such-set?B?QUJD?= two"},
        Row{"bad_base64", "=?utf-8?B?5L*t?= =?utf-8?B?5paH?=", "=?utf-8?B?5L*t?= 文"},
        Row{"base64_lone_sixth", "=?utf-8?B?5Lit5?=", "=?utf-8?B?5Lit5?="},
        Row{"bad_q_escape", "=?utf-8?Q?100=ZZ?=", "=?utf-8?Q?100=ZZ?="},
        Row{"blank_inside_word", "=?utf-8?Q?a b?=", "=?utf-8?Q?a b?="},
        Row{"word_cut_in_the_middle", "Re: =?utf-8?B?5Lit5paH", "Re: =?utf-8?B?5Lit5paH"},
        Row{"cut_after_a_whole_word", "=?utf-8?B?5Lit?= =?utf-8?B?5paH", "中 =?utf-8?B?5paH"},
        Row{"no_encoding_letter", "=?utf-8??abc?=", "=?utf-8??abc?="},
        Row{"option_syntax_in_name", "=?utf-8,swaplfnl?Q?a?=", "=?utf-8,swaplfnl?Q?a?="},
        // Bytes the set does not define become U+FFFD, the rest stays.
        Row{"undefined_bytes", "=?utf-8?Q?a=FFb?=", "a\uFFFDb"},
        Row{"utf8_four_byte", "=?utf-8?B?8J+YgA==?=", "😀"},
        // Raw 8-bit text: UTF-8 when the whole value is, else code page 950.
        Row{"raw_utf8", "J\xC3\xB8rgen", "Jørgen"},
        Row{"raw_big5", "\xA4\xA4\xA4\xE5 news", "中文 news"},
        Row{"raw_big5_with_word", "\xA4\xA4 =?utf-8?Q?=E6=96=87?=", "中 文"},
        Row{"raw_utf8_emoji", "Lunch \xF0\x9F\x8D\xB1", "Lunch 🍱"},
        Row{"blank_value", " \t ", ""},
        Row{"plain_ascii", "Hello =? world ?=", "Hello =? world ?="}),
    RowName<Row>);

// Whatever the server sends, the text given to the list is valid UTF-8.
TEST(DecodeHeaderUnicode, AnyInputGivesValidUtf8) {
  std::mt19937 gen(19);
  const std::string pieces[] = {"=?", "?=", "?B?", "?q?", "utf-8", "gbk", "big5", "iso-2022-jp", " ", "=E4", "5Lit", "\xA4", "\xFF", "*"};
  for (int round = 0; round < 20000; ++round) {
    std::string value;
    const int n = static_cast<int>(gen() % 12);
    for (int i = 0; i < n; ++i) {
      if (gen() % 3 == 0) {
        value += static_cast<char>(gen());
      } else {
        value += pieces[gen() % std::size(pieces)];
      }
    }
    const std::string out = DecodeHeaderUnicode(value);
    ASSERT_TRUE(IsValidUtf8(out)) << ::testing::PrintToString(value);
  }
}

class CleanSubjectUtf8 : public ::testing::TestWithParam<Row> {};

TEST_P(CleanSubjectUtf8, GivesTheShownSubject) { EXPECT_EQ(CleanSubjectUnicode(GetParam().input), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Rows, CleanSubjectUtf8,
    ::testing::Values(Row{"dashes_quotes_blanks", "Re: re-send \"price list\"  now", "Re: resend price list now"},
                      Row{"wide_text_untouched", "會議—通知 🍱", "會議—通知 🍱"},
                      Row{"long_blank_run", "a                       b", "a b"},
                      Row{"blank_subject", "   ", ""}),
    RowName<Row>);

}  // namespace
}  // namespace brevan
