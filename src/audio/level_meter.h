// Measures a stereo stream of float samples (full scale 1.0) as it passes: its sample peak,
// and with libebur128 its integrated loudness (EBU R128), loudness range and true peak.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "base/reporter.h"

namespace velorna {

struct LevelMeterMode {
  bool loudness = true;   // integrated loudness
  bool range = false;     // loudness range
  bool truePeak = false;  // peak between the samples, four times oversampled
};

class LevelMeter {
 public:
  LevelMeter(int sampleRate, LevelMeterMode mode);
  ~LevelMeter();
  LevelMeter(const LevelMeter&) = delete;
  LevelMeter& operator=(const LevelMeter&) = delete;

  // Interleaved left, right.
  void Add(std::span<const float> samples);
  // Zeros as if added; silence weighs in the gating like any other block.
  void AddSilence(int64_t frames);

  // The sample peak, linear.
  double peak() const { return peak_; }
  std::optional<double> Loudness() const;
  std::optional<double> LoudnessRange() const;
  std::optional<double> TruePeakDb() const;

 private:
  struct State;  // libebur128's measurement
  std::unique_ptr<State> state_;
  double peak_ = 0.0;
};

// 20 log10(linear); -inf for 0.
[[nodiscard]] double LinearToDb(double linear);
[[nodiscard]] double DbToLinear(double db);

}  // namespace velorna
