// Samples in 32.32 fixed point, the form the song-time sums add them in: integer sums come
// out the same in any order, so the thread count never changes a byte.
#pragma once

#include <cstdint>
#include <span>

namespace velorna {

// 32 fractional bits: far below a 16-bit step, with room for any number of renderings.
inline constexpr double kFixedScale = 4294967296.0;        // 2^32
inline constexpr double kFixedLimit = 1125899906842624.0;  // 2^50: |sample| below 2^18

// x * 2^32 truncated toward zero; 0 for NaN, infinities and |x * 2^32| >= 2^50 (never
// reached by real voices). The definition the block conversions below must match.
[[nodiscard]] inline int64_t ToFixed(float x) {
  const double v = static_cast<double>(x) * kFixedScale;
  if (!(v > -kFixedLimit && v < kFixedLimit)) return 0;
  return static_cast<int64_t>(v);
}

[[nodiscard]] inline float FromFixed(int64_t v) {
  return static_cast<float>(static_cast<double>(v) / kFixedScale);
}

// The ways a block conversion can run; each gives ToFixed's integers.
enum class FixedPath { kPortable, kAvx2 };

[[nodiscard]] bool FixedPathRuns(FixedPath path);

// Converts `from` into `to` (the same size) with ToFixed, on the fastest path this CPU runs;
// returns whether any result is non-zero.
[[nodiscard]] bool ToFixedBlock(std::span<const float> from, std::span<int64_t> to);
// The same on a given path, which must run here (FixedPathRuns).
[[nodiscard]] bool ToFixedBlockOn(FixedPath path, std::span<const float> from,
                                  std::span<int64_t> to);

// to[i] += from[i] for spans of the same size.
void AddFixed(std::span<const int64_t> from, std::span<int64_t> to);

}  // namespace velorna
