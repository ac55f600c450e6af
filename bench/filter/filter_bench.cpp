// Judges a mailbox of 10,000 subjects against a rule file of 200 rules: half
// wildcards, a quarter regular expressions, a quarter negated rules. Most
// subjects hit no rule, so most scans run through the whole list.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "common/codepage.h"
#include "filter/filter_rules.h"

namespace {

constexpr int kSubjects = 10000;
constexpr int kRules = 200;

std::vector<std::string> MakeRules() {
  std::vector<std::string> rules;
  for (int i = 0; i < kRules; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0:  // regular expression, rarely hits
        rules.push_back((i % 8 == 0) ? "[PCRE]\\bwin(?:ner)?\\s+\\$?" + n + "\\b"
                                     : "[PCRE]^(?:re|fw):\\s*(?:cheap|free)\\s+offer\\s*#" + n + "$");
        break;
      case 1:  // negated; every subject carries the list footer, so these rarely hit
        rules.push_back((i % 8 == 1) ? "[!]mailing*list"
                                     : "[!][PCRE]mailing.{1," + std::to_string(i + 1) + "}list");
        break;
      default:  // wildcard
        rules.push_back((i % 3 == 0) ? "lottery*prize" + n
                        : (i % 3 == 1) ? "FREE*money*" + n
                                       : brevan::Utf8ToAnsi("免費贈品") + n);
        break;
    }
  }
  return rules;
}

std::vector<std::string> MakeSubjects() {
  const std::vector<std::string> words = {
      "Meeting", "agenda", "for", "Monday", "invoice", "RE:", "quarterly", "report", "your",
      "order", "has", "shipped", "lottery", "free", "money", "prize", "hello", "project",
      brevan::Utf8ToAnsi("會議"), brevan::Utf8ToAnsi("通知"), brevan::Utf8ToAnsi("免費")};
  std::mt19937 rng(20261208);
  std::uniform_int_distribution<size_t> pick(0, words.size() - 1);
  std::uniform_int_distribution<int> length(3, 9);
  std::vector<std::string> subjects;
  subjects.reserve(kSubjects);
  for (int i = 0; i < kSubjects; ++i) {
    std::string s;
    for (int w = length(rng); w > 0; --w) s += words[pick(rng)] + " ";
    // One subject in 25 wins a prize that a regular-expression rule knows.
    if (i % 25 == 0) s += "You are a winner $" + std::to_string((i / 25 % 25) * 8) + " ";
    s += "[mailing list]";
    subjects.push_back(std::move(s));
  }
  return subjects;
}

void JudgeMailbox(benchmark::State& state, bool cache) {
  const std::vector<std::string> rules = MakeRules();
  const std::vector<std::string> subjects = MakeSubjects();
  brevan::SetRegexCacheEnabled(cache);
  int junk = 0;
  for (auto _ : state) {
    junk = 0;
    for (const std::string& subject : subjects) junk += brevan::IsJunkSubject(rules, subject) ? 1 : 0;
    benchmark::DoNotOptimize(junk);
  }
  brevan::SetRegexCacheEnabled(true);
  state.counters["junk"] = junk;
  state.counters["subjects"] = kSubjects;
}

void BM_JudgeMailboxCached(benchmark::State& state) { JudgeMailbox(state, true); }
void BM_JudgeMailboxFreshCompile(benchmark::State& state) { JudgeMailbox(state, false); }

// One wildcard rule against one subject, the innermost step.
void BM_MatchWildcard(benchmark::State& state) {
  const std::string text = "Meeting agenda for Monday: the FREE lottery money prize [mailing list]";
  for (auto _ : state) benchmark::DoNotOptimize(brevan::MatchWildcard("free*money*prize", text));
}

// What the listing adds for a Unicode subject before the rules: its code-page
// form and its Traditional form, for 5,000 subjects of mixed scripts.
void BM_CodePageForms(benchmark::State& state) {
  const std::string samples[] = {"Weekly status report", "会议通知 免费发票", "會議通知 明天",
                                 "午餐 🍱 吃什麼", "Jørgen Ærø", "会議のお知らせ", "안녕하세요"};
  std::vector<std::string> subjects;
  for (int i = 0; i < 5000; ++i) subjects.push_back(samples[i % std::size(samples)] + " #" + std::to_string(i));
  for (auto _ : state) {
    for (const std::string& subject : subjects) benchmark::DoNotOptimize(brevan::CodePageForms(subject));
  }
}

}  // namespace

BENCHMARK(BM_CodePageForms)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JudgeMailboxCached)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JudgeMailboxFreshCompile)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_MatchWildcard);
BENCHMARK_MAIN();
