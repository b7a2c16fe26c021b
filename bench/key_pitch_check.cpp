// Whether the key pitches read from a SoundFont's file are the ones the synthesizer sounds,
// held sample for sample: for a spread of presets and keys, the model says at which upward
// wheel step the note's first layer to reach a whole cent crosses it. One step below, the
// note must sound exactly as unbent; at that step, it must not. A key pitch misread by any
// fraction of a cent (a wrong correction, scale tune or tuning generator, a layer missed)
// moves that step. Keys that stay silent through the probe, and keys whose pitch an LFO or
// envelope moves, give no verdict.
//
// usage: key_pitch_check [SOUNDFONT [KEY_STEP]]   (default: FluidR3Mono_GM.sf3, 5)
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "audio/dry_rendering.h"
#include "audio/pitch_realisation.h"
#include "audio/soundfont_pitch.h"

namespace {

using namespace velorna;

constexpr int kVelocity = 100;
constexpr int kRange = rpn::kDefaultBendRange;
constexpr int kProbeBlocks = 32;
constexpr int kVoices = 64;
constexpr int kLowestProbedKey = 21;
constexpr int kHighestProbedKey = 108;
constexpr int kDefaultKeyStep = 5;
constexpr int kMelodicBanks = 128;  // a melodic channel's bank select reaches no further
constexpr int kStepsSearched = 64;  // more than one cent of wheel at the default range
constexpr uint8_t kControl = 0xB0, kProgram = 0xC0, kBend = 0xE0, kNoteOn = 0x90;
constexpr uint8_t kBankSelect = 0;

std::optional<std::vector<float>> Render(const LoadedSoundFont& font, fluid_settings_t* settings,
                                         int bank, int program, int key, int bend) {
  std::vector<TimedEvent> events;
  events.push_back({0, 0, {kControl, kBankSelect, static_cast<uint8_t>(bank)}});
  events.push_back({0, 0, {kProgram, static_cast<uint8_t>(program)}});
  events.push_back(
      {0,
       0,
       {kBend, static_cast<uint8_t>(bend & kDataMask), static_cast<uint8_t>(bend >> kDataBits)}});
  events.push_back({0, 0, {kNoteOn, static_cast<uint8_t>(key), kVelocity}});
  DryRendering rendering;
  if (!rendering.Start(font, settings, std::move(events))) return std::nullopt;
  std::vector<float> out;
  const bool ok =
      rendering.RenderUntil(int64_t{kProbeBlocks} * kBlockFrames, [&](const DryBlock& b) {
        out.insert(out.end(), b.left.begin(), b.left.end());
        out.insert(out.end(), b.right.begin(), b.right.end());
      });
  rendering.Stop();
  if (!ok) return std::nullopt;
  return out;
}

// The first wheel step above the centre at which some layer's sounded whole cent moves.
std::optional<int> CrossingStep(const std::vector<LayerPitch>& layers, int key) {
  for (int bend = kCentreBend + 1; bend <= kCentreBend + kStepsSearched; ++bend) {
    for (const LayerPitch& layer : layers) {
      const double computed = PitchAtKey(layer, key).computed;
      if (std::floor(computed + WheelCents(bend, kRange)) > std::floor(computed)) return bend;
    }
  }
  return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3";
  const int keyStep = argc > 2 ? std::max(1, std::atoi(argv[2])) : kDefaultKeyStep;
  const auto pitch = SoundFontPitch::Read(path);
  const auto font = LoadSoundFont(path);
  const FluidSettingsPtr settings = MakeRenderSettings(kVoices);
  if (!pitch || !font || !settings) {
    std::fprintf(stderr, "key_pitch_check: cannot read %s\n", path.c_str());
    return 1;
  }
  long presets = 0, checked = 0, agree = 0, silent = 0, corrected = 0, unfixed = 0;
  for (const SoundFontPitch::Preset& preset : pitch->presets) {
    if (preset.bank >= kMelodicBanks) continue;
    ++presets;
    for (int key = kLowestProbedKey; key <= kHighestProbedKey; key += keyStep) {
      const auto layers = pitch->Layers(preset.bank, preset.program, key, kVelocity);
      const std::optional<int> step = layers.empty() ? std::nullopt : CrossingStep(layers, key);
      if (!step) continue;
      // A moving pitch, or one below 0 cents (which the synthesizer does not truncate), has
      // no fixed crossing.
      const bool outsideModel = std::any_of(layers.begin(), layers.end(), [&](const auto& l) {
        return l.modulated || PitchAtKey(l, key).computed < 0;
      });
      if (outsideModel) {
        ++unfixed;
        continue;
      }
      const auto unbent =
          Render(*font, settings.get(), preset.bank, preset.program, key, kCentreBend);
      const auto below = Render(*font, settings.get(), preset.bank, preset.program, key, *step - 1);
      const auto at = Render(*font, settings.get(), preset.bank, preset.program, key, *step);
      if (!unbent || !below || !at) continue;
      bool audible = false;
      for (const float x : *unbent) audible = audible || x != 0.0f;
      if (!audible) {
        ++silent;
        continue;
      }
      ++checked;
      bool hasCorrection = false;
      for (const LayerPitch& l : layers) {
        hasCorrection = hasCorrection || std::fmod(l.rootPitch, 100) != 0 ||
                        l.scaleTune != kDefaultScaleTune || l.fineTune != 0;
      }
      corrected += hasCorrection;
      if (*below == *unbent && *at != *unbent) {
        ++agree;
      } else {
        std::printf("disagrees: bank %d program %d key %d (crossing at wheel step %d)\n",
                    preset.bank, preset.program, key, *step - kCentreBend);
      }
    }
  }
  std::printf("%s: %ld melodic presets, every %d keys from %d\n", path.c_str(), presets, keyStep,
              kLowestProbedKey);
  std::printf(
      "preset keys checked: %ld (%ld with a correction, scale tune or fine tune), "
      "silent: %ld; pitch modulated or below 0 cents (no verdict): %ld\n",
      checked, corrected, silent, unfixed);
  std::printf("crossing step as read: %ld of %ld agree\n", agree, checked);
  return agree == checked ? 0 : 1;
}
