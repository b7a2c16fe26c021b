#include "audio/pitch_model_check.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "audio/dry_rendering.h"
#include "midi/midi_constants.h"

namespace velorna {

namespace {

constexpr int kProbeKey = 60;
constexpr int kProbeVelocity = 100;
constexpr int kProbeRange = rpn::kDefaultBendRange;
constexpr int kProbeBlocks = 16;
constexpr int kProbeVoices = 16;  // one note's layers
// The bend searched for moves the pitch by at least this much, safely inside one cent.
constexpr double kMinProbeCents = 0.2;
constexpr double kSafeFraction = 0.1;
constexpr int kProbeSearch = 64;  // wheel steps either side of the centre
constexpr uint8_t kBendStatus = 0xE0;
constexpr uint8_t kNoteOnStatus = 0x90;

std::optional<std::vector<float>> RenderProbe(const LoadedSoundFont& font,
                                              fluid_settings_t* settings, int bend) {
  std::vector<TimedEvent> events;
  events.push_back({0,
                    0,
                    {kBendStatus, static_cast<uint8_t>(bend & kDataMask),
                     static_cast<uint8_t>(bend >> kDataBits)}});
  events.push_back({0, 0, {kNoteOnStatus, kProbeKey, kProbeVelocity}});
  DryRendering rendering;
  if (!rendering.Start(font, settings, std::move(events))) return std::nullopt;
  std::vector<float> out;
  const bool ok = rendering.RenderUntil(
      int64_t{kProbeBlocks} * kBlockFrames,
      [&](const DryBlock& b) { out.insert(out.end(), b.left.begin(), b.left.end()); });
  rendering.Stop();
  if (!ok) return std::nullopt;
  return out;
}

}  // namespace

bool PitchModelHolds(const LoadedSoundFont& font, const SoundFontPitch* pitch) {
  VoicePitch voice;
  if (pitch) {
    const std::vector<LayerPitch> layers = pitch->Layers(0, 0, kProbeKey, kProbeVelocity);
    if (!layers.empty()) {
      const VoicePitch at = PitchAtKey(layers.front(), kProbeKey);
      const double whole = std::floor(at.exact);
      voice = {at.computed - whole, at.exact - whole};
    }
  }
  // A bend the model says sounds exactly as the unbent note.
  std::optional<int> probe;
  for (int step = 1; step <= kProbeSearch && !probe; ++step) {
    for (const int bend : {kCentreBend + step, kCentreBend - step}) {
      const double sum = voice.computed + WheelCents(bend, kProbeRange);
      const double fraction = sum - std::floor(sum);
      if (std::fabs(WheelCents(bend, kProbeRange)) >= kMinProbeCents &&
          std::floor(sum) == std::floor(voice.computed) && fraction >= kSafeFraction &&
          fraction <= 1 - kSafeFraction) {
        probe = bend;
        break;
      }
    }
  }
  if (!probe) return true;
  const FluidSettingsPtr settings = MakeRenderSettings(kProbeVoices);
  if (!settings) return true;
  const auto unbent = RenderProbe(font, settings.get(), kCentreBend);
  const auto bent = RenderProbe(font, settings.get(), *probe);
  if (!unbent || !bent) return true;
  const bool audible =
      std::any_of(unbent->begin(), unbent->end(), [](float x) { return x != 0.0f; });
  return !audible || *unbent == *bent;
}

PitchRealisation PlainBend(double cents, int semitones) {
  PitchRealisation p;
  if (!std::isfinite(cents) || cents == 0 || semitones <= 0) return p;
  const double perStep = WheelCents(kCentreBend + 1, semitones);
  p.bend = std::clamp(static_cast<int>(std::lround(kCentreBend + cents / perStep)), 0, kMaxBend);
  p.bendCents = WheelCents(p.bend, semitones);
  return p;
}

}  // namespace velorna
