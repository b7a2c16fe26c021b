#include "audio/level_meter.h"

#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>

#include "base/limits.h"

namespace velorna {
namespace {

constexpr size_t kSilenceFrames = 4096;

// libebur128 reports silence below its gate as -HUGE_VAL.
std::optional<double> Finite(int status, double value) {
  if (status != EBUR128_SUCCESS || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

double LinearToDb(double linear) {
  return linear > 0.0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

double DbToLinear(double db) {
  return std::pow(10.0, db / 20.0);
}

struct LevelMeter::State {
  ebur128_state* st = nullptr;
  explicit State(ebur128_state* made) : st(made) {}
  ~State() { ebur128_destroy(&st); }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

LevelMeter::LevelMeter(int sampleRate, LevelMeterMode mode) {
  int flags = 0;
  if (mode.loudness) flags |= EBUR128_MODE_I;
  if (mode.range) flags |= EBUR128_MODE_LRA;
  if (mode.truePeak) flags |= EBUR128_MODE_TRUE_PEAK;
  if (flags != 0) {
    ebur128_state* made = ebur128_init(kChannels, static_cast<unsigned long>(sampleRate), flags);
    if (made == nullptr) throw std::bad_alloc();
    state_ = std::make_unique<State>(made);
  }
}

LevelMeter::~LevelMeter() = default;

void LevelMeter::Add(std::span<const float> samples) {
  for (const float s : samples) peak_ = std::max(peak_, static_cast<double>(std::fabs(s)));
  if (state_ && !samples.empty())
    ebur128_add_frames_float(state_->st, samples.data(), samples.size() / kChannels);
}

void LevelMeter::AddSilence(int64_t frames) {
  if (!state_) return;
  static const std::array<float, kSilenceFrames * kChannels> kZeros{};
  for (; frames > 0; frames -= static_cast<int64_t>(kSilenceFrames)) {
    const auto n = static_cast<size_t>(std::min<int64_t>(frames, kSilenceFrames));
    ebur128_add_frames_float(state_->st, kZeros.data(), n);
  }
}

std::optional<double> LevelMeter::Loudness() const {
  if (!state_ || (state_->st->mode & EBUR128_MODE_I) != EBUR128_MODE_I) return std::nullopt;
  double value = 0.0;
  const int status = ebur128_loudness_global(state_->st, &value);
  return Finite(status, value);
}

std::optional<double> LevelMeter::LoudnessRange() const {
  if (!state_ || (state_->st->mode & EBUR128_MODE_LRA) != EBUR128_MODE_LRA) return std::nullopt;
  double value = 0.0;
  const int status = ebur128_loudness_range(state_->st, &value);
  return Finite(status, value);
}

std::optional<double> LevelMeter::TruePeakDb() const {
  if (!state_ || (state_->st->mode & EBUR128_MODE_TRUE_PEAK) != EBUR128_MODE_TRUE_PEAK)
    return std::nullopt;
  double highest = 0.0;
  for (unsigned channel = 0; channel < kChannels; ++channel) {
    double value = 0.0;
    if (ebur128_true_peak(state_->st, channel, &value) != EBUR128_SUCCESS) return std::nullopt;
    highest = std::max(highest, value);
  }
  return LinearToDb(highest);
}

}  // namespace velorna
