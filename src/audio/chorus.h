// Chorus of our own: a mono send in, several sine-modulated delay voices spread over stereo out.
//
// Each voice reads the send through a delay that swings between kChorusMinDelayMs and
// kChorusMinDelayMs + depth. The swing is a pure function of the absolute song sample, so the
// output never depends on when processing started. There is no feedback: the unit is linear and
// gives exact zeros for zero input without any denormal handling.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velorna {

struct ChorusParams {
  int voices = 3;
  double level = 2.0;    // output gain, shared by the voices
  double speedHz = 0.3;  // sine modulation rate
  double depthMs = 8.0;  // swing of each voice's delay
};

inline constexpr double kChorusMinDelayMs = 1.5;
// The modulation is evaluated exactly every this many song samples (on multiples of it) and
// interpolated linearly between, which keeps sin() out of the per-sample loop.
inline constexpr int64_t kChorusLfoStep = 32;

class Chorus {
 public:
  explicit Chorus(const ChorusParams& params = {});

  // ADDS the chorus of `send` into `left` and `right` (all three of the same length).
  // `songSample` is the absolute song position of send[0]. After Clear() (or on a new unit)
  // processing may start at any song sample; between calls the song samples must follow on
  // without gaps, except where IsSilent() allowed the caller to skip.
  void Process(int64_t songSample, std::span<const float> send, std::span<float> left,
               std::span<float> right);

  void Clear();
  // True when the whole delay line is exactly zero.
  bool IsSilent() const;

  // Delay of `voice` at `songSample`, in samples (exposed for tests of the modulation range).
  double VoiceDelay(int voice, int64_t songSample) const;

 private:
  float LfoDelay(int voice, int64_t gridIndex) const;
  void ProcessStep(int64_t stepStart, int64_t from, int64_t to, const float* send, float* left,
                   float* right);

  int voices_;
  double speedHz_;
  double minDelay_;  // samples
  double depth_;     // samples
  std::vector<float> gainLeft_;
  std::vector<float> gainRight_;
  std::vector<float> ring_;  // indexed by song sample & mask_
  int64_t mask_;
  int64_t zeroRun_;  // samples since a non-zero send was last written
};

}  // namespace velorna
