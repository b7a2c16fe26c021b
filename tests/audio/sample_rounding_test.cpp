#include "audio/sample_rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace velorna {
namespace {

// The writers' vector loop must round every sample as the reference rounding does: halves,
// their neighbours one ulp either side, and random values across a 24-bit depth's range.
TEST(SampleRounding, BranchFreeRoundingAgreesEverywhereWithinFullScale) {
  constexpr double kFull24 = 8388608.0;
  const auto check = [](double v) {
    ASSERT_EQ(RoundSmallSample(v), RoundSample(v)) << std::hexfloat << v;
  };
  for (double n = -kFull24 - 1; n <= kFull24 + 1; n += 997) {
    for (const double half : {n - 0.5, n + 0.5, n}) {
      check(half);
      check(std::nextafter(half, 0.0));
      check(std::nextafter(half, half < 0 ? -kFull24 * 2 : kFull24 * 2));
    }
  }
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> anywhere(-kFull24, kFull24);
  std::uniform_real_distribution<double> small(-4.0, 4.0);
  for (int i = 0; i < 200000; ++i) {
    check(anywhere(random));
    check(small(random));
  }
  for (const double v : {0.0, -0.0, 0.49999999999999994, -0.49999999999999994, 1.5, -2.5}) check(v);
}

}  // namespace
}  // namespace velorna
