#include "learn/token_combiner.h"

#include <algorithm>
#include <cmath>

namespace brevan {

double TokenProbability(TokenCounts counts, uint32_t junkMessages, uint32_t goodMessages,
                        const CombinerSettings& settings) {
  const double n = static_cast<double>(counts.Junk) + counts.Good;
  if (n == 0) return settings.Unknown;
  // A count above its total (a store edited by hand, a forget without a
  // learn) is held to the total, so the ratios stay within 0..1.
  const double junkRatio = junkMessages ? std::min(1.0, counts.Junk / static_cast<double>(junkMessages)) : 0.0;
  const double goodRatio = goodMessages ? std::min(1.0, counts.Good / static_cast<double>(goodMessages)) : 0.0;
  const double p = junkRatio + goodRatio > 0 ? junkRatio / (junkRatio + goodRatio) : settings.Unknown;
  return (settings.Strength * settings.Unknown + n * p) / (settings.Strength + n);
}

double ChiSquareSurvival(double chi2, int halfDegrees) {
  // Q(chi2, 2k) = e^(-m) * sum_{i<k} m^i / i!, m = chi2 / 2. The terms are
  // built one from the other, so no factorial or power ever overflows.
  if (halfDegrees <= 0) return 1.0;
  const double m = chi2 / 2.0;
  double term = std::exp(-m);
  double sum = term;
  for (int i = 1; i < halfDegrees; ++i) {
    term *= m / i;
    sum += term;
  }
  return std::min(sum, 1.0);
}

LearnedVerdict VerdictOfScore(double score, const CombinerSettings& settings) {
  if (score >= settings.JunkCutoff) return LearnedVerdict::Junk;
  if (score <= settings.GoodCutoff) return LearnedVerdict::Good;
  return LearnedVerdict::Unsure;
}

const char* VerdictName(LearnedVerdict verdict) {
  switch (verdict) {
    case LearnedVerdict::Junk:
      return "junk";
    case LearnedVerdict::Good:
      return "good";
    case LearnedVerdict::Unsure:
      break;
  }
  return "unsure";
}

LearnedJudgement CombineProbabilities(const std::vector<TokenWeight>& weights, const CombinerSettings& settings,
                                      size_t strongestCount) {
  std::vector<const TokenWeight*> used;
  used.reserve(weights.size());
  for (const TokenWeight& weight : weights) {
    if (std::fabs(weight.Probability - settings.Unknown) >= settings.MinDeviation) used.push_back(&weight);
  }
  auto stronger = [&](const TokenWeight* a, const TokenWeight* b) {
    const double da = std::fabs(a->Probability - settings.Unknown);
    const double db = std::fabs(b->Probability - settings.Unknown);
    if (da != db) return da > db;
    return a->Token < b->Token;
  };
  if (used.size() > settings.MaxTokens) {
    std::partial_sort(used.begin(), used.begin() + static_cast<std::ptrdiff_t>(settings.MaxTokens), used.end(),
                      stronger);
    used.resize(settings.MaxTokens);
  }
  LearnedJudgement judgement;
  if (!used.empty()) {
    // Sums of logarithms, not products: a few hundred small factors would
    // underflow a double.
    double lnGood = 0;
    double lnJunk = 0;
    for (const TokenWeight* weight : used) {
      const double f = std::clamp(weight->Probability, 1e-12, 1.0 - 1e-12);
      lnGood += std::log(f);
      lnJunk += std::log(1.0 - f);
    }
    const int k = static_cast<int>(used.size());
    const double h = ChiSquareSurvival(-2.0 * lnGood, k);
    const double s = ChiSquareSurvival(-2.0 * lnJunk, k);
    judgement.Score = (1.0 + h - s) / 2.0;
  }
  judgement.Verdict = VerdictOfScore(judgement.Score, settings);
  const bool towardsJunk = judgement.Score > 0.5;
  // Only the few strongest on the verdict's side are wanted: no full sort.
  std::vector<const TokenWeight*> side;
  for (const TokenWeight* weight : used) {
    if ((weight->Probability > settings.Unknown) == towardsJunk) side.push_back(weight);
  }
  const size_t keep = std::min(strongestCount, side.size());
  std::partial_sort(side.begin(), side.begin() + static_cast<std::ptrdiff_t>(keep), side.end(), stronger);
  for (size_t i = 0; i < keep; ++i) judgement.Strongest.push_back({std::string(side[i]->Token), side[i]->Probability});
  return judgement;
}

}  // namespace brevan
