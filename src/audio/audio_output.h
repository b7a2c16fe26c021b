// The default audio output of the machine, through FluidSynth's own drivers (PulseAudio,
// else ALSA): a callback is asked for the next frames as the output needs them.
#pragma once

#include <fluidsynth.h>

#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "audio/synth_sends.h"

namespace velorna {

// Fills `out` (interleaved stereo, full scale 1.0) with the next frames. Called on the
// output's own thread: it must not wait long.
using AudioFill = std::function<void(std::span<float> out)>;

class AudioOutput {
 public:
  // Nullptr when the machine has no audio output the drivers can open.
  static std::unique_ptr<AudioOutput> Open(int sampleRate, AudioFill fill);
  ~AudioOutput();
  AudioOutput(const AudioOutput&) = delete;
  AudioOutput& operator=(const AudioOutput&) = delete;

 private:
  AudioOutput() = default;
  static int Callback(void* data, int len, int nfx, float* fx[], int nout, float* out[]);

  AudioFill fill_;
  std::vector<float> frames_;
  FluidSettingsPtr settings_;
  fluid_audio_driver_t* driver_ = nullptr;
};

}  // namespace velorna
