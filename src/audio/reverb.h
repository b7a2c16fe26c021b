// Room reverb of our own: a mono send in, a stereo tail out.
//
// Parallel lowpass-feedback combs feeding series allpasses, one bank per side with slightly
// longer delays on the right (the classic Schroeder/Moorer layout with Freeverb's published
// tuning). It has no modulation, so its output never depends on when processing started.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velorna {

struct ReverbParams {
  double roomSize = 0.2;  // 0..1, longer tail as it grows
  double damping = 0.0;   // 0..1, high-frequency loss in the feedback
  double width = 0.5;     // 0 mono .. 1 full stereo
  double level = 0.9;     // output gain
};

// Magnitudes below this are written as zero into every feedback path. It keeps denormals out
// without injecting noise and lets a decaying tail reach exact zero; the change it makes is
// hundreds of decibels below any signal it rides on, i.e. within float rounding of the result.
inline constexpr float kEffectFlushBelow = 1e-18f;

class Reverb {
 public:
  explicit Reverb(const ReverbParams& params = {});

  // ADDS the reverb of `send` into `left` and `right` (all three of the same length).
  // `songSample` is the absolute song position of send[0]; the reverb is time-invariant, so it
  // only documents the call's place in the song.
  void Process(int64_t songSample, std::span<const float> send, std::span<float> left,
               std::span<float> right);

  // Back to the cleared state, as if newly made.
  void Clear();
  // True when every delay line and filter state is exactly zero.
  bool IsSilent() const;

 private:
  struct DelayLine {
    std::vector<float> buffer;
    size_t pos = 0;
    float filterState = 0.0f;  // comb damping lowpass
  };

  void ProcessChunk(const float* send, float* left, float* right, size_t n);

  float feedback_;
  float damp1_;
  float damp2_;
  float wet1_;
  float wet2_;
  std::vector<DelayLine> combs_[2];
  std::vector<DelayLine> allpasses_[2];
  size_t longestLine_ = 0;
  int64_t zeroRun_ = 0;  // samples since a non-zero value was last written to the state
};

}  // namespace velorna
