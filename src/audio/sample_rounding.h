// Rounding a sample to whole steps, as std::lround does (halves away from zero), without the
// library call: the mix and the writers round every sample of a song.
#pragma once

#include <cmath>
#include <cstdint>

namespace velorna {

// Far beyond any depth's full scale: every caller clips well inside it.
inline constexpr double kSampleRoundLimit = 1099511627776.0;  // 2^40

// Values beyond ±kSampleRoundLimit give the limit, and NaN its negative end, so that a
// caller's clip sends it to the lowest step as std::lround's result did.
[[nodiscard]] inline int64_t RoundSample(double v) {
  if (!(v > -kSampleRoundLimit)) v = -kSampleRoundLimit;
  if (v > kSampleRoundLimit) v = kSampleRoundLimit;
  const auto whole = static_cast<int64_t>(v);  // toward zero
  // Exact: the fraction of a double below 2^52 is itself a double.
  const double fraction = v - static_cast<double>(whole);
  return whole + (fraction >= 0.5 ? 1 : 0) - (fraction <= -0.5 ? 1 : 0);
}

// RoundSample for a value known to lie within a depth's full scale (|v| < 2^31): the same
// result without branches, so that loops over whole blocks run on vectors. Adding the
// largest double below one half, with the value's sign, and truncating rounds halves away
// from zero exactly for any |v| below 2^52.
inline constexpr double kJustBelowHalf = 0.49999999999999994;
[[nodiscard]] inline int RoundSmallSample(double v) {
  return static_cast<int>(v + std::copysign(kJustBelowHalf, v));
}

}  // namespace velorna
