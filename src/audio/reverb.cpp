#include "audio/reverb.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/effect_math.h"

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

// Chunks are shorter than any line, so that every read of a chunk comes from before it and all
// of a chunk's reads can be done before its writes.
constexpr size_t kChunk = 128;

// How much longer than nominal lines and modulation are at `rate`.
double RateCompensation(double rate) {
  return std::max(1.0, rate / kNominalRate);
}

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

  // Every line's output over the chunk: the modulated read, then the absorbent lowpass. The
  // lines are independent here; running them side by side keeps the recursions overlapped.
  std::array<std::array<float, kChunk>, kReverbLines> out;
  std::array<float, kReverbLines> y, low;
  for (size_t l = 0; l < kReverbLines; ++l) {
    y[l] = lines_[l].interpolated;
    low[l] = lines_[l].lowpass;
  }
  size_t j = 0;
  while (j < n) {
    const int64_t s0 = songSample + static_cast<int64_t>(j);
    const int64_t step = FloorDiv(s0, kModInterval);
    const size_t stepEnd = std::min(n, j + static_cast<size_t>((step + 1) * kModInterval - s0));
    std::array<int64_t, kReverbLines> back;
    std::array<float, kReverbLines> fraction;
    for (size_t l = 0; l < kReverbLines; ++l) {
      const Tap& tap = TapAt(l, step);
      back[l] = lines_[l].delay - tap.whole;
      fraction[l] = tap.fraction;
    }
    for (; j < stepEnd; ++j) {
      const int64_t s = songSample + static_cast<int64_t>(j);
      for (size_t l = 0; l < kReverbLines; ++l) {
        const float* ring = ring_.data() + l * static_cast<size_t>(ringSize_);
        const int64_t at = s - back[l];
        const float near = ring[at & mask_];
        const float next = ring[(at + 1) & mask_];
        y[l] = Flush(near + fraction[l] * (next - y[l]));
        low[l] = Flush(y[l] * lines_[l].damping0 + low[l] * lines_[l].dampingFb);
        out[l][j] = low[l];
      }
    }
  }
  for (size_t l = 0; l < kReverbLines; ++l) {
    lines_[l].interpolated = y[l];
    lines_[l].lowpass = low[l];
    written |= static_cast<unsigned>(y[l] != 0.0f) | static_cast<unsigned>(low[l] != 0.0f);
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

}  // namespace velorna
