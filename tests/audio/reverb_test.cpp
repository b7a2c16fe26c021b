#include "audio/reverb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/cpu_features.h"
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

double Energy(const std::vector<float>& v, size_t from, size_t to) {
  double e = 0;
  for (size_t i = from; i < to; ++i) e += double(v[i]) * v[i];
  return e;
}

// Seconds to fall by 60 dB, from the energy left at two points of the tail.
double DecayTime(const std::vector<float>& v, size_t from, size_t to) {
  const double drop = 10 * std::log10(Energy(v, from, v.size()) / Energy(v, to, v.size()));
  return 60.0 / drop * double(to - from) / kSampleRate;
}

TEST(ReverbTest, ImpulseGivesATailThatDecaysAtTheRoomsRate) {
  const size_t length = 6 * kSampleRate;
  const Reverb reverb;
  const Response small = Impulse({}, length);
  // Nothing comes out before the shortest line, less its swing, has gone round once.
  const auto first = static_cast<size_t>(reverb.LineDelay(0) - 4);
  for (size_t i = 0; i < first; ++i) ASSERT_EQ(small.left[i], 0.0f) << i;
  EXPECT_NE(Energy(small.left, first, first + 16), 0.0);
  // FluidSynth's lines at 44.1 kHz: about 60 ms to 112 ms, and a decay of about 0.98 s.
  EXPECT_NEAR(reverb.LineDelay(0) * 1000.0 / kSampleRate, 59.4, 0.1);
  EXPECT_NEAR(reverb.LineDelay(kReverbLines - 1) * 1000.0 / kSampleRate, 111.5, 0.1);
  EXPECT_NEAR(reverb.DecayTime(), 0.976, 0.005);
  // The tail decays as set, quarter second by quarter second.
  const size_t quarter = kSampleRate / 4;
  for (size_t w = 1; w < 8; ++w) {
    EXPECT_LT(Energy(small.left, w * quarter, (w + 1) * quarter),
              Energy(small.left, (w - 1) * quarter, w * quarter))
        << w;
  }
  EXPECT_NEAR(DecayTime(small.left, kSampleRate / 4, kSampleRate), reverb.DecayTime(),
              0.1 * reverb.DecayTime());
  const Reverb large({.roomSize = 0.8});
  EXPECT_GT(large.DecayTime(), 3 * reverb.DecayTime());
  EXPECT_NEAR(DecayTime(Impulse({.roomSize = 0.8}, length).left, kSampleRate / 4, kSampleRate),
              large.DecayTime(), 0.1 * large.DecayTime());
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
  while (!reverb.IsSilent() && pos < 60 * kSampleRate) {
    reverb.Process(pos, block, left, right);
    pos += 64;
  }
  EXPECT_TRUE(reverb.IsSilent());
  reverb.Clear();
  EXPECT_TRUE(reverb.IsSilent());
}

// The lines read side by side give the portable loops' very bytes: over rooms, rates and
// widths, calls of odd lengths at odd song positions (steps and the ring's end fall inside
// chunks), loud and denormal sends, silences the tail dies away in, and a start before zero.
TEST(ReverbTest, VectorPathGivesThePortableBytes) {
  if (!CpuHasAvx2()) GTEST_SKIP() << "this CPU has no AVX2";
  const ReverbParams cases[] = {
      {},
      {.roomSize = 1.0, .damping = 0.7, .width = 1.0},
      {.roomSize = 0.6, .damping = 0.2, .width = 3.0, .sampleRate = 96000},
      {.roomSize = 0.0, .damping = 1.0, .width = 0.0, .sampleRate = 22050},
  };
  for (const ReverbParams& params : cases) {
    ReverbParams portableParams = params;
    portableParams.avx2 = false;
    Reverb vector(params), portable(portableParams);
    std::mt19937 random(params.sampleRate);
    std::uniform_real_distribution<float> level(-1.0f, 1.0f);
    std::uniform_int_distribution<int> length(1, 700);
    int64_t pos = -1234;
    for (int call = 0; call < 400; ++call) {
      const auto n = static_cast<size_t>(length(random));
      std::vector<float> send(n, 0.0f);
      // Sound, then denormals and quiet, then silence long enough to end the tail.
      const int phase = call % 40;
      for (float& x : send) {
        x = phase < 10 ? level(random) : phase < 14 ? level(random) * 1e-39f : 0.0f;
      }
      std::vector<float> leftA(n, 0.5f), rightA(n, -0.5f), leftB = leftA, rightB = rightA;
      vector.Process(pos, send, leftA, rightA);
      portable.Process(pos, send, leftB, rightB);
      ASSERT_EQ(std::memcmp(leftA.data(), leftB.data(), n * sizeof(float)), 0) << "at " << pos;
      ASSERT_EQ(std::memcmp(rightA.data(), rightB.data(), n * sizeof(float)), 0) << "at " << pos;
      ASSERT_EQ(vector.IsSilent(), portable.IsSilent());
      pos += static_cast<int64_t>(n);
    }
  }
}

}  // namespace
}  // namespace velorna
