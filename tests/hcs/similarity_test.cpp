#include "service/similarity.h"

#include <string>

#include <gtest/gtest.h>

namespace hcs::service {
namespace {

struct SimilarityCase {
  std::u32string a;
  std::u32string b;
  double expected;
};

class JaroWinkler : public ::testing::TestWithParam<SimilarityCase> {};

TEST_P(JaroWinkler, MatchesPublishedValuesBothWays) {
  const SimilarityCase& c = GetParam();
  EXPECT_NEAR(jaroWinkler(c.a, c.b), c.expected, 5e-5);
  EXPECT_NEAR(jaroWinkler(c.b, c.a), c.expected, 5e-5);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JaroWinkler,
    ::testing::Values(SimilarityCase{U"martha", U"marhta", 0.9611},  // one transposition
                      SimilarityCase{U"dwayne", U"duane", 0.8400},
                      SimilarityCase{U"dixon", U"dicksonx", 0.8133}, SimilarityCase{U"ann", U"anne", 0.9417},
                      SimilarityCase{U"abc", U"xyz", 0.0}, SimilarityCase{U"", U"", 1.0},
                      SimilarityCase{U"a", U"", 0.0}, SimilarityCase{U"a", U"a", 1.0},
                      SimilarityCase{U"ab", U"ba", 0.0},           // matches must lie within the window
                      SimilarityCase{U"crate", U"trace", 0.7333},  // no common prefix, no bonus
                      SimilarityCase{U"zoë", U"zoe", 0.8222},      // code points, not bytes
                      SimilarityCase{U"\U0001F600x", U"\U0001F600y", 0.6667}));  // under 0.7: no prefix bonus

TEST(JaroWinkler, LongTextsUseTheHeapPathAndAgree) {
  const std::u32string a(300, U'a');
  std::u32string b = a;
  b[150] = U'b';
  const double expected = (299.0 / 300 + 299.0 / 300 + 1.0) / 3;
  EXPECT_NEAR(jaroWinkler(a, b), expected + 0.4 * (1 - expected), 1e-9);
}

}  // namespace
}  // namespace hcs::service
