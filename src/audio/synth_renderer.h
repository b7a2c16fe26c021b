// Renders a timed event list with a fresh FluidSynth synthesizer and the program's own
// reverb and chorus, into 16-bit stereo that starts at a known song frame.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/render_timing.h"
#include "audio/synth_sends.h"
#include "base/reporter.h"

namespace velorna {

// A SoundFont loaded once and lent to every synthesizer of one thread. The owner
// synthesizer holds it; it goes when the owner goes, so it must outlive every borrower.
struct LoadedSoundFont {
  DrySynth owner;
  fluid_sfont_t* sfont = nullptr;  // owned by `owner`
  std::string path;
};

// Nothing when the file can't be loaded as a SoundFont.
std::unique_ptr<LoadedSoundFont> LoadSoundFont(const std::string& path);

struct Rendering {
  int64_t startFrame = 0;        // song frame of the first sample pair; zeros before it
  std::vector<int16_t> samples;  // interleaved left, right

  int64_t frameCount() const { return static_cast<int64_t>(samples.size()) / 2; }
  int64_t endFrame() const { return startFrame + frameCount(); }
};

struct RenderOptions {
  // Skip stretches known to be silent; off only to check that skipping changes nothing.
  bool skipSilence = true;
};

// Seconds of sound allowed after the last event, for the voices and again for the effects.
inline constexpr int64_t kTailLimitFrames = 5 * 44100;

// False when the synthesizer can't be made or the song is too long to hold.
bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       Rendering& out, const RenderOptions& options = {});

// Where FluidSynth's own log goes: to the reporter when verbose, else nowhere. Its log is
// process-wide, so this holds for every synthesizer.
void RouteSynthLog(Reporter* verboseTarget);

// Routes the log for as long as it lives (the target must outlive it), then drops it again.
class SynthLogRoute {
 public:
  explicit SynthLogRoute(Reporter* verboseTarget) { RouteSynthLog(verboseTarget); }
  ~SynthLogRoute() { RouteSynthLog(nullptr); }
  SynthLogRoute(const SynthLogRoute&) = delete;
  SynthLogRoute& operator=(const SynthLogRoute&) = delete;
};

// clamp(lround(x × 32768), -32768, 32767): silence stays exactly 0.
int16_t FloatToSample(float x);

}  // namespace velorna
