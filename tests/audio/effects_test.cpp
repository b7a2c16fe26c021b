// Properties both effect units must share so that renderings can be cut, skipped and summed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/chorus.h"
#include "audio/reverb.h"

namespace velorna {
namespace {

struct Stereo {
  std::vector<float> left;
  std::vector<float> right;
};

// Deterministic noise burst of `length` samples starting at `at`, inside `total` samples.
std::vector<float> Burst(size_t total, size_t at, size_t length, uint32_t seed, float amp = 0.5f) {
  std::vector<float> v(total, 0.0f);
  uint32_t x = seed;
  for (size_t i = at; i < std::min(total, at + length); ++i) {
    x = x * 1664525u + 1013904223u;
    v[i] = amp * (static_cast<float>(x >> 8) / 8388608.0f - 1.0f);
  }
  return v;
}

// Runs `unit` over `send` from song sample `start` in blocks cycling through `blocks`.
template <typename Unit>
Stereo Run(Unit& unit, const std::vector<float>& send, int64_t start = 0,
           std::vector<size_t> blocks = {64}) {
  Stereo out{std::vector<float>(send.size(), 0.0f), std::vector<float>(send.size(), 0.0f)};
  size_t pos = 0;
  for (size_t k = 0; pos < send.size(); ++k) {
    const size_t n = std::min(blocks[k % blocks.size()], send.size() - pos);
    unit.Process(start + static_cast<int64_t>(pos), std::span(send).subspan(pos, n),
                 std::span(out.left).subspan(pos, n), std::span(out.right).subspan(pos, n));
    pos += n;
  }
  return out;
}

bool SameBytes(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

float Peak(const std::vector<float>& v) {
  float p = 0;
  for (float x : v) p = std::max(p, std::fabs(x));
  return p;
}

template <typename Unit>
class EffectUnitTest : public testing::Test {};
using Units = testing::Types<Reverb, Chorus>;
TYPED_TEST_SUITE(EffectUnitTest, Units);

TYPED_TEST(EffectUnitTest, SumOfInputsGivesSumOfOutputs) {
  const size_t total = 30000;
  const auto a = Burst(total, 100, 5000, 1);
  const auto b = Burst(total, 2000, 9000, 2, 0.3f);
  std::vector<float> ab(total);
  for (size_t i = 0; i < total; ++i) ab[i] = a[i] + b[i];
  TypeParam ua, ub, uab;
  const Stereo oa = Run(ua, a, 777), ob = Run(ub, b, 777), oab = Run(uab, ab, 777);
  const float tolerance = 1e-5f * Peak(oab.left);
  ASSERT_GT(Peak(oab.left), 0.01f);
  for (size_t i = 0; i < total; ++i) {
    ASSERT_NEAR(oab.left[i], oa.left[i] + ob.left[i], tolerance) << i;
    ASSERT_NEAR(oab.right[i], oa.right[i] + ob.right[i], tolerance) << i;
  }
}

TYPED_TEST(EffectUnitTest, OutputIsTheSameBytesForAnyBlockingAndRun) {
  const auto send = Burst(20000, 50, 3000, 3);
  TypeParam u1, u2, u3;
  const Stereo o1 = Run(u1, send, 123456789, {64});
  const Stereo o2 = Run(u2, send, 123456789, {1, 7, 300, 4096, 129});
  const Stereo o3 = Run(u3, send, 123456789, {64});
  EXPECT_TRUE(SameBytes(o1.left, o2.left));
  EXPECT_TRUE(SameBytes(o1.right, o2.right));
  EXPECT_TRUE(SameBytes(o1.left, o3.left));
  EXPECT_TRUE(SameBytes(o1.right, o3.right));
}

TYPED_TEST(EffectUnitTest, StartingLateGivesTheSameBytesAsZerosBefore) {
  const size_t lead = 10007;
  const auto send = Burst(40000, lead + 20, 4000, 4);
  TypeParam full, late;
  const Stereo fromZero = Run(full, send, 0, {64});
  const std::vector<float> tail(send.begin() + lead, send.end());
  const Stereo fromLead = Run(late, tail, static_cast<int64_t>(lead), {100});
  EXPECT_TRUE(SameBytes(std::vector<float>(fromZero.left.begin() + lead, fromZero.left.end()),
                        fromLead.left));
  EXPECT_TRUE(SameBytes(std::vector<float>(fromZero.right.begin() + lead, fromZero.right.end()),
                        fromLead.right));
}

TYPED_TEST(EffectUnitTest, ZeroInAddsExactlyNothing) {
  TypeParam unit;
  EXPECT_TRUE(unit.IsSilent());
  std::vector<float> zeros(5000, 0.0f);
  std::vector<float> left(5000, 0.25f), right(5000, -0.5f);
  unit.Process(987654, zeros, left, right);
  EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](float x) { return x == 0.25f; }));
  EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](float x) { return x == -0.5f; }));
  EXPECT_TRUE(unit.IsSilent());
}

// A tail dies out to exact zeros, after which the caller may skip ahead: resuming later must
// give the bytes of a unit that was fed the zeros in between.
TYPED_TEST(EffectUnitTest, TailEndsInExactSilenceThatMayBeSkipped) {
  const size_t block = 64;
  TypeParam skipping, feeding;
  const auto burst = Burst(block * 20, 0, block * 20, 5);
  Run(skipping, burst, 0);
  Run(feeding, burst, 0);
  EXPECT_FALSE(skipping.IsSilent());

  std::vector<float> zeros(block, 0.0f), left(block), right(block);
  int64_t pos = static_cast<int64_t>(burst.size());
  const int64_t limit = 30 * 44100;
  while (!skipping.IsSilent() && pos < limit) {
    std::fill(left.begin(), left.end(), 0.0f);
    skipping.Process(pos, zeros, left, right);
    pos += block;
  }
  ASSERT_TRUE(skipping.IsSilent()) << "no exact silence within 30 s";
  EXPECT_EQ(Peak(left), 0.0f);

  const int64_t resume = pos + 44100 + 13;
  const std::vector<float> gap(static_cast<size_t>(resume) - burst.size(), 0.0f);
  Run(feeding, gap, static_cast<int64_t>(burst.size()));
  ASSERT_TRUE(feeding.IsSilent());
  const auto again = Burst(8000, 10, 3000, 6);
  const Stereo a = Run(skipping, again, resume, {64});
  const Stereo b = Run(feeding, again, resume, {64});
  EXPECT_GT(Peak(a.left), 0.0f);
  EXPECT_TRUE(SameBytes(a.left, b.left));
  EXPECT_TRUE(SameBytes(a.right, b.right));
}

}  // namespace
}  // namespace velorna
