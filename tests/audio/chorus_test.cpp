#include "audio/chorus.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "base/limits.h"

namespace velorna {
namespace {

constexpr double kMin = kChorusMinDelayMs * kSampleRate / 1000.0;
constexpr double kDepth = 8.0 * kSampleRate / 1000.0;

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
    EXPECT_GE(lo, kMin - 1e-3) << v;
    EXPECT_LE(hi, kMin + kDepth + 1e-3) << v;
    EXPECT_LT(lo, kMin + 0.01 * kDepth) << v;
    EXPECT_GT(hi, kMin + 0.99 * kDepth) << v;
    // The same song sample a whole period later gives the same delay.
    EXPECT_NEAR(chorus.VoiceDelay(v, 1000), chorus.VoiceDelay(v, 1000 + 100 * period), 1e-3);
  }
  // Voices are spread in phase.
  EXPECT_GT(std::fabs(chorus.VoiceDelay(0, 0) - chorus.VoiceDelay(1, 0)), 1.0);
}

TEST(ChorusTest, ImpulseComesBackWithinTheDelayRangeAtTheLevel) {
  for (int64_t at : {int64_t{0}, int64_t{36750}, int64_t{1000000007}}) {
    Chorus chorus;
    const size_t length = 1000;
    std::vector<float> send(length, 0.0f), left(length, 0.0f), right(length, 0.0f);
    send[0] = 1.0f;
    chorus.Process(at, send, left, right);
    double sum = 0;
    for (size_t i = 0; i < length; ++i) {
      if (left[i] != 0.0f || right[i] != 0.0f) {
        EXPECT_GE(double(i), std::floor(kMin)) << at;
        EXPECT_LE(double(i), std::ceil(kMin + kDepth) + 1) << at;
      }
      sum += left[i] + right[i];
    }
    EXPECT_NEAR(sum, 2.0, 0.02) << at;  // the level
    // Three voices from left to right: the outer ones are heard on one side only.
    double onlyLeft = 0;
    for (size_t i = 0; i < length; ++i) onlyLeft += left[i];
    EXPECT_NEAR(onlyLeft, 1.0, 0.01) << at;
  }
}

}  // namespace
}  // namespace velorna
