#include "audio/synth_sends.h"

#include <algorithm>
#include <limits>

#include "base/limits.h"

namespace velorna {

FluidSettingsPtr MakeDrySynthSettings() {
  FluidSettingsPtr settings(new_fluid_settings());
  if (!settings) return nullptr;
  fluid_settings_t* s = settings.get();
  const bool ok = fluid_settings_setint(s, "synth.reverb.active", 0) == FLUID_OK &&
                  fluid_settings_setint(s, "synth.chorus.active", 0) == FLUID_OK &&
                  fluid_settings_setint(s, "synth.ladspa.active", 1) == FLUID_OK &&
                  fluid_settings_setint(s, "synth.effects-groups", 1) == FLUID_OK &&
                  SetRenderRate(s, kSampleRate);
  if (!ok) return nullptr;
  return settings;
}

bool SetRenderRate(fluid_settings_t* settings, double hz) {
  return fluid_settings_setnum(settings, "synth.sample-rate", hz) == FLUID_OK;
}

DrySynth MakeDrySynth(FluidSettingsPtr settings) {
  DrySynth result;
  if (!settings) return result;
  result.synth.reset(new_fluid_synth(settings.get()));
  result.settings = std::move(settings);
  return result;
}

bool ProcessDryWithSends(fluid_synth_t* synth, const DrySynthBlock& block) {
  const size_t frames = block.dryLeft.size();
  if (synth == nullptr || block.dryRight.size() != frames || block.reverbSend.size() != frames ||
      block.chorusSend.size() != frames ||
      frames > static_cast<size_t>(std::numeric_limits<int>::max())) {
    return false;
  }
  // FluidSynth mixes into the buffers it is given.
  for (std::span<float> buffer :
       {block.dryLeft, block.dryRight, block.reverbSend, block.chorusSend}) {
    std::fill(buffer.begin(), buffer.end(), 0.0f);
  }
  // With its effects off, FluidSynth puts each voice's reverb send in effect buffer 0 and its
  // chorus send in buffer 2; buffers 1 and 3 (the right sides) stay unused, so none is given.
  float* fx[4] = {block.reverbSend.data(), nullptr, block.chorusSend.data(), nullptr};
  float* out[2] = {block.dryLeft.data(), block.dryRight.data()};
  return fluid_synth_process(synth, static_cast<int>(frames), 4, fx, 2, out) == FLUID_OK;
}

}  // namespace velorna
