#include "audio/chorus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/limits.h"

namespace velorna {
namespace {

// 8 ms peak to peak, in whole samples, either side of the mean delay.
constexpr double kHalfDepth = 176;

TEST(ChorusTest, DelaysSwingOverTheWholeDepthAndNoFurther) {
  const Chorus chorus;
  const int64_t period = 147000;  // 0.3 Hz at 44100 Hz
  for (int v = 0; v < 3; ++v) {
    double lo = 1e9, hi = -1e9;
    for (int64_t s = 0; s < period; s += 7) {
      const double d = chorus.VoiceDelay(v, s);
      lo = std::min(lo, d);
      hi = std::max(hi, d);
    }
    // Never shorter than a sample, so a voice only reads what has been written.
    EXPECT_GE(lo, 1.0 - 1e-6) << v;
    EXPECT_LE(hi, 1.0 + 2 * kHalfDepth + 1e-6) << v;
    EXPECT_LT(lo, 1.0 + 0.01 * kHalfDepth) << v;
    EXPECT_GT(hi, 1.0 + 1.99 * kHalfDepth) << v;
    // The same song sample a whole period later gives the same delay.
    EXPECT_NEAR(chorus.VoiceDelay(v, 1000), chorus.VoiceDelay(v, 1000 + 100 * period), 1e-3);
  }
  // Voices are a third of a period apart.
  EXPECT_NEAR(chorus.VoiceDelay(0, 0), chorus.VoiceDelay(1, 2 * period / 3), 0.5);
  EXPECT_NEAR(chorus.VoiceDelay(0, 0), chorus.VoiceDelay(2, period / 3), 0.5);
}

// The allpass interpolators pass a constant unchanged however they are modulated, so a steady
// send comes out at the stereo unit's gain: each side holds two voices (the last voice sits on
// both), mixed at level * 11/6 into its own channel and at -level * 9/6 into the other.
TEST(ChorusTest, SteadySendComesOutAtTheStereoUnitsGainOnBothSides) {
  for (int64_t at : {int64_t{0}, int64_t{36750}, int64_t{1000000007}}) {
    Chorus chorus;
    const size_t length = 4000;
    std::vector<float> send(length, 0.25f), left(length, 0.0f), right(length, 0.0f);
    chorus.Process(at, send, left, right);
    EXPECT_EQ(left[0], 0.0f) << at;  // no voice is shorter than a sample
    const double level = 2.0;
    const double gain = 2 * level * (11.0 / 6.0 - 9.0 / 6.0);
    for (size_t i = 1000; i < length; ++i) {
      ASSERT_NEAR(left[i], 0.25 * gain, 1e-5) << at << " " << i;
      ASSERT_NEAR(right[i], 0.25 * gain, 1e-5) << at << " " << i;
    }
  }
}

}  // namespace
}  // namespace velorna
