// Chorus of our own: a mono send in, several modulated delay voices spread over stereo out,
// built like FluidSynth 2.3's chorus so that a song sounds the same through either.
//
// All voices read one delay line, each at a delay that swings under its own sine (the voices'
// sines are spaced evenly in phase), through a first-order allpass interpolator. The even voices
// feed one side of a stereo unit and the odd voices the other; the unit mixes each side into
// its own output channel with a large gain and into the other with a large negative one, which
// gives a wide chorus whose two channels are strongly anti-correlated.
//
// The modulation is a pure function of the absolute song sample (with sample 0 where the
// synthesizer starts), so the output never depends on when processing started or how it was cut
// into calls, and the unit is linear in its input.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/limits.h"

namespace velorna {

struct ChorusParams {
  int voices = 3;                // 0..99
  double level = 2.0;            // 0..10 output gain
  double speedHz = 0.3;          // 0.1..5: rate of the sine modulation
  double depthMs = 8.0;          // peak-to-peak swing of each voice's delay
  int sampleRate = kSampleRate;  // of the send and the output
};

class Chorus {
 public:
  explicit Chorus(const ChorusParams& params = {});

  // ADDS the chorus of `send` into `left` and `right` (all three of the same length).
  // `songSample` is the absolute song position of send[0]. Calls must follow on without gaps,
  // except where IsSilent() allowed the caller to skip.
  void Process(int64_t songSample, std::span<const float> send, std::span<float> left,
               std::span<float> right);

  void Clear();
  // True when the delay line and every interpolator state are exactly zero.
  bool IsSilent() const;

  // Delay of `voice` at `songSample` in samples, before interpolation (for tests of the
  // modulation range).
  double VoiceDelay(int voice, int64_t songSample) const;

 private:
  struct Tap {
    int64_t back = 0;  // the earlier of the two samples read, counted back from now
    float fraction = 0.0f;
  };
  Tap TapAt(int voice, int64_t step) const;
  void ProcessStep(int64_t step, int64_t from, int64_t to, const float* send, float* left,
                   float* right);

  int voices_;
  int halfDepth_;                    // samples either side of the mean delay
  int64_t interval_;                 // the modulation moves every this many samples
  double stepCycles_;                // modulation cycles per step
  float wetSame_;                    // gain of a side into its own channel
  float wetOther_;                   // and into the other one
  std::vector<float> interpolated_;  // each voice's allpass state: its last output
  // Each voice's read at the current step; kept here, as clearing a local array for every
  // possible voice at each step cost more than the reads.
  std::vector<Tap> taps_;
  std::vector<float> ring_;  // indexed by song sample & mask_
  int64_t mask_;
  int64_t zeroRun_;  // samples since a non-zero send was last written
};

}  // namespace velorna
