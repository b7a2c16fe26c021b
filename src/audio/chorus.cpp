#include "audio/chorus.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/effect_math.h"

namespace velorna {
namespace {

constexpr int kMaxVoices = 99;
constexpr double kMaxLevel = 10.0;
constexpr double kMinSpeedHz = 0.1;
constexpr double kMaxSpeedHz = 5.0;
constexpr int kMaxDepthSamples = 2048;  // peak to peak
constexpr int kInterpolationSamples = 1;
// The modulation steps every 5 samples, and every 4 at the greatest depths.
constexpr int kLowDepthInterval = 5;
constexpr int kHighDepthInterval = 4;
constexpr int kLowHalfDepth = 176;
constexpr int kHighHalfDepth = kMaxDepthSamples / 2;
// The stereo unit's width, fixed at its widest, and the gain that keeps the level about the
// same at any width.
constexpr double kWidth = 10.0;
constexpr double kWidthCompensation = 0.2;
constexpr double kMsPerSecond = 1000.0;

}  // namespace

Chorus::Chorus(const ChorusParams& params) {
  voices_ = std::clamp(params.voices, 0, kMaxVoices);
  const double level = std::clamp(params.level, 0.0, kMaxLevel);
  const double speed = std::clamp(params.speedHz, kMinSpeedHz, kMaxSpeedHz);
  const double rate = std::max(params.sampleRate, 1);
  // The swing in whole samples at this rate, as FluidSynth counts it.
  const int depth = std::min(static_cast<int>(std::max(params.depthMs, 0.0) / kMsPerSecond * rate),
                             kMaxDepthSamples);
  halfDepth_ = depth / 2;
  interval_ = kLowDepthInterval;
  if (halfDepth_ > kLowHalfDepth) {
    interval_ += (halfDepth_ - kLowHalfDepth) * (kHighDepthInterval - kLowDepthInterval) /
                 (kHighHalfDepth - kLowHalfDepth);
  }
  stepCycles_ = speed * static_cast<double>(interval_) / rate;

  if (voices_ > 1) {
    const double wet = level / (1.0 + kWidth * kWidthCompensation);
    wetSame_ = static_cast<float>(wet * (kWidth / 2.0 + 0.5));
    wetOther_ = static_cast<float>(wet * ((1.0 - kWidth) / 2.0));
  } else {
    // One voice can only be made wide by inverting it on one side.
    wetSame_ = static_cast<float>(level);
    wetOther_ = static_cast<float>(-level);
  }
  interpolated_.assign(static_cast<size_t>(voices_), 0.0f);
  taps_.resize(static_cast<size_t>(voices_));
  // The longest delay and the interpolator's second tap, plus the samples written ahead of a
  // step's reads.
  const int64_t size =
      PowerOfTwoAtLeast(2 * halfDepth_ + kInterpolationSamples + 2 + kLowDepthInterval);
  ring_.assign(static_cast<size_t>(size), 0.0f);
  mask_ = size - 1;
  zeroRun_ = size;
}

void Chorus::Clear() {
  std::fill(ring_.begin(), ring_.end(), 0.0f);
  std::fill(interpolated_.begin(), interpolated_.end(), 0.0f);
  zeroRun_ = static_cast<int64_t>(ring_.size());
}

bool Chorus::IsSilent() const {
  return zeroRun_ >= static_cast<int64_t>(ring_.size()) &&
         std::all_of(interpolated_.begin(), interpolated_.end(), [](float y) { return y == 0.0f; });
}

// At step k the sine stands where FluidSynth's oscillator is at its k-th update: one step past
// its starting phase.
Chorus::Tap Chorus::TapAt(int voice, int64_t step) const {
  const double cycles = static_cast<double>(step + 1) * stepCycles_ +
                        static_cast<double>(voice) / static_cast<double>(voices_);
  const double offset =
      halfDepth_ * std::sin(2.0 * std::numbers::pi * (cycles - std::floor(cycles)));
  const double whole = std::floor(offset);
  return {kInterpolationSamples + halfDepth_ - static_cast<int64_t>(whole),
          static_cast<float>(offset - whole)};
}

double Chorus::VoiceDelay(int voice, int64_t songSample) const {
  const Tap tap = TapAt(voice, FloorDiv(songSample, interval_));
  return static_cast<double>(tap.back) - tap.fraction;
}

void Chorus::Process(int64_t songSample, std::span<const float> send, std::span<float> left,
                     std::span<float> right) {
  const auto frames = static_cast<int64_t>(std::min({send.size(), left.size(), right.size()}));
  int64_t s = songSample;
  const int64_t end = songSample + frames;
  while (s < end) {
    const int64_t step = FloorDiv(s, interval_);
    const int64_t stepEnd = std::min((step + 1) * interval_, end);
    const int64_t off = s - songSample;
    ProcessStep(step, s, stepEnd, send.data() + off, left.data() + off, right.data() + off);
    s = stepEnd;
  }
}

// Song samples [from, to) of one modulation step.
void Chorus::ProcessStep(int64_t step, int64_t from, int64_t to, const float* send, float* left,
                         float* right) {
  const int64_t n = to - from;
  bool anyInput = false;
  for (int64_t i = 0; i < n; ++i) {
    ring_[static_cast<size_t>((from + i) & mask_)] = send[i];
    anyInput |= send[i] != 0.0f;
  }
  // The shortest delay is one sample: a read at the current sample only happens with a zero
  // fraction, so writing the step's input first changes nothing.
  zeroRun_ = anyInput ? 0 : zeroRun_ + n;
  if (IsSilent()) return;

  for (int v = 0; v < voices_; ++v) taps_[static_cast<size_t>(v)] = TapAt(v, step);
  // With an odd number of voices above one, the last voice feeds the odd side as well, so that
  // the two sides are balanced.
  const bool lastOnBoth = voices_ > 2 && voices_ % 2 == 1;
  for (int64_t i = 0; i < n; ++i) {
    const int64_t s = from + i;
    float even = 0.0f, odd = 0.0f, last = 0.0f;
    for (int v = 0; v < voices_; ++v) {
      const Tap& tap = taps_[static_cast<size_t>(v)];
      const float near = ring_[static_cast<size_t>((s - tap.back) & mask_)];
      const float next = ring_[static_cast<size_t>((s - tap.back + 1) & mask_)];
      float& y = interpolated_[static_cast<size_t>(v)];
      y = Flush(near + tap.fraction * (next - y));
      ((v & 1) != 0 ? odd : even) += y;
      last = y;
    }
    if (lastOnBoth) odd += last;
    left[i] += even * wetSame_ + odd * wetOther_;
    right[i] += odd * wetSame_ + even * wetOther_;
  }
}

}  // namespace velorna
