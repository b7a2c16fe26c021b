// Room reverb of our own: a mono send in, a stereo tail out, built like FluidSynth 2.3's
// default reverb so that a song sounds the same through either.
//
// A feedback delay network of eight lines: the send, scaled and tone-corrected, enters every
// line; each line's output passes an absorbent lowpass and goes back into the next line through
// a Householder-like matrix (the permutation minus 2/N of the sum). Every line's length swings
// by a few samples under a slow sine, read through a first-order allpass interpolator, which
// keeps the tail from ringing. The lines' outputs are summed into left and right with a fixed
// pattern of signs, then mixed across by the width.
//
// The modulation is a pure function of the absolute song sample (with sample 0 where the
// synthesizer starts), so the output never depends on when processing started or how it was cut
// into calls, and the unit is linear in its input.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "base/limits.h"

namespace velorna {

struct ReverbParams {
  double roomSize = 0.2;         // 0..1: decay time at low frequencies from 0.7 s to 12.5 s
  double damping = 0.0;          // 0..1: shorter decay at high frequencies
  double width = 0.5;            // 0 mono .. 1 wide (larger values widen further)
  double level = 0.9;            // 0..1 output gain
  int sampleRate = kSampleRate;  // of the send and the output
  // The lines read side by side in AVX2 where the CPU has it; false: the portable loops,
  // which give the same bytes.
  bool avx2 = true;
};

inline constexpr int kReverbLines = 8;
// The reverb runs in chunks of this many samples. They are shorter than any line, so that
// every read of a chunk comes from before it and all of a chunk's reads can be done before its
// writes.
inline constexpr size_t kReverbChunk = 128;
using ReverbLineOutputs = std::array<std::array<float, kReverbChunk>, kReverbLines>;

class Reverb {
 public:
  explicit Reverb(const ReverbParams& params = {});

  // ADDS the reverb of `send` into `left` and `right` (all three of the same length).
  // `songSample` is the absolute song position of send[0]. Calls must follow on without gaps,
  // except where IsSilent() allowed the caller to skip.
  void Process(int64_t songSample, std::span<const float> send, std::span<float> left,
               std::span<float> right);

  // Back to the cleared state, as if newly made.
  void Clear();
  // True when every delay line and filter state is exactly zero.
  bool IsSilent() const;

  // The mean delay of `line` in samples, around which its modulation swings.
  int LineDelay(int line) const { return lines_[static_cast<size_t>(line)].delay; }
  // Decay time in seconds to -60 dB at low frequencies that the line gains are set for.
  double DecayTime() const { return decayTime_; }

 private:
  struct Line {
    int delay = 0;        // mean delay in samples
    float damping0 = 0;   // absorbent lowpass: y = x * damping0 + y' * dampingFb
    float dampingFb = 0;  //
    float leftGain = 0;
    float rightGain = 0;
    float lowpass = 0;       // lowpass state
    float interpolated = 0;  // allpass interpolator state: its last output
  };

  // Where a line's interpolator reads, relative to its mean delay, at one step of the
  // modulation: the whole samples and the fraction.
  struct Tap {
    int whole = 0;
    float fraction = 0.0f;
  };
  // Steps before the song's start (negative) count back from the period's end.
  const Tap& TapAt(size_t line, int64_t step) const {
    const int64_t phase = step % modPeriod_;
    return modulation_[line * static_cast<size_t>(modPeriod_) +
                       static_cast<size_t>(phase < 0 ? phase + modPeriod_ : phase)];
  }
  void ProcessChunk(int64_t songSample, const float* send, float* left, float* right, size_t n);
  // Every line's output over the chunk's first n samples, the modulated read and then the
  // absorbent lowpass, into out[line][sample].
  void ReadLines(int64_t songSample, size_t n, ReverbLineOutputs& out);

  std::array<Line, kReverbLines> lines_;
  std::vector<float> ring_;  // line l, song sample s at [l * ringSize_ + (s & mask_)]
  int64_t ringSize_ = 0;
  int64_t mask_ = 0;
  float toneB1_ = 1.0f;  // tone corrector: y = x * b1 - x' * b2
  float toneB2_ = 0.0f;
  float toneState_ = 0.0f;
  float crossMix_ = 0.0f;  // share of the other side's sum, after the width
  double decayTime_ = 0.0;
  int64_t zeroRun_ = 0;  // samples since a non-zero value was last written to the state
  // Every line's modulation over one period (modPeriod_ steps), line after line.
  std::vector<Tap> modulation_;
  int64_t modPeriod_ = 1;
  bool avx2_ = false;
};

}  // namespace velorna
