#pragma once
// The learned judgement's arithmetic, from the published descriptions:
//
// Gary Robinson, "A Statistical Approach to the Spam Problem" (Linux Journal,
// 2003) and "Spam Detection" (2002): a token seen in b of the nJunk junk and g
// of the nGood good messages has
//     p(w) = (b / nJunk) / (b / nJunk + g / nGood)
// and, so that a rare token says little, the corrected
//     f(w) = (s * x + n * p(w)) / (s + n),   n = b + g,
// where x is the value assumed for an unseen token and s how many messages'
// worth of weight that assumption carries.
//
// R. A. Fisher's method of combining probabilities (Statistical Methods for
// Research Workers, 1925), as Robinson proposed it for mail: for the N tokens
// that stand far enough from x,
//     H = C⁻¹(-2 ln Π f(w), 2N)        S = C⁻¹(-2 ln Π (1 - f(w)), 2N)
// where C⁻¹(χ², ν) is the probability that a chi-square variable with ν
// degrees of freedom reaches χ². A junk message drives S towards 0 and a good
// one drives H towards 0; the score is I = (1 + H - S) / 2, between 0 (good)
// and 1 (junk), 0.5 when nothing is known.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brevan {

struct TokenCounts {
  uint32_t Junk = 0;  // junk messages that held the token
  uint32_t Good = 0;  // good messages that held it
};

// The defaults were chosen on header blocks of public mail: with them, most
// junk messages score above 0.9 and hardly any good one above 0.2;
// the junk cut-off sits low because a header alone rarely makes a score
// extreme, and the good mail that reached it was rarer than one in a thousand.
struct CombinerSettings {
  double Strength = 0.35;      // s
  double Unknown = 0.5;        // x
  double MinDeviation = 0.25;  // |f(w) - x| below this: the token is left out
  size_t MaxTokens = 150;      // the strongest this many tokens count
  double JunkCutoff = 0.55;    // a score from here up is junk
  double GoodCutoff = 0.20;    // a score up to here is good
};

enum class LearnedVerdict { Good, Unsure, Junk };

// A token and its f(w); the token's text belongs to the caller.
struct TokenWeight {
  std::string_view Token;
  double Probability = 0.5;
};

struct StrongToken {
  std::string Token;
  double Probability = 0.5;
};

struct LearnedJudgement {
  double Score = 0.5;
  LearnedVerdict Verdict = LearnedVerdict::Unsure;
  // The tokens that weighed most towards the verdict (towards junk for a
  // junk or unsure score above 0.5, towards good otherwise), strongest first.
  std::vector<StrongToken> Strongest;
};

// f(w) for a token's counts, given how many junk and good messages were learned.
double TokenProbability(TokenCounts counts, uint32_t junkMessages, uint32_t goodMessages,
                        const CombinerSettings& settings);

// The probability that a chi-square variable with 2 * halfDegrees degrees of
// freedom is at least chi2 (even degrees of freedom have a closed form).
double ChiSquareSurvival(double chi2, int halfDegrees);

// Combines the f(w) of the given tokens. Tokens and their f(w) are paired by
// position; strongestCount says how many tokens Strongest keeps.
LearnedJudgement CombineProbabilities(const std::vector<TokenWeight>& weights, const CombinerSettings& settings,
                                      size_t strongestCount = 3);

LearnedVerdict VerdictOfScore(double score, const CombinerSettings& settings);

// "junk", "unsure" or "good".
const char* VerdictName(LearnedVerdict verdict);

}  // namespace brevan
