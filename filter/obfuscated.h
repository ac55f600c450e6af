#pragma once
// The built-in test for disguised words in a subject: a digit standing alone
// among letters ("l0an"), a bar inside a word ("fr|ee"), or a capital O
// between lower-case letters ("lOve"). It has no settings and no state.
#include <string_view>

namespace brevan {

// One word. Only words made of ASCII digits, letters and bars are judged; the
// first digit of the word settles the answer on the spot.
bool IsObfuscatedWord(std::string_view word);

// The words of a subject are cut at the single blank (byte 32 only); the
// subject is disguised when any of its words is.
bool IsObfuscatedSubject(std::string_view subject);

// The same test, telling why: the first word of the subject that is a
// disguise, or the empty text when none is (a disguise is never empty).
std::string_view FirstObfuscatedWord(std::string_view subject);

}  // namespace brevan
