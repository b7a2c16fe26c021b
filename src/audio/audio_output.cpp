#include "audio/audio_output.h"

#include <dlfcn.h>

#include <algorithm>
#include <string>

#include "audio/synth_renderer.h"

namespace velorna {

namespace {

// The drivers tried, in order: the desktop's sound server, then the devices themselves.
constexpr const char* kDrivers[] = {"pulseaudio", "alsa"};
// Frames the output asks for at a time, and how many such periods it buffers: about 46 ms
// of latency at 44100 Hz, short enough for a seek to feel immediate.
constexpr int kPeriodFrames = 512;
constexpr int kPeriods = 4;

void IgnoreAlsa(const char*, int, const char*, int, const char*, ...) {}

// The ALSA library prints its complaints (no card, no device) straight to stderr. FluidSynth
// has loaded it, so its handler is set through the loaded library, without linking to it.
void QuietAlsa() {
  using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
  using SetHandler = int (*)(Handler);
  if (void* set = dlsym(RTLD_DEFAULT, "snd_lib_error_set_handler"))
    reinterpret_cast<SetHandler>(set)(&IgnoreAlsa);
}

}  // namespace

std::unique_ptr<AudioOutput> AudioOutput::Open(int sampleRate, AudioFill fill) {
  // The drivers' complaints (no server, no device) go where the synthesizer's log goes.
  InstallSynthLog();
  QuietAlsa();
  std::unique_ptr<AudioOutput> output(new AudioOutput);
  output->fill_ = std::move(fill);
  output->frames_.resize(static_cast<size_t>(kPeriodFrames) * 2);
  for (const char* driver : kDrivers) {
    output->settings_.reset(new_fluid_settings());
    fluid_settings_t* settings = output->settings_.get();
    if (!settings) return nullptr;
    fluid_settings_setstr(settings, "audio.driver", driver);
    fluid_settings_setnum(settings, "synth.sample-rate", sampleRate);
    fluid_settings_setint(settings, "audio.period-size", kPeriodFrames);
    fluid_settings_setint(settings, "audio.periods", kPeriods);
    fluid_settings_setstr(settings, "audio.pulseaudio.media-role", "music");
    output->driver_ = new_fluid_audio_driver2(settings, &AudioOutput::Callback, output.get());
    if (output->driver_) return output;
  }
  return nullptr;
}

AudioOutput::~AudioOutput() {
  if (driver_) delete_fluid_audio_driver(driver_);
}

int AudioOutput::Callback(void* data, int len, int, float*[], int nout, float* out[]) {
  auto& self = *static_cast<AudioOutput*>(data);
  if (len <= 0 || nout < 2) return FLUID_OK;
  for (int done = 0; done < len;) {
    const int n = std::min(len - done, static_cast<int>(self.frames_.size() / 2));
    const std::span<float> part(self.frames_.data(), static_cast<size_t>(n) * 2);
    self.fill_(part);
    for (int i = 0; i < n; ++i) {
      out[0][done + i] = part[2 * static_cast<size_t>(i)];
      out[1][done + i] = part[2 * static_cast<size_t>(i) + 1];
    }
    done += n;
  }
  return FLUID_OK;
}

}  // namespace velorna
