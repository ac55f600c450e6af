#pragma once
// The user's subject rules (the lines of subjectfilter.cfg) and the junk test.
//
// A rule line's kind comes from fixed prefixes at its very first byte,
// compared exactly:
//   "[!][PCRE]" + re   hits when the regular expression does not match
//   "[!]" + pattern    hits when the wildcard pattern does not match
//   "[PCRE]" + re      hits when the regular expression matches
//   anything else      hits when the whole line, as a wildcard, matches
// Regular expressions are caseless, with the built-in "C" tables, and run on
// the unchanged subject bytes.
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

// 0 when pattern does not match text, otherwise the 1-based byte position in
// text of the first non-empty piece. "*" is the only special character: a "*"
// between pieces stands for at least one byte; leading, trailing and repeated
// "*" add nothing; an empty pattern or one of "*" alone matches nothing. ASCII
// letters are folded in every byte, trail bytes included; the "*" that cut the
// pattern are found on character boundaries only.
int MatchWildcard(std::string_view pattern, std::string_view text);

// The first rule (in list order) that hits subject, exactly as stored, or the
// empty text. A regular-expression rule that fails to compile or to match is
// skipped silently.
std::string MatchFilterRules(const std::vector<std::string>& rules, std::string_view subject);

// The junk test: the disguised-word test first, then the rules.
bool IsJunkSubject(const std::vector<std::string>& rules, std::string_view subject);

// The junk test with its reason: which test flagged the subject, and what it
// flagged it for. Computed by the same tests in the same order as
// IsJunkSubject, so IsJunk() is always IsJunkSubject's answer.
struct JunkVerdict {
  enum class Kind { None, DisguisedWord, Rule };
  Kind What = Kind::None;
  std::string Word;  // DisguisedWord: the first disguised word of the subject
  std::string Rule;  // Rule: the first rule that hit, exactly as stored
  int Line = 0;      // Rule: its 1-based position in the rule list (its line in the rule file)
  bool IsJunk() const { return What != Kind::None; }
};
JunkVerdict JudgeSubject(const std::vector<std::string>& rules, std::string_view subject);

// What the rules see of a Unicode subject: its code-page text, with "?" for
// what Big5 lacks, and the code-page text of its Traditional form
// (traditional_form.h), empty when that is the same. A rule hits the subject
// when it hits either form; a negated rule hits only when its pattern is in
// neither. The disguised-word test sees the shown form.
struct SubjectForms {
  std::string Shown;
  std::string Traditional;
};
SubjectForms CodePageForms(std::string_view utf8Subject);
JunkVerdict JudgeSubject(const std::vector<std::string>& rules, const SubjectForms& subject);

// The 0-based index of the first rule that hits subject, or -1: the rule
// MatchFilterRules returns.
int FirstFilterRuleHit(const std::vector<std::string>& rules, std::string_view subject);
int FirstFilterRuleHit(const std::vector<std::string>& rules, const SubjectForms& subject);

// The rule lines of a rule file's bytes: CR LF, a lone LF and a lone CR end a
// line, a NUL ends the text, nothing is trimmed.
std::vector<std::string> ReadRuleLines(std::string_view fileBytes);

// Compiled rule patterns are kept for the whole process, keyed by the pattern
// text, failures included, so every subject sees what a fresh compile gives.
// Disabling the cache compiles every regular-expression rule anew for every
// subject (for comparisons); disabling also empties it.
void SetRegexCacheEnabled(bool enabled);
bool RegexCacheEnabled();
void ClearRegexCache();

}  // namespace brevan
