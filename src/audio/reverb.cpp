#include "audio/reverb.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/cpu_features.h"
#include "audio/effect_math.h"

#ifdef VELORNA_X86
#include <immintrin.h>
#endif

namespace velorna {
namespace {

// Nominal line lengths in samples, doubled for modal density.
constexpr std::array<int, kReverbLines> kNominalLengths = {601, 691, 773,  839,
                                                           919, 997, 1061, 1129};
constexpr double kLengthFactor = 2.0;
// FluidSynth sizes its lines for the highest sample rate it accepts and reads them over their
// whole size at lower rates: the lines are as many samples long at every rate, and so much
// longer than nominal below that rate.
constexpr double kLineSizingRate = 96000.0;
// The line lengths and the modulation depth are nominal at this rate, and grow with the rate
// above it.
constexpr double kNominalRate = 44100.0;
constexpr double kModDepth = 4.0;         // samples either side of the mean delay, nominal
constexpr int kInterpolationSamples = 1;  // room for the interpolator's second tap
constexpr int64_t kModInterval = 50;      // the modulation moves every this many samples
constexpr double kModFrequencyHz = 1.0;

constexpr float kInputGain = 0.1f;
constexpr double kWetScale = 5.0;
constexpr double kWidthCompensation = 0.2;  // keeps the level about the same at any width
constexpr double kMaxWidth = 100.0;
constexpr double kMinDecaySeconds = 0.7;   // at room size 0
constexpr double kMaxDecaySeconds = 12.5;  // at room size 1
constexpr double kDecadesPer60Db = 3.0;
constexpr double kDampingShape = 20.0 / 80.0;
constexpr float kMatrixFactor = -2.0f / kReverbLines;

constexpr size_t kChunk = kReverbChunk;

// How much longer than nominal lines and modulation are at `rate`.
double RateCompensation(double rate) {
  return std::max(1.0, rate / kNominalRate);
}

// What reading the lines over a chunk takes: the lines are independent here, so they can run
// side by side, one line per lane.
struct LineReads {
  const float* ring = nullptr;  // line l at ring + l * ringSize
  int64_t ringSize = 0;
  int64_t mask = 0;
  int64_t songSample = 0;  // of the chunk's first sample
  size_t n = 0;
  std::array<float, kReverbLines> damping0{}, dampingFb{};
  // The chunk's stretches of one modulation step each, with every line's read.
  struct Step {
    size_t from = 0, to = 0;
    std::array<int64_t, kReverbLines> back{};
    std::array<float, kReverbLines> fraction{};
  };
  std::array<Step, kChunk / kModInterval + 2> steps;
  size_t stepCount = 0;
};

void ReadLinesPortable(const LineReads& r, std::array<float, kReverbLines>& y,
                       std::array<float, kReverbLines>& low, ReverbLineOutputs& out) {
  for (size_t k = 0; k < r.stepCount; ++k) {
    const LineReads::Step& step = r.steps[k];
    for (size_t j = step.from; j < step.to; ++j) {
      const int64_t s = r.songSample + static_cast<int64_t>(j);
      for (size_t l = 0; l < kReverbLines; ++l) {
        const float* ring = r.ring + l * static_cast<size_t>(r.ringSize);
        const int64_t at = s - step.back[l];
        const float near = ring[at & r.mask];
        const float next = ring[(at + 1) & r.mask];
        y[l] = Flush(near + step.fraction[l] * (next - y[l]));
        low[l] = Flush(y[l] * r.damping0[l] + low[l] * r.dampingFb[l]);
        out[l][j] = low[l];
      }
    }
  }
}

#ifdef VELORNA_X86

__attribute__((target("avx2"))) inline __m256 FlushAvx2(__m256 x) {
  const __m256 magnitude = _mm256_and_ps(x, _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF)));
  return _mm256_andnot_ps(_mm256_cmp_ps(magnitude, _mm256_set1_ps(kEffectFlushBelow), _CMP_LT_OQ),
                          x);
}

// The portable loop's operations, in its order, on the eight lines at once. The outputs are
// kept sample by sample (a lane per line) and turned into line by line in 8x8 squares.
__attribute__((target("avx2"))) void ReadLinesAvx2(const LineReads& r,
                                                   std::array<float, kReverbLines>& y,
                                                   std::array<float, kReverbLines>& low,
                                                   ReverbLineOutputs& out) {
  static_assert(kReverbLines == 8, "one line per lane of a 256-bit register");
  const __m256i mask = _mm256_set1_epi32(static_cast<int32_t>(r.mask));
  const __m256i one = _mm256_set1_epi32(1);
  alignas(32) std::array<int32_t, kReverbLines> offsets;
  for (size_t l = 0; l < kReverbLines; ++l) {
    offsets[l] = static_cast<int32_t>(l * static_cast<size_t>(r.ringSize));
  }
  const __m256i offset = _mm256_load_si256(reinterpret_cast<const __m256i*>(offsets.data()));
  const __m256 damping0 = _mm256_loadu_ps(r.damping0.data());
  const __m256 dampingFb = _mm256_loadu_ps(r.dampingFb.data());
  __m256 vy = _mm256_loadu_ps(y.data());
  __m256 vlow = _mm256_loadu_ps(low.data());
  alignas(32) std::array<std::array<float, kReverbLines>, kChunk> rows;
  for (size_t k = 0; k < r.stepCount; ++k) {
    const LineReads::Step& step = r.steps[k];
    // Positions within the ring: wrapping in 32 bits keeps them exact, as the ring's size
    // is a power of two.
    alignas(32) std::array<int32_t, kReverbLines> start;
    for (size_t l = 0; l < kReverbLines; ++l) {
      start[l] = static_cast<int32_t>(
          (r.songSample + static_cast<int64_t>(step.from) - step.back[l]) & r.mask);
    }
    __m256i at = _mm256_load_si256(reinterpret_cast<const __m256i*>(start.data()));
    const __m256 fraction = _mm256_loadu_ps(step.fraction.data());
    for (size_t j = step.from; j < step.to; ++j) {
      const __m256i nearAt = _mm256_add_epi32(_mm256_and_si256(at, mask), offset);
      const __m256i nextAt =
          _mm256_add_epi32(_mm256_and_si256(_mm256_add_epi32(at, one), mask), offset);
      const __m256 near = _mm256_i32gather_ps(r.ring, nearAt, sizeof(float));
      const __m256 next = _mm256_i32gather_ps(r.ring, nextAt, sizeof(float));
      vy = FlushAvx2(_mm256_add_ps(near, _mm256_mul_ps(fraction, _mm256_sub_ps(next, vy))));
      vlow = FlushAvx2(_mm256_add_ps(_mm256_mul_ps(vy, damping0), _mm256_mul_ps(vlow, dampingFb)));
      _mm256_store_ps(rows[j].data(), vlow);
      at = _mm256_add_epi32(at, one);
    }
  }
  _mm256_storeu_ps(y.data(), vy);
  _mm256_storeu_ps(low.data(), vlow);

  size_t j = 0;
  for (; j + kReverbLines <= r.n; j += kReverbLines) {
    __m256 v[kReverbLines];
    for (size_t i = 0; i < kReverbLines; ++i) v[i] = _mm256_load_ps(rows[j + i].data());
    __m256 t[kReverbLines], u[kReverbLines];
    for (size_t i = 0; i < kReverbLines; i += 2) {
      t[i] = _mm256_unpacklo_ps(v[i], v[i + 1]);
      t[i + 1] = _mm256_unpackhi_ps(v[i], v[i + 1]);
    }
    for (size_t i = 0; i < kReverbLines; i += 4) {
      u[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
      u[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
      u[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
      u[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (size_t l = 0; l < kReverbLines / 2; ++l) {
      _mm256_storeu_ps(out[l].data() + j, _mm256_permute2f128_ps(u[l], u[l + 4], 0x20));
      _mm256_storeu_ps(out[l + 4].data() + j, _mm256_permute2f128_ps(u[l], u[l + 4], 0x31));
    }
  }
  for (; j < r.n; ++j) {
    for (size_t l = 0; l < kReverbLines; ++l) out[l][j] = rows[j][l];
  }
}

#endif

}  // namespace

Reverb::Reverb(const ReverbParams& params) {
  const double room = std::clamp(params.roomSize, 0.0, 1.0);
  const double damping = std::clamp(params.damping, 0.0, 1.0);
  const double width = std::clamp(params.width, 0.0, kMaxWidth);
  const double level = std::clamp(params.level, 0.0, 1.0);
  const double rate = std::max(params.sampleRate, 1);
  const double samplePeriod = 1.0 / rate;

  // Sized at the highest rate, read with the depth of this one: FluidSynth swings the read
  // position by the depth's whole samples around a centre that keeps its fraction.
  const double sizing = RateCompensation(std::max(kLineSizingRate, rate));
  const double exactDepth = kModDepth * RateCompensation(rate);
  const auto depth = static_cast<int>(exactDepth);
  const double centre = exactDepth - depth;
  int longest = 0;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const auto length = static_cast<int>(kNominalLengths[i] * kLengthFactor * sizing);
    const auto size = static_cast<int>(length + kModDepth * sizing + kInterpolationSamples);
    lines_[i].delay = size - kInterpolationSamples - depth;
    longest = std::max(longest, size);
  }

  // Each line's sine over one period, in steps of kModInterval samples; step k holds the
  // value FluidSynth's oscillator gives at its k-th update, counted from its start.
  modPeriod_ = std::max<int64_t>(std::llround(rate / (kModFrequencyHz * kModInterval)), 1);
  modulation_.resize(static_cast<size_t>(modPeriod_) * kReverbLines);
  for (size_t line = 0; line < kReverbLines; ++line) {
    for (int64_t step = 0; step < modPeriod_; ++step) {
      const double cycles = static_cast<double>(step + 1) / static_cast<double>(modPeriod_) +
                            static_cast<double>(line) / kReverbLines;
      const double offset = centre + depth * std::sin(2.0 * std::numbers::pi * cycles);
      const double whole = std::floor(offset);
      modulation_[line * static_cast<size_t>(modPeriod_) + static_cast<size_t>(step)] = {
          static_cast<int>(whole), static_cast<float>(offset - whole)};
    }
  }

  // Gains for the decay time the room size asks at low frequencies, reached by the longest line.
  const double last = lines_.back().delay;
  const auto gainFor = [&](double seconds) {
    return std::pow(10.0, -kDecadesPer60Db * last * samplePeriod / seconds);
  };
  const double gainMin = gainFor(kMinDecaySeconds);
  const double gain = gainMin + room * (gainFor(kMaxDecaySeconds) - gainMin);
  decayTime_ = -kDecadesPer60Db * std::numbers::ln10 * last * samplePeriod / std::log(gain);
  // High frequencies decay faster as damping grows; the tone corrector evens out the colour.
  const double alpha2 = 1.0 / (1.0 - damping / (kDampingShape * std::log(gain)));
  const double alpha = std::sqrt(alpha2);
  const double beta = (1.0 - alpha) / (1.0 + alpha);
  toneB1_ = static_cast<float>(1.0 / (1.0 - beta));
  toneB2_ = static_cast<float>(beta / (1.0 - beta));

  const double wet = level * kWetScale / (1.0 + width * kWidthCompensation);
  const double wet1 = wet * (width / 2.0 + 0.5);
  const double wet2 = wet * ((1.0 - width) / 2.0);
  crossMix_ = static_cast<float>(wet1 > 0.0 ? wet2 / wet1 : 0.0);
  for (size_t i = 0; i < lines_.size(); ++i) {
    Line& line = lines_[i];
    const double g = std::pow(10.0, -kDecadesPer60Db * line.delay * samplePeriod / decayTime_);
    const double a = kDampingShape * std::log(g) * (1.0 - 1.0 / alpha2);
    line.damping0 = static_cast<float>(g * (1.0 - a));
    line.dampingFb = static_cast<float>(a);
    // Signs that decorrelate the sides: left alternates every line, right every two.
    line.leftGain = static_cast<float>((i & 1) != 0 ? -wet1 : wet1);
    line.rightGain = static_cast<float>((i & 2) != 0 ? -wet1 : wet1);
  }

  // Reads reach the mean delay, the modulation and the interpolator's tap back, plus a chunk.
  ringSize_ = PowerOfTwoAtLeast(longest + static_cast<int64_t>(kChunk) + 1);
  mask_ = ringSize_ - 1;
  ring_.assign(static_cast<size_t>(ringSize_) * kReverbLines, 0.0f);
  zeroRun_ = ringSize_;
  avx2_ = params.avx2 && CpuHasAvx2();
}

void Reverb::Clear() {
  std::fill(ring_.begin(), ring_.end(), 0.0f);
  for (Line& line : lines_) line.lowpass = line.interpolated = 0.0f;
  toneState_ = 0.0f;
  zeroRun_ = ringSize_;
}

bool Reverb::IsSilent() const {
  return zeroRun_ >= ringSize_;
}

void Reverb::Process(int64_t songSample, std::span<const float> send, std::span<float> left,
                     std::span<float> right) {
  const size_t frames = std::min({send.size(), left.size(), right.size()});
  for (size_t start = 0; start < frames; start += kChunk) {
    const size_t n = std::min(kChunk, frames - start);
    ProcessChunk(songSample + static_cast<int64_t>(start), send.data() + start, left.data() + start,
                 right.data() + start, n);
  }
}

void Reverb::ProcessChunk(int64_t songSample, const float* send, float* left, float* right,
                          size_t n) {
  const bool anyInput = std::any_of(send, send + n, [](float x) { return x != 0.0f; });
  if (!anyInput && IsSilent()) {
    zeroRun_ += static_cast<int64_t>(n);
    return;
  }
  unsigned written = 0;  // any non-zero value put into the state in this chunk

  // The input, scaled and through the tone corrector.
  std::array<float, kChunk> input;
  for (size_t j = 0; j < n; ++j) {
    const float x = send[j] * kInputGain;
    input[j] = Flush(x * toneB1_ - toneB2_ * toneState_);
    toneState_ = Flush(x);
    written |= static_cast<unsigned>(toneState_ != 0.0f);
  }

  ReverbLineOutputs out;
  ReadLines(songSample, n, out);
  for (const Line& line : lines_) {
    written |= static_cast<unsigned>(line.interpolated != 0.0f) |
               static_cast<unsigned>(line.lowpass != 0.0f);
  }

  // Feedback through the matrix: each line takes the next line's output plus the input and
  // -2/N of the sum of all outputs; the outputs also go to the two sides. Every sample's sums
  // run over the lines in order; running the samples side by side lets them be vectorised.
  std::array<float, kChunk> sum, sideL, sideR;
  std::fill_n(sum.begin(), n, 0.0f);
  std::fill_n(sideL.begin(), n, 0.0f);
  std::fill_n(sideR.begin(), n, 0.0f);
  for (size_t l = 0; l < kReverbLines; ++l) {
    const float leftGain = lines_[l].leftGain;
    const float rightGain = lines_[l].rightGain;
    const float* o = out[l].data();
    for (size_t j = 0; j < n; ++j) {
      sum[j] += o[j];
      sideL[j] += leftGain * o[j];
      sideR[j] += rightGain * o[j];
    }
  }
  std::array<float, kChunk> common;
  for (size_t j = 0; j < n; ++j) common[j] = sum[j] * kMatrixFactor + input[j];
  // The chunk's slots, split where the ring wraps.
  const auto first = static_cast<size_t>(songSample & mask_);
  const size_t beforeWrap = std::min(n, static_cast<size_t>(ringSize_) - first);
  for (size_t l = 0; l < kReverbLines; ++l) {
    const float* o = out[(l + 1) % kReverbLines].data();
    float* ring = ring_.data() + l * static_cast<size_t>(ringSize_);
    unsigned lineWritten = 0;
    for (size_t j = 0; j < beforeWrap; ++j) {
      const float w = Flush(o[j] + common[j]);
      ring[first + j] = w;
      lineWritten |= static_cast<unsigned>(w != 0.0f);
    }
    for (size_t j = beforeWrap; j < n; ++j) {
      const float w = Flush(o[j] + common[j]);
      ring[j - beforeWrap] = w;
      lineWritten |= static_cast<unsigned>(w != 0.0f);
    }
    written |= lineWritten;
  }
  for (size_t j = 0; j < n; ++j) {
    left[j] += sideL[j] + sideR[j] * crossMix_;
    right[j] += sideR[j] + sideL[j] * crossMix_;
  }
  zeroRun_ = written != 0 ? 0 : zeroRun_ + static_cast<int64_t>(n);
}

void Reverb::ReadLines(int64_t songSample, size_t n, ReverbLineOutputs& out) {
  LineReads r;
  r.ring = ring_.data();
  r.ringSize = ringSize_;
  r.mask = mask_;
  r.songSample = songSample;
  r.n = n;
  std::array<float, kReverbLines> y, low;
  for (size_t l = 0; l < kReverbLines; ++l) {
    r.damping0[l] = lines_[l].damping0;
    r.dampingFb[l] = lines_[l].dampingFb;
    y[l] = lines_[l].interpolated;
    low[l] = lines_[l].lowpass;
  }
  for (size_t j = 0; j < n; ++r.stepCount) {
    const int64_t s0 = songSample + static_cast<int64_t>(j);
    const int64_t number = FloorDiv(s0, kModInterval);
    LineReads::Step& step = r.steps[r.stepCount];
    step.from = j;
    step.to = std::min(n, j + static_cast<size_t>((number + 1) * kModInterval - s0));
    for (size_t l = 0; l < kReverbLines; ++l) {
      const Tap& tap = TapAt(l, number);
      step.back[l] = lines_[l].delay - tap.whole;
      step.fraction[l] = tap.fraction;
    }
    j = step.to;
  }
#ifdef VELORNA_X86
  if (avx2_) {
    ReadLinesAvx2(r, y, low, out);
  } else {
    ReadLinesPortable(r, y, low, out);
  }
#else
  ReadLinesPortable(r, y, low, out);
#endif
  for (size_t l = 0; l < kReverbLines; ++l) {
    lines_[l].interpolated = y[l];
    lines_[l].lowpass = low[l];
  }
}

}  // namespace velorna
