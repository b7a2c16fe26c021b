// The synthesizer every rendering uses, made the same way for every engine: FluidSynth's
// default gain, 256 voices, dry voices with their sends handed out.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/synth_sends.h"
#include "base/limits.h"

namespace velorna {

// A fresh synthesizer; synth is null when FluidSynth could not make one.
DrySynth MakeRenderSynth();

inline constexpr int kRenderPolyphony = 256;

// The settings of MakeRenderSynth, to make many synthesizers from: making settings probes
// the sound devices, which costs more than a short rendering. They must outlive the
// synthesizers made from them. Only a rendering that never fills them may use fewer voices
// (see DryRendering).
FluidSettingsPtr MakeRenderSettings(int polyphony = kRenderPolyphony);
// Null when FluidSynth could not make one.
FluidSynthPtr MakeRenderSynth(fluid_settings_t* settings);

// Lends a SoundFont loaded by another synthesizer, and takes it back before the borrower is
// deleted, so that deleting the borrower never frees the shared SoundFont.
class SoundFontLoan {
 public:
  SoundFontLoan(fluid_synth_t* synth, fluid_sfont_t* sfont);
  ~SoundFontLoan();
  SoundFontLoan(const SoundFontLoan&) = delete;
  SoundFontLoan& operator=(const SoundFontLoan&) = delete;
  bool ok() const { return added_; }

 private:
  fluid_synth_t* synth_;
  fluid_sfont_t* sfont_;
  bool added_ = false;
};

// A SoundFont loaded once and lent to every synthesizer of one thread. The owner
// synthesizer holds it; it goes when the owner goes, so it must outlive every borrower.
struct LoadedSoundFont {
  LoadedSoundFont() = default;
  LoadedSoundFont(const LoadedSoundFont&) = delete;
  LoadedSoundFont& operator=(const LoadedSoundFont&) = delete;
  ~LoadedSoundFont();  // unloads under the same lock as every load (see LoadSoundFont)

  DrySynth owner;
  fluid_sfont_t* sfont = nullptr;  // owned by `owner`
  std::string path;
};

// Nothing when the file can't be loaded as a SoundFont. Throws std::bad_alloc when there
// is clearly no room for it: FluidSynth does not survive running out of memory mid-load.
// Safe on any thread beside other loads and unloads.
std::unique_ptr<LoadedSoundFont> LoadSoundFont(const std::string& path);

// Seconds of sound allowed after the last event, for the voices and again for the effects.
inline constexpr int64_t kTailLimitSeconds = 5;
constexpr int64_t TailLimitFrames(int sampleRate) {
  return kTailLimitSeconds * sampleRate;
}
inline constexpr int64_t kTailLimitFrames = TailLimitFrames(kSampleRate);  // at the default

// clamp(lround(x × 32768), -32768, 32767): silence stays exactly 0.
int16_t FloatToSample(float x);

// Sends one complete message (status and data bytes, or F0 payload F7) to the synthesizer.
void SendEvent(fluid_synth_t* synth, const std::vector<uint8_t>& message);

}  // namespace velorna
