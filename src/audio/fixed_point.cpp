#include "audio/fixed_point.h"

#include <bit>
#include <cstddef>

#include "audio/cpu_features.h"
#include "base/limits.h"

#ifdef VELORNA_X86
#include <immintrin.h>
#endif

namespace velorna {

namespace {

// ToFixed from the float's bits, so that no double conversion (which AVX2 lacks for int64)
// is needed: x * 2^32 = significand * 2^(exponent - 118), truncated by the shift.
constexpr uint32_t kExponentMask = 0xFF;
constexpr int kSignificandBits = 23;
constexpr uint32_t kFractionMask = (uint32_t{1} << kSignificandBits) - 1;
constexpr uint32_t kImplicitOne = uint32_t{1} << kSignificandBits;
constexpr int kUnitExponent = 118;   // biased exponent whose significand is already x * 2^32
constexpr int kFirstTooLarge = 145;  // |x| >= 2^18: |x * 2^32| >= 2^50

inline int64_t FixedFromBits(uint32_t bits) {
  const int exponent = static_cast<int>((bits >> kSignificandBits) & kExponentMask);
  const uint64_t significand = (bits & kFractionMask) | (exponent != 0 ? kImplicitOne : 0);
  const int up = exponent - kUnitExponent;
  // Shifts of 63 already clear a 24-bit significand (denormals and tiny values give 0).
  uint64_t magnitude =
      up >= 0 ? significand << (up < 63 ? up : 63) : significand >> (-up < 63 ? -up : 63);
  if (exponent >= kFirstTooLarge) magnitude = 0;
  const uint64_t negative = uint64_t{0} - (bits >> 31);
  return static_cast<int64_t>((magnitude ^ negative) - negative);
}

bool ToFixedPortable(std::span<const float> from, std::span<int64_t> to) {
  uint64_t any = 0;
  for (size_t i = 0; i < from.size(); ++i) {
    to[i] = FixedFromBits(std::bit_cast<uint32_t>(from[i]));
    any |= static_cast<uint64_t>(to[i]);
  }
  return any != 0;
}

void AddPortable(std::span<const int64_t> from, std::span<int64_t> to) {
  for (size_t i = 0; i < from.size(); ++i) to[i] += from[i];
}

#ifdef VELORNA_X86

constexpr size_t kAvx2Floats = 8;  // per register; their results fill two

// FixedFromBits on eight floats at a time: the fields in 32-bit lanes, then the shifts in
// 64-bit ones, half by half. Variable shifts by counts of 64 or more (a negative 32-bit count
// widened without its sign is one) give 0, so both directions are taken and or-ed.
__attribute__((target("avx2"))) bool ToFixedAvx2(std::span<const float> from,
                                                 std::span<int64_t> to) {
  const __m256i exponentMask = _mm256_set1_epi32(kExponentMask);
  const __m256i fractionMask = _mm256_set1_epi32(kFractionMask);
  const __m256i implicitOne = _mm256_set1_epi32(kImplicitOne);
  const __m256i unit = _mm256_set1_epi32(kUnitExponent);
  const __m256i lastFitting = _mm256_set1_epi32(kFirstTooLarge - 1);
  const __m256i zero = _mm256_setzero_si256();
  __m256i any = zero;
  size_t i = 0;
  for (; i + kAvx2Floats <= from.size(); i += kAvx2Floats) {
    const __m256i bits = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from.data() + i));
    const __m256i exponent =
        _mm256_and_si256(_mm256_srli_epi32(bits, kSignificandBits), exponentMask);
    const __m256i normal = _mm256_andnot_si256(_mm256_cmpeq_epi32(exponent, zero), implicitOne);
    __m256i significand = _mm256_or_si256(_mm256_and_si256(bits, fractionMask), normal);
    significand = _mm256_andnot_si256(_mm256_cmpgt_epi32(exponent, lastFitting), significand);
    const __m256i up = _mm256_sub_epi32(exponent, unit);
    const __m256i down = _mm256_sub_epi32(unit, exponent);
    const __m256i negative = _mm256_srai_epi32(bits, 31);
    const __m128i halves[2][4] = {
        {_mm256_castsi256_si128(significand), _mm256_castsi256_si128(up),
         _mm256_castsi256_si128(down), _mm256_castsi256_si128(negative)},
        {_mm256_extracti128_si256(significand, 1), _mm256_extracti128_si256(up, 1),
         _mm256_extracti128_si256(down, 1), _mm256_extracti128_si256(negative, 1)},
    };
    for (size_t h = 0; h < 2; ++h) {
      const __m256i wide = _mm256_cvtepu32_epi64(halves[h][0]);
      const __m256i magnitude =
          _mm256_or_si256(_mm256_sllv_epi64(wide, _mm256_cvtepu32_epi64(halves[h][1])),
                          _mm256_srlv_epi64(wide, _mm256_cvtepu32_epi64(halves[h][2])));
      const __m256i sign = _mm256_cvtepi32_epi64(halves[h][3]);
      const __m256i fixed = _mm256_sub_epi64(_mm256_xor_si256(magnitude, sign), sign);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(to.data() + i + h * kAvx2Floats / 2), fixed);
      any = _mm256_or_si256(any, fixed);
    }
  }
  const bool rest = ToFixedPortable(from.subspan(i), to.subspan(i));
  return rest || !_mm256_testz_si256(any, any);
}

// The plain loop, which the compiler widens to AVX2 here.
__attribute__((target("avx2"))) void AddAvx2(std::span<const int64_t> from, std::span<int64_t> to) {
  // A whole synthesizer block, the usual case, with its length known: the loop is unrolled.
  if (from.size() == kBlockFrames) {
    for (size_t i = 0; i < kBlockFrames; ++i) to[i] += from[i];
    return;
  }
  for (size_t i = 0; i < from.size(); ++i) to[i] += from[i];
}

#endif

using ToFixedLoop = bool (*)(std::span<const float>, std::span<int64_t>);

ToFixedLoop LoopOn(FixedPath path) {
#ifdef VELORNA_X86
  if (path == FixedPath::kAvx2) return ToFixedAvx2;
#endif
  (void)path;
  return ToFixedPortable;
}

}  // namespace

bool FixedPathRuns(FixedPath path) {
  return path == FixedPath::kPortable || CpuHasAvx2();
}

bool ToFixedBlockOn(FixedPath path, std::span<const float> from, std::span<int64_t> to) {
  return LoopOn(path)(from, to);
}

bool ToFixedBlock(std::span<const float> from, std::span<int64_t> to) {
  // Chosen once: this runs for every block of every rendering.
  static const ToFixedLoop fastest = LoopOn(CpuHasAvx2() ? FixedPath::kAvx2 : FixedPath::kPortable);
  return fastest(from, to);
}

void AddFixed(std::span<const int64_t> from, std::span<int64_t> to) {
  using AddLoop = void (*)(std::span<const int64_t>, std::span<int64_t>);
#ifdef VELORNA_X86
  static const AddLoop fastest = CpuHasAvx2() ? AddAvx2 : AddPortable;
#else
  static const AddLoop fastest = AddPortable;
#endif
  fastest(from, to);
}

}  // namespace velorna
