// Small arithmetic shared by the effect units.
#pragma once

#include <cmath>
#include <cstdint>

namespace velorna {

// Magnitudes below this are written as zero into every feedback path. It keeps denormals out
// without injecting noise and lets a decaying tail reach exact zero; the change it makes is
// hundreds of decibels below any signal it rides on, i.e. within float rounding of the result.
inline constexpr float kEffectFlushBelow = 1e-18f;

inline float Flush(float x) {
  return std::fabs(x) < kEffectFlushBelow ? 0.0f : x;
}

// Division rounding toward negative infinity, for song positions before a modulation step.
inline int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

inline int64_t PowerOfTwoAtLeast(int64_t n) {
  int64_t size = 1;
  while (size < n) size *= 2;
  return size;
}

}  // namespace velorna
