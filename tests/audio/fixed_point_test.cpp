// The block conversions to fixed point must give ToFixed's integers for every float, on
// every path this CPU runs: the sums, and so the output bytes, rest on them.
#include "audio/fixed_point.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace velorna {
namespace {

std::vector<FixedPath> PathsHere() {
  std::vector<FixedPath> paths;
  for (FixedPath path : {FixedPath::kPortable, FixedPath::kAvx2}) {
    if (FixedPathRuns(path)) paths.push_back(path);
  }
  return paths;
}

// Values at the edges of the conversion, each with its neighbours and its negative.
std::vector<float> EdgeValues() {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::vector<float> edges = {
      0.0f,
      std::numeric_limits<float>::denorm_min(),
      std::numeric_limits<float>::min(),  // smallest normal
      std::ldexp(1.0f, -33),              // half a unit: truncated to 0
      std::ldexp(1.0f, -32),              // one unit
      std::ldexp(1.5f, -32),
      std::ldexp(1.0f, -9),  // exponent 118: the significand needs no shift
      1.0f,
      0.999999f,
      std::ldexp(1.0f, 17),
      std::ldexp(1.0f, 18),  // |x * 2^32| = 2^50: out of range
      std::nextafter(std::ldexp(1.0f, 18), 0.0f),
      std::numeric_limits<float>::max(),
      kInf,
      std::numeric_limits<float>::quiet_NaN(),
      std::numeric_limits<float>::signaling_NaN(),
  };
  std::vector<float> values;
  for (float edge : edges) {
    for (float v : {edge, std::nextafter(edge, kInf), std::nextafter(edge, -kInf)}) {
      values.push_back(v);
      values.push_back(-v);
    }
  }
  return values;
}

TEST(FixedPoint, EveryPathGivesToFixedsIntegers) {
  std::vector<float> values = EdgeValues();
  // Random bit patterns reach every exponent, denormals, infinities and NaNs alike; random
  // samples in the voices' range are what the sums mostly see.
  std::mt19937 random(20261208);
  std::uniform_real_distribution<float> sample(-2.0f, 2.0f);
  for (int i = 0; i < 200000; ++i) {
    values.push_back(std::bit_cast<float>(static_cast<uint32_t>(random())));
    values.push_back(sample(random));
  }
  values.push_back(0.5f);  // an odd length: the vector path's tail runs too
  std::vector<int64_t> expected(values.size());
  for (size_t i = 0; i < values.size(); ++i) expected[i] = ToFixed(values[i]);

  const std::vector<FixedPath> paths = PathsHere();
  EXPECT_FALSE(paths.empty());
  for (FixedPath path : paths) {
    SCOPED_TRACE(path == FixedPath::kAvx2 ? "avx2" : "portable");
    std::vector<int64_t> got(values.size());
    EXPECT_TRUE(ToFixedBlockOn(path, values, got));
    for (size_t i = 0; i < values.size(); ++i) {
      ASSERT_EQ(got[i], expected[i]) << "float bits " << std::bit_cast<uint32_t>(values[i]);
    }
  }
}

TEST(FixedPoint, BlocksThatGiveOnlyZerosAreSilent) {
  const float tiny = std::ldexp(1.0f, -40);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    std::vector<float> block;
    bool sounds;
  } cases[] = {
      {std::vector<float>(64, 0.0f), false},
      {std::vector<float>(64, -0.0f), false},
      {std::vector<float>(67, tiny), false},  // each below one unit
      {std::vector<float>(5, nan), false},
      {{0.0f, 0.0f, 0.0f, 0.0f, 0.0f, -tiny, 1e-6f}, true},  // the tail's only sound
      {{0.0f, -0.25f, 0.0f, 0.0f}, true},
  };
  for (FixedPath path : PathsHere()) {
    for (const auto& c : cases) {
      std::vector<int64_t> got(c.block.size(), 1);
      EXPECT_EQ(ToFixedBlockOn(path, c.block, got), c.sounds);
    }
  }
}

}  // namespace
}  // namespace velorna
