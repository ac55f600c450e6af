#include "filter/filter_rules.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "common/codepage.h"
#include "common/split_token.h"
#include "common/text_lines.h"
#include "filter/obfuscated.h"
#include "filter/regex.h"
#include "filter/traditional_form.h"

namespace brevan {
namespace {

constexpr std::string_view kNegation = "[!]";
constexpr std::string_view kRegexPrefix = "[PCRE]";

// The cache is emptied when it grows past this many patterns, so a program
// that keeps editing its rules does not keep every pattern it ever saw.
constexpr size_t kCacheLimit = 4096;

void LowerAscii(std::string_view in, std::string& out) {
  out.resize(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
  }
}

// Both texts already folded.
int MatchFolded(std::string_view pattern, std::string_view text) {
  size_t rest = 0;  // the remaining text is text[rest..]
  size_t first = 0;
  size_t pieceStart = 0;
  while (pieceStart < pattern.size()) {
    const size_t star = FindCharAware(pattern, "*", pieceStart);
    const size_t pieceEnd = star == std::string_view::npos ? pattern.size() : star;
    const std::string_view piece = pattern.substr(pieceStart, pieceEnd - pieceStart);
    pieceStart = pieceEnd + 1;
    if (piece.empty()) continue;
    if (text.size() - rest < piece.size()) return 0;
    const size_t found = text.find(piece, rest);
    if (found == std::string_view::npos) return 0;
    if (first == 0) first = found + 1;
    // The next piece is searched from the second byte after this one, which
    // is what makes "a*b" need at least one byte between a and b.
    rest = std::min(found + piece.size() + 1, text.size());
  }
  return static_cast<int>(first);
}

struct TransparentHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct RegexCache {
  std::mutex lock;
  // A null entry is a pattern that did not compile.
  std::unordered_map<std::string, std::shared_ptr<IRegex>, TransparentHash, std::equal_to<>> compiled;
  std::atomic<bool> enabled{true};
};

RegexCache& Cache() {
  static RegexCache cache;
  return cache;
}

std::shared_ptr<IRegex> CompileRule(std::string_view pattern) {
  try {
    return NewRegex(pattern, kRegexCaseless);
  } catch (...) {
    return nullptr;
  }
}

std::shared_ptr<IRegex> RuleRegex(std::string_view pattern) {
  RegexCache& cache = Cache();
  if (!cache.enabled.load(std::memory_order_relaxed)) return CompileRule(pattern);
  std::lock_guard<std::mutex> hold(cache.lock);
  auto it = cache.compiled.find(pattern);
  if (it != cache.compiled.end()) return it->second;
  if (cache.compiled.size() >= kCacheLimit) cache.compiled.clear();
  std::shared_ptr<IRegex> regex = CompileRule(pattern);
  cache.compiled.emplace(std::string(pattern), regex);
  return regex;
}

enum class RegexOutcome { Match, NoMatch, Failed };

RegexOutcome TestRegexRule(std::string_view pattern, std::string_view subject) {
  const std::shared_ptr<IRegex> regex = RuleRegex(pattern);
  if (!regex) return RegexOutcome::Failed;
  try {
    return regex->IsMatch(subject) ? RegexOutcome::Match : RegexOutcome::NoMatch;
  } catch (...) {
    // A matcher error (a match limit, say) skips the rule for this subject only.
    return RegexOutcome::Failed;
  }
}

}  // namespace

int MatchWildcard(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) return 0;
  std::string p;
  std::string t;
  LowerAscii(pattern, p);
  LowerAscii(text, t);
  return MatchFolded(p, t);
}

namespace {

// The rule scan over one or two forms of a subject: a rule's pattern counts
// as found when it is found in any form, and a negated rule hits only when
// its pattern is found in none.
int FirstRuleHitInForms(const std::vector<std::string>& rules, std::string_view first, std::string_view second) {
  std::string_view forms[2] = {first, second};
  const size_t count = second.empty() || second == first ? 1 : 2;
  std::string folded[2];
  for (size_t f = 0; f < count; ++f) LowerAscii(forms[f], folded[f]);
  std::string pattern;
  auto wildcardFound = [&](std::string_view rulePattern) {
    LowerAscii(rulePattern, pattern);
    for (size_t f = 0; f < count; ++f) {
      if (MatchFolded(pattern, folded[f]) > 0) return true;
    }
    return false;
  };
  // Match or NoMatch over all forms; Failed when a form's test failed and no
  // form matched, so a failing rule is still skipped.
  auto regexOutcome = [&](std::string_view rulePattern) {
    RegexOutcome outcome = RegexOutcome::NoMatch;
    for (size_t f = 0; f < count; ++f) {
      const RegexOutcome one = TestRegexRule(rulePattern, forms[f]);
      if (one == RegexOutcome::Match) return one;
      if (one == RegexOutcome::Failed) outcome = one;
    }
    return outcome;
  };
  for (size_t index = 0; index < rules.size(); ++index) {
    const std::string_view rule(rules[index]);
    if (rule.starts_with(kNegation)) {
      const std::string_view rest = rule.substr(kNegation.size());
      if (rest.starts_with(kRegexPrefix)) {
        if (regexOutcome(rest.substr(kRegexPrefix.size())) == RegexOutcome::NoMatch) return static_cast<int>(index);
      } else if (!wildcardFound(rest)) {
        return static_cast<int>(index);
      }
    } else if (rule.starts_with(kRegexPrefix)) {
      if (regexOutcome(rule.substr(kRegexPrefix.size())) == RegexOutcome::Match) return static_cast<int>(index);
    } else if (wildcardFound(rule)) {
      return static_cast<int>(index);
    }
  }
  return -1;
}

JunkVerdict JudgeForms(const std::vector<std::string>& rules, std::string_view subject, std::string_view traditional) {
  JunkVerdict verdict;
  const std::string_view word = FirstObfuscatedWord(subject);
  if (!word.empty()) {
    verdict.What = JunkVerdict::Kind::DisguisedWord;
    verdict.Word = std::string(word);
    return verdict;
  }
  const int hit = FirstRuleHitInForms(rules, subject, traditional);
  if (hit >= 0) {
    verdict.What = JunkVerdict::Kind::Rule;
    verdict.Rule = rules[static_cast<size_t>(hit)];
    verdict.Line = hit + 1;
  }
  return verdict;
}

}  // namespace

int FirstFilterRuleHit(const std::vector<std::string>& rules, std::string_view subject) {
  return FirstRuleHitInForms(rules, subject, {});
}

int FirstFilterRuleHit(const std::vector<std::string>& rules, const SubjectForms& subject) {
  return FirstRuleHitInForms(rules, subject.Shown, subject.Traditional);
}

SubjectForms CodePageForms(std::string_view utf8Subject) {
  SubjectForms forms;
  forms.Shown = Utf8ToAnsi(utf8Subject);
  const std::string traditional = TraditionalForm(utf8Subject);
  if (traditional != utf8Subject) {
    forms.Traditional = Utf8ToAnsi(traditional);
    if (forms.Traditional == forms.Shown) forms.Traditional.clear();
  }
  return forms;
}

std::string MatchFilterRules(const std::vector<std::string>& rules, std::string_view subject) {
  const int hit = FirstFilterRuleHit(rules, subject);
  return hit < 0 ? std::string() : rules[static_cast<size_t>(hit)];
}

bool IsJunkSubject(const std::vector<std::string>& rules, std::string_view subject) {
  if (IsObfuscatedSubject(subject)) return true;
  return !MatchFilterRules(rules, subject).empty();
}

JunkVerdict JudgeSubject(const std::vector<std::string>& rules, std::string_view subject) {
  return JudgeForms(rules, subject, {});
}

JunkVerdict JudgeSubject(const std::vector<std::string>& rules, const SubjectForms& subject) {
  return JudgeForms(rules, subject.Shown, subject.Traditional);
}

std::vector<std::string> ReadRuleLines(std::string_view fileBytes) {
  return SplitTextLinesToNul(fileBytes);
}

void SetRegexCacheEnabled(bool enabled) {
  RegexCache& cache = Cache();
  std::lock_guard<std::mutex> hold(cache.lock);
  cache.enabled.store(enabled);
  if (!enabled) cache.compiled.clear();
}

bool RegexCacheEnabled() { return Cache().enabled.load(); }

void ClearRegexCache() {
  RegexCache& cache = Cache();
  std::lock_guard<std::mutex> hold(cache.lock);
  cache.compiled.clear();
}

}  // namespace brevan
