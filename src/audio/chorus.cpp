#include "audio/chorus.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "base/limits.h"

namespace velorna {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

Chorus::Chorus(const ChorusParams& params)
    : voices_(std::max(params.voices, 1)),
      speedHz_(std::max(params.speedHz, 0.0)),
      minDelay_(kChorusMinDelayMs * kSampleRate / 1000.0),
      depth_(std::max(params.depthMs, 0.0) * kSampleRate / 1000.0) {
  // Voices spread evenly from left to right; the level is shared among them.
  const float gain = static_cast<float>(std::max(params.level, 0.0) / voices_);
  for (int v = 0; v < voices_; ++v) {
    const double pan = voices_ == 1 ? 0.5 : static_cast<double>(v) / (voices_ - 1);
    gainLeft_.push_back(gain * static_cast<float>(1.0 - pan));
    gainRight_.push_back(gain * static_cast<float>(pan));
  }
  // Room for the longest delay, the sample after it for interpolation, and one LFO step.
  const auto needed = static_cast<int64_t>(std::ceil(minDelay_ + depth_)) + 2 + kChorusLfoStep;
  int64_t size = 1;
  while (size < needed) size *= 2;
  ring_.assign(static_cast<size_t>(size), 0.0f);
  mask_ = size - 1;
  zeroRun_ = size;
}

void Chorus::Clear() {
  std::fill(ring_.begin(), ring_.end(), 0.0f);
  zeroRun_ = static_cast<int64_t>(ring_.size());
}

bool Chorus::IsSilent() const {
  return zeroRun_ >= static_cast<int64_t>(ring_.size());
}

float Chorus::LfoDelay(int voice, int64_t gridIndex) const {
  // Cycles since song start, reduced to [0, 1) in double before the sine so that late song
  // positions keep their precision; voices are spaced evenly in phase.
  const double cycles = speedHz_ * static_cast<double>(gridIndex * kChorusLfoStep) / kSampleRate +
                        static_cast<double>(voice) / voices_;
  const double phase = cycles - std::floor(cycles);
  const double swing = 0.5 + 0.5 * std::sin(2.0 * std::numbers::pi * phase);
  return static_cast<float>(minDelay_ + depth_ * swing);
}

double Chorus::VoiceDelay(int voice, int64_t songSample) const {
  const int64_t grid = FloorDiv(songSample, kChorusLfoStep);
  const float d0 = LfoDelay(voice, grid);
  const float slope = (LfoDelay(voice, grid + 1) - d0) / kChorusLfoStep;
  return d0 + slope * static_cast<float>(songSample - grid * kChorusLfoStep);
}

void Chorus::Process(int64_t songSample, std::span<const float> send, std::span<float> left,
                     std::span<float> right) {
  const auto frames = static_cast<int64_t>(std::min({send.size(), left.size(), right.size()}));
  int64_t s = songSample;
  const int64_t end = songSample + frames;
  while (s < end) {
    const int64_t stepStart = FloorDiv(s, kChorusLfoStep) * kChorusLfoStep;
    const int64_t stepEnd = std::min(stepStart + kChorusLfoStep, end);
    const int64_t off = s - songSample;
    ProcessStep(stepStart, s, stepEnd, send.data() + off, left.data() + off, right.data() + off);
    s = stepEnd;
  }
}

// Samples [from, to) of the LFO step that starts at stepStart.
void Chorus::ProcessStep(int64_t stepStart, int64_t from, int64_t to, const float* send,
                         float* left, float* right) {
  const int64_t n = to - from;
  bool anyInput = false;
  for (int64_t i = 0; i < n; ++i) {
    ring_[static_cast<size_t>((from + i) & mask_)] = send[i];
    anyInput |= send[i] != 0.0f;
  }
  zeroRun_ = anyInput ? 0 : zeroRun_ + n;
  // Reads span up to the longest delay back; a zero ring gives zero output.
  if (zeroRun_ >= static_cast<int64_t>(ring_.size())) return;

  // Same arithmetic as VoiceDelay, so the tested delays are the used ones.
  const int64_t grid = FloorDiv(stepStart, kChorusLfoStep);
  for (int v = 0; v < voices_; ++v) {
    const float d0 = LfoDelay(v, grid);
    const float slope = (LfoDelay(v, grid + 1) - d0) / kChorusLfoStep;
    const float gl = gainLeft_[static_cast<size_t>(v)];
    const float gr = gainRight_[static_cast<size_t>(v)];
    for (int64_t i = 0; i < n; ++i) {
      const int64_t s = from + i;
      const float delay = d0 + slope * static_cast<float>(s - stepStart);
      const auto whole = static_cast<int64_t>(delay);  // delay > 0: truncation is floor
      const float frac = delay - static_cast<float>(whole);
      const float a = ring_[static_cast<size_t>((s - whole) & mask_)];
      const float b = ring_[static_cast<size_t>((s - whole - 1) & mask_)];
      const float y = a + (b - a) * frac;
      left[i] += y * gl;
      right[i] += y * gr;
    }
  }
}

}  // namespace velorna
