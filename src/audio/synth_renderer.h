// Renders a timed event list with a fresh FluidSynth synthesizer and the program's own
// reverb and chorus, into 16-bit stereo that starts at a known song frame: the dry
// rendering of every engine, with the effects added block by block around it.
#pragma once

#include <fluidsynth.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "audio/glib_log.h"
#include "audio/render_synth.h"
#include "audio/render_timing.h"
#include "audio/synth_sends.h"
#include "base/reporter.h"

namespace velorna {

struct Rendering {
  int64_t startFrame = 0;        // song frame of the first sample pair; zeros before it
  std::vector<int16_t> samples;  // interleaved left, right

  int64_t frameCount() const { return static_cast<int64_t>(samples.size()) / 2; }
  int64_t endFrame() const { return startFrame + frameCount(); }
};

struct RenderOptions {
  // Skip stretches known to be silent; off only to check that skipping changes nothing.
  bool skipSilence = true;
  // The rate the events are timed at and the output is made at, and the synthesizer's own
  // (see DryRendering::Start).
  RenderRates rates{};
  // Set (non-zero) to end the rendering early; it then gives false. Null: never.
  const std::atomic<int>* stop = nullptr;
};

// False when the synthesizer can't be made, the song is too long to hold, or a stop came.
bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       Rendering& out, const RenderOptions& options = {});

// Takes a rendering block by block in song order: interleaved stereo whose first pair is
// song frame `frame`. A gap before a block is silence; nothing follows the last one. False
// ends the rendering.
using RenderSink = std::function<bool(int64_t frame, std::span<const int16_t> block)>;

// The same, handed over as it is made so that a long one is never held whole; also false
// when the sink gave false.
bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       const RenderSink& sink, const RenderOptions& options = {});

// The same blocks before they are rounded to 16 bits: interleaved stereo, full scale 1.0.
using FloatRenderSink = std::function<bool(int64_t frame, std::span<const float> block)>;
bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       const FloatRenderSink& sink, const RenderOptions& options = {});

// Hands FluidSynth's own log and GLib's to the forwarding of glib_log.h, once per process:
// without a verbose job it goes nowhere.
void InstallSynthLog();

// Routes the libraries' log to a verbose job's reporter for as long as it lives (the target
// must outlive it); a null target routes nothing.
class SynthLogRoute {
 public:
  explicit SynthLogRoute(Reporter* verboseTarget) : target_((InstallSynthLog(), verboseTarget)) {}

 private:
  LibraryLogTarget target_;
};

}  // namespace velorna
