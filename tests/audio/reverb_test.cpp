#include "audio/reverb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/limits.h"

namespace velorna {
namespace {

struct Response {
  std::vector<float> left;
  std::vector<float> right;
};

Response Impulse(const ReverbParams& params, size_t length) {
  Reverb reverb(params);
  std::vector<float> send(length, 0.0f);
  send[0] = 1.0f;
  Response r{std::vector<float>(length, 0.0f), std::vector<float>(length, 0.0f)};
  reverb.Process(0, send, r.left, r.right);
  return r;
}

// Seconds until the 10 ms RMS of the left side stays 60 dB under its loudest window.
double DecayTime(const std::vector<float>& v) {
  const size_t window = kSampleRate / 100;
  std::vector<double> rms;
  for (size_t at = 0; at + window <= v.size(); at += window) {
    double e = 0;
    for (size_t i = at; i < at + window; ++i) e += double(v[i]) * v[i];
    rms.push_back(std::sqrt(e / window));
  }
  double peak = 0;
  for (double x : rms) peak = std::max(peak, x);
  size_t last = 0;
  for (size_t i = 0; i < rms.size(); ++i) {
    if (rms[i] > peak * 1e-3) last = i;
  }
  return double(last + 1) * window / kSampleRate;
}

double Energy(const std::vector<float>& v, size_t from, size_t to) {
  double e = 0;
  for (size_t i = from; i < to; ++i) e += double(v[i]) * v[i];
  return e;
}

TEST(ReverbTest, ImpulseGivesADecayingTailThatGrowsWithTheRoom) {
  const size_t length = 6 * kSampleRate;
  const Response small = Impulse({.roomSize = 0.2}, length);
  // Nothing comes out before the shortest comb has gone round once.
  for (size_t i = 0; i < 1116; ++i) ASSERT_EQ(small.left[i], 0.0f) << i;
  EXPECT_NE(small.left[1116], 0.0f);
  // The tail decays window by window.
  const size_t quarter = kSampleRate / 4;
  for (size_t w = 1; w < 8; ++w) {
    EXPECT_LT(Energy(small.left, w * quarter, (w + 1) * quarter),
              Energy(small.left, (w - 1) * quarter, w * quarter))
        << w;
  }
  const double t02 = DecayTime(small.left);
  const double t05 = DecayTime(Impulse({.roomSize = 0.5}, length).left);
  const double t08 = DecayTime(Impulse({.roomSize = 0.8}, length).left);
  EXPECT_GT(t02, 0.3);
  EXPECT_LT(t02, 2.0);
  EXPECT_LT(t02 * 1.2, t05);
  EXPECT_LT(t05 * 1.2, t08);
}

TEST(ReverbTest, WidthAndDampingShapeTheTail) {
  const size_t length = 2 * kSampleRate;
  const Response narrow = Impulse({.width = 0.0}, length);
  EXPECT_EQ(std::memcmp(narrow.left.data(), narrow.right.data(), length * sizeof(float)), 0);
  const Response wide = Impulse({.width = 1.0}, length);
  EXPECT_NE(std::memcmp(wide.left.data(), wide.right.data(), length * sizeof(float)), 0);

  // High frequencies lost on every round leave less energy late in the tail.
  const Response damped = Impulse({.damping = 1.0}, length);
  const Response bright = Impulse({}, length);
  EXPECT_LT(Energy(damped.left, kSampleRate / 2, length),
            0.5 * Energy(bright.left, kSampleRate / 2, length));
  EXPECT_GT(Energy(damped.left, kSampleRate / 2, length), 0.0);
}

TEST(ReverbTest, DampedTailAlsoEndsInExactSilence) {
  Reverb reverb({.damping = 0.7});
  std::vector<float> block(64, 0.0f), left(64), right(64);
  block[0] = 1.0f;
  reverb.Process(0, block, left, right);
  block[0] = 0.0f;
  int64_t pos = 64;
  while (!reverb.IsSilent() && pos < 30 * kSampleRate) {
    reverb.Process(pos, block, left, right);
    pos += 64;
  }
  EXPECT_TRUE(reverb.IsSilent());
  reverb.Clear();
  EXPECT_TRUE(reverb.IsSilent());
}

}  // namespace
}  // namespace velorna
