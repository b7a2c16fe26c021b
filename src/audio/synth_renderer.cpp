#include "audio/synth_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "audio/chorus.h"
#include "audio/dry_rendering.h"
#include "audio/glib_log.h"
#include "audio/render_synth.h"
#include "audio/reverb.h"
#include "base/limits.h"

namespace velorna {
namespace {

// Longest rendering a WAV file can hold, in frames.
constexpr int64_t kMaxRenderFrames = static_cast<int64_t>(kMaxWavDataBytes / 4);
// How much song time is rendered between looks at the stop flag (about 0.1 s).
constexpr int64_t kStopCheckFrames = 4096;
// Below half a 16-bit step a sample rounds to 0.
constexpr float kHalfStep = 0.5f / 32768.0f;

using Block = std::array<float, kBlockFrames>;

// The program's own reverb and chorus, fed with the synthesizer's sends.
class SendEffects {
 public:
  explicit SendEffects(int sampleRate)
      : reverb_({.sampleRate = sampleRate}), chorus_({.sampleRate = sampleRate}) {}
  // Adds the effects of one block of sends, at song sample `songSample`, into left/right.
  void Add(int64_t songSample, const Block& reverbSend, const Block& chorusSend, Block& left,
           Block& right) {
    reverb_.Process(songSample, reverbSend, left, right);
    chorus_.Process(songSample, chorusSend, left, right);
  }
  // True when silence in gives exact silence out from here on.
  bool IsSilent() const { return reverb_.IsSilent() && chorus_.IsSilent(); }

 private:
  Reverb reverb_;
  Chorus chorus_;
};

// Collects the blocks; skipped stretches before the first block are left out, later ones
// become zeros.
class OutputBuilder {
 public:
  explicit OutputBuilder(Rendering& out) : out_(out) {}

  bool Append(int64_t frame, std::span<const int16_t> block) {
    if (!started_) {
      out_.startFrame = frame;
      started_ = true;
    } else if (frame > out_.endFrame()) {
      out_.samples.resize(static_cast<size_t>(frame - out_.startFrame) * 2, 0);
    }
    out_.samples.insert(out_.samples.end(), block.begin(), block.end());
    return true;
  }

 private:
  Rendering& out_;
  bool started_ = false;
};

bool BelowHalfStep(const Block& left, const Block& right) {
  for (int i = 0; i < kBlockFrames; ++i) {
    if (std::fabs(left[i]) >= kHalfStep || std::fabs(right[i]) >= kHalfStep) return false;
  }
  return true;
}

void DropLog(int, const char*, void*) {}

void ForwardLog(int, const char* message, void*) {
  ForwardLibraryLog(std::string("FluidSynth: ") + message);
}

}  // namespace

void InstallSynthLog() {
  static const bool installed = [] {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO})
      fluid_set_log_function(level, ForwardLog, nullptr);
    fluid_set_log_function(FLUID_DBG, DropLog, nullptr);
    InstallGLibLog();
    return true;
  }();
  (void)installed;
}

bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       Rendering& out, const RenderOptions& options) {
  out = Rendering{};
  OutputBuilder output(out);
  return RenderTimedEvents(
      font, events,
      [&](int64_t frame, std::span<const int16_t> block) { return output.Append(frame, block); },
      options);
}

bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       const RenderSink& sink, const RenderOptions& options) {
  std::array<int16_t, kBlockFrames * 2> converted{};
  return RenderTimedEvents(
      font, events,
      [&](int64_t frame, std::span<const float> block) {
        for (size_t i = 0; i < block.size(); ++i) converted[i] = FloatToSample(block[i]);
        return sink(frame, converted);
      },
      options);
}

bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       const FloatRenderSink& sink, const RenderOptions& options) {
  const int64_t tailLimit = TailLimitFrames(options.rates.output);
  if (!events.empty() && events.back().blockStart > kMaxRenderFrames - 2 * tailLimit - 128)
    return false;

  const FluidSettingsPtr settings = MakeRenderSettings();
  if (!settings) return false;
  SendEffects effects(options.rates.output);
  DryRendering dry;
  const bool skip = options.skipSilence;
  // A stretch without voices is still rendered while the effects ring on.
  dry.SetRinging([&] { return !skip || !effects.IsSilent(); });
  if (!dry.Start(font, settings.get(), std::vector<TimedEvent>(events.begin(), events.end()), false,
                 options.rates))
    return false;

  Block left{}, right{};
  std::array<float, kBlockFrames * 2> interleaved{};
  bool sinkOk = true;
  const auto put = [&](int64_t frame) {
    for (int i = 0; i < kBlockFrames; ++i) {
      interleaved[i * 2] = left[i];
      interleaved[i * 2 + 1] = right[i];
    }
    sinkOk = sinkOk && sink(frame, interleaved);
  };
  const auto take = [&](const DryBlock& block) {
    left = block.left;
    right = block.right;
    effects.Add(block.frame, block.reverbSend, block.chorusSend, left, right);
    put(block.frame);
  };
  // In steps, so that a stop is seen soon even in a song of hours.
  const auto stopped = [&] { return options.stop != nullptr && options.stop->load() != 0; };
  bool synthOk = true;
  while (!dry.finished()) {
    if (stopped() || !sinkOk) return false;
    synthOk = dry.RenderUntil(dry.position() + kStopCheckFrames, take);
  }

  // Then the effects alone, until a whole block rounds to silence.
  int64_t pos = dry.position();
  const int64_t effectLimit = pos + tailLimit;
  const Block silence{};
  while (pos < effectLimit && !(skip && effects.IsSilent())) {
    if (stopped()) return false;
    left.fill(0.0f);
    right.fill(0.0f);
    effects.Add(pos, silence, silence, left, right);
    if (BelowHalfStep(left, right)) break;
    put(pos);
    if (!sinkOk) return false;
    pos += kBlockFrames;
  }
  // No zeros after the last sound: a copy that holds its tail open would otherwise carry
  // silence up to the song's end.
  return synthOk && sinkOk;
}

}  // namespace velorna
