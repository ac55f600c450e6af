// The combining rule against values worked out by hand from Robinson's and
// Fisher's formulas (see learn/token_combiner.h).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "learn/token_combiner.h"
#include "named_rows.h"

namespace brevan {
namespace {

// Round numbers for working by hand: s = 1, x = 0.5.
CombinerSettings HandSettings() {
  CombinerSettings settings;
  settings.Strength = 1.0;
  settings.Unknown = 0.5;
  settings.MinDeviation = 0.1;
  settings.MaxTokens = 150;
  settings.JunkCutoff = 0.9;
  settings.GoodCutoff = 0.1;
  return settings;
}

struct ProbabilityRow {
  const char* name;
  TokenCounts counts;
  uint32_t junkMessages, goodMessages;
  double expected;
};
void PrintTo(const ProbabilityRow& row, std::ostream* os) { *os << row.name; }

class TokenProbabilityTest : public ::testing::TestWithParam<ProbabilityRow> {};

TEST_P(TokenProbabilityTest, ByHand) {
  const ProbabilityRow& row = GetParam();
  EXPECT_NEAR(TokenProbability(row.counts, row.junkMessages, row.goodMessages, HandSettings()), row.expected, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TokenProbabilityTest,
    ::testing::Values(
        // p = 1; f = (0.5 + 3 * 1) / (1 + 3)
        ProbabilityRow{"junk_only", {3, 0}, 10, 10, 0.875},
        // p = 0; f = (0.5 + 0) / (1 + 1)
        ProbabilityRow{"good_once", {0, 1}, 10, 10, 0.25},
        // p = 0.1 / (0.1 + 0.05) = 2/3; f = (0.5 + 2 * 2/3) / 3
        ProbabilityRow{"ratios_not_counts", {1, 1}, 10, 20, (0.5 + 4.0 / 3.0) / 3.0},
        ProbabilityRow{"never_seen", {0, 0}, 10, 10, 0.5},
        // A count above its total is held to it: p = 1 / (1 + 0.5).
        ProbabilityRow{"count_above_total", {50, 1}, 10, 2, (0.5 + 51 * (1.0 / 1.5)) / 52},
        ProbabilityRow{"no_good_learned", {0, 4}, 10, 0, 0.5}),
    RowName<ProbabilityRow>);

struct ChiRow {
  const char* name;
  double chi2;
  int halfDegrees;
  double expected;
};
void PrintTo(const ChiRow& row, std::ostream* os) { *os << row.name; }

class ChiSquareTest : public ::testing::TestWithParam<ChiRow> {};

TEST_P(ChiSquareTest, ByHand) {
  EXPECT_NEAR(ChiSquareSurvival(GetParam().chi2, GetParam().halfDegrees), GetParam().expected, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChiSquareTest,
    ::testing::Values(ChiRow{"two_degrees", 2.0, 1, std::exp(-1.0)},           // e^-1
                      ChiRow{"four_degrees", 4.0, 2, std::exp(-2.0) * 3.0},     // e^-2 (1 + 2)
                      ChiRow{"six_degrees", 6.0, 3, std::exp(-3.0) * 8.5},      // e^-3 (1 + 3 + 4.5)
                      ChiRow{"zero_is_certain", 0.0, 5, 1.0},
                      // A thousand tokens' worth must neither overflow nor lose the sum.
                      ChiRow{"huge_degrees_small_chi", 10.0, 1000, 1.0},
                      ChiRow{"huge_chi", 5000.0, 150, 0.0}),
    RowName<ChiRow>);

struct CombineRow {
  const char* name;
  std::vector<double> probabilities;
  double score;
  LearnedVerdict verdict;
  std::vector<std::string> strongest;
};
void PrintTo(const CombineRow& row, std::ostream* os) { *os << row.name; }

class CombineTest : public ::testing::TestWithParam<CombineRow> {};

TEST_P(CombineTest, ByHand) {
  const CombineRow& row = GetParam();
  std::vector<std::string> names;
  for (size_t i = 0; i < row.probabilities.size(); ++i) names.push_back("t" + std::to_string(i));
  std::vector<TokenWeight> weights;
  for (size_t i = 0; i < row.probabilities.size(); ++i) weights.push_back({names[i], row.probabilities[i]});
  const LearnedJudgement judgement = CombineProbabilities(weights, HandSettings(), 2);
  if (row.score >= 0) EXPECT_NEAR(judgement.Score, row.score, 1e-5);
  EXPECT_EQ(judgement.Verdict, row.verdict);
  std::vector<std::string> strongest;
  for (const StrongToken& token : judgement.Strongest) strongest.push_back(token.Token);
  EXPECT_EQ(strongest, row.strongest);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CombineTest,
    ::testing::Values(
        // One token: H = e^(ln f) = f, S = 1 - f, I = (1 + f - (1 - f)) / 2 = f.
        CombineRow{"one_token_is_itself", {0.95}, 0.95, LearnedVerdict::Junk, {"t0"}},
        // H = 0.72 (1 - ln 0.72), S = 0.02 (1 - ln 0.02), I = (1 + H - S) / 2.
        CombineRow{"two_junk_tokens", {0.9, 0.8},
                   (1 + 0.72 * (1 - std::log(0.72)) - 0.02 * (1 - std::log(0.02))) / 2, LearnedVerdict::Junk,
                   {"t0", "t1"}},
        // The mirror image scores 1 - I.
        CombineRow{"two_good_tokens", {0.1, 0.2},
                   1 - (1 + 0.72 * (1 - std::log(0.72)) - 0.02 * (1 - std::log(0.02))) / 2, LearnedVerdict::Good,
                   {"t0", "t1"}},
        // Equal and opposite evidence cancels; a token at 0.55 is too near x to count.
        CombineRow{"balanced", {0.9, 0.1, 0.55}, 0.5, LearnedVerdict::Unsure, {"t1"}},
        CombineRow{"nothing_known", {}, 0.5, LearnedVerdict::Unsure, {}},
        // Strongest: those on the side of the score, farthest from x first;
        // one strong good token holds four junk ones below the junk cut-off.
        CombineRow{"strongest_on_the_scores_side", {0.7, 0.99, 0.05, 0.95, 0.96},
                   -1, LearnedVerdict::Unsure, {"t1", "t4"}}),
    RowName<CombineRow>);

// The score of the last row is not worked by hand: only its verdict and its
// strongest tokens are the point. The rows above check the arithmetic.
TEST(Combine, ScoreRangeAndSymmetry) {
  for (double a : {0.01, 0.3, 0.62, 0.999}) {
    for (double b : {0.02, 0.45, 0.8}) {
      const std::vector<TokenWeight> up = {{"a", a}, {"b", b}};
      const std::vector<TokenWeight> down = {{"a", 1 - a}, {"b", 1 - b}};
      const double i = CombineProbabilities(up, HandSettings()).Score;
      EXPECT_GE(i, 0.0);
      EXPECT_LE(i, 1.0);
      EXPECT_NEAR(i + CombineProbabilities(down, HandSettings()).Score, 1.0, 1e-9);
    }
  }
}

}  // namespace
}  // namespace brevan
