// A FluidSynth synthesizer that renders its voices dry and hands out their raw reverb and chorus
// sends, so that our own reverb and chorus can be applied with song-time modulation.
#pragma once

#include <fluidsynth.h>

#include <memory>
#include <span>

namespace velorna {

struct FluidSettingsDeleter {
  void operator()(fluid_settings_t* settings) const { delete_fluid_settings(settings); }
};
struct FluidSynthDeleter {
  void operator()(fluid_synth_t* synth) const { delete_fluid_synth(synth); }
};
using FluidSettingsPtr = std::unique_ptr<fluid_settings_t, FluidSettingsDeleter>;
using FluidSynthPtr = std::unique_ptr<fluid_synth_t, FluidSynthDeleter>;

// Settings at our sample rate with FluidSynth's own reverb and chorus off and its effect
// buffers routed out (LADSPA mixing on, no plugins). Null if FluidSynth could not make them.
// Callers may set more values before MakeDrySynth.
FluidSettingsPtr MakeDrySynthSettings();

// The sample rate synthesizers made from `settings` from now on render at; those made
// before keep theirs. False when FluidSynth refuses it (outside 8000-96000 Hz).
bool SetRenderRate(fluid_settings_t* settings, double hz);

// The synthesizer owns nothing of the settings, so they are kept alongside it; the synthesizer
// is declared last so it is deleted first.
struct DrySynth {
  FluidSettingsPtr settings;
  FluidSynthPtr synth;
};

// Makes the synthesizer from `settings` (taken over). synth is null on failure.
DrySynth MakeDrySynth(FluidSettingsPtr settings);

// One block of output: all four spans of the same length.
struct DrySynthBlock {
  std::span<float> dryLeft;
  std::span<float> dryRight;
  std::span<float> reverbSend;  // mono
  std::span<float> chorusSend;  // mono
};

// Overwrites the block with the next frames of the synthesizer: its dry stereo voices and the
// mono sums of their reverb and chorus sends. False if FluidSynth reports an error or the spans
// differ in length.
bool ProcessDryWithSends(fluid_synth_t* synth, const DrySynthBlock& block);

}  // namespace velorna
