#include "filter/obfuscated.h"

#include <gtest/gtest.h>

#include <string>

#include "common/codepage.h"

namespace brevan {
namespace {

using namespace std::string_literals;

struct WordRow {
  const char* name;
  std::string word;
  bool disguised;
};

void PrintTo(const WordRow& row, std::ostream* os) { *os << row.name; }

class ObfuscatedWordTest : public ::testing::TestWithParam<WordRow> {};

TEST_P(ObfuscatedWordTest, Judges) {
  EXPECT_EQ(IsObfuscatedWord(GetParam().word), GetParam().disguised) << GetParam().word;
}

// A one-word subject: the reason is the word itself exactly when it is judged
// a disguise.
TEST_P(ObfuscatedWordTest, ReasonIsTheWord) {
  const std::string& word = GetParam().word;
  EXPECT_EQ(FirstObfuscatedWord(word), GetParam().disguised ? word : "") << word;
}

INSTANTIATE_TEST_SUITE_P(
    Words, ObfuscatedWordTest,
    ::testing::Values(
        WordRow{"digit_between_letters", "l0an", true},
        WordRow{"digit_first_then_letter", "4u", true},
        WordRow{"digit_last_lower", "mp3", true},
        WordRow{"digit_last_upper", "MP3", true},
        WordRow{"digit_last_two_bytes", "A4", true},
        WordRow{"digit_first_of_three", "2nd", true},
        WordRow{"first_digit_alone_later_pair", "a1b2", true},
        WordRow{"first_digit_in_pair", "Win32", false},
        WordRow{"first_digit_pair_settles_later_single", "12ab3", false},
        WordRow{"digit_pair_at_end_after_letter", "ab12", false},
        WordRow{"digit_between_digit_and_letter", "a12b", false},
        WordRow{"capital_o_between_lower", "lOve", true},
        WordRow{"capital_o_between_lower_o", "oOo", true},
        WordRow{"capital_o_last_after_lower", "hellO", true},
        WordRow{"capital_o_first", "Office", false},
        WordRow{"capital_o_before_upper", "OK", false},
        WordRow{"capital_os_among_upper", "GOOD", false},
        WordRow{"two_capital_os", "gOOd", false},
        WordRow{"capital_o_alone", "O", false},
        WordRow{"capital_o_after_upper_at_end", "HELLO", false},
        WordRow{"capital_o_then_digit_decides", "gOOd5", true},
        WordRow{"lower_o_is_not_capital", "love", false},
        WordRow{"digit_zero_last", "h0", true},
        WordRow{"all_digits", "2024", false},
        WordRow{"single_digit", "7", false},
        WordRow{"empty_word", "", false},
        WordRow{"full_stop_excludes", "r2.0", false},
        WordRow{"exclamation_excludes", "m0ney!", false},
        WordRow{"tab_excludes", "l0an\t", false},
        WordRow{"bar_alone", "|", true},
        WordRow{"bar_inside", "fr|ee", true},
        WordRow{"bar_first", "|ee", true},
        WordRow{"bar_last", "ee|", true},
        WordRow{"bar_after_digit_pair", "12|", false},
        WordRow{"bar_before_digit_pair", "|12", true},
        WordRow{"digit_then_bar", "1|", true},
        WordRow{"big5_word", "\xA7K\xB6O", false},
        WordRow{"big5_with_disguise", "\xA7K\xB6Ol0an", false},
        WordRow{"high_byte_excludes", "l0an\x80", false},
        WordRow{"nul_excludes", "l0\0an"s, false}),
    [](const ::testing::TestParamInfo<WordRow>& info) { return std::string(info.param.name); });

struct SubjectRow {
  const char* name;
  std::string subject;
  bool disguised;
  std::string firstWord = {};  // the reason, when disguised
};

void PrintTo(const SubjectRow& row, std::ostream* os) { *os << row.name; }

class ObfuscatedSubjectTest : public ::testing::TestWithParam<SubjectRow> {};

TEST_P(ObfuscatedSubjectTest, Judges) {
  EXPECT_EQ(IsObfuscatedSubject(GetParam().subject), GetParam().disguised) << GetParam().subject;
}

TEST_P(ObfuscatedSubjectTest, ReasonIsTheFirstFlaggedWord) {
  const SubjectRow& row = GetParam();
  EXPECT_EQ(FirstObfuscatedWord(row.subject), row.firstWord) << row.subject;
  EXPECT_EQ(FirstObfuscatedWord(row.subject).empty(), !IsObfuscatedSubject(row.subject));
}

INSTANTIATE_TEST_SUITE_P(
    Subjects, ObfuscatedSubjectTest,
    ::testing::Values(
        SubjectRow{"punctuated_word_skipped_next_flagged", "Re: m0ney back", true, "m0ney"},
        SubjectRow{"colon_makes_single_word_ineligible", "Re:m0ney", false},
        SubjectRow{"bar_alone_between_blanks", "buy | now", true, "|"},
        SubjectRow{"plain_subject", "Meeting at noon", false},
        SubjectRow{"empty_subject", "", false},
        SubjectRow{"only_blanks", "   ", false},
        SubjectRow{"leading_blank", " l0an", true, "l0an"},
        SubjectRow{"trailing_blank", "l0an ", true, "l0an"},
        SubjectRow{"adjacent_blanks", "hello  l0an", true, "l0an"},
        SubjectRow{"adjacent_blanks_clean", "hello  world", false},
        SubjectRow{"tab_does_not_separate", "hello\tl0an", false},
        SubjectRow{"last_word_judged", "see the l0an", true, "l0an"},
        SubjectRow{"first_word_judged", "l0an offer", true, "l0an"},
        SubjectRow{"version_numbers", "Win32 2024 r2.0", false},
        SubjectRow{"big5_then_ascii_word", Utf8ToAnsi("免費 l0an"), true, "l0an"},
        SubjectRow{"big5_glued_to_disguise", Utf8ToAnsi("免費l0an"), false},
        SubjectRow{"two_disguises_first_wins", "fr|ee l0an", true, "fr|ee"},
        SubjectRow{"clean_words_then_disguise", "Win32 2024 OK A4", true, "A4"},
        SubjectRow{"big5_only", Utf8ToAnsi("會議 通知"), false}),
    [](const ::testing::TestParamInfo<SubjectRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace brevan
