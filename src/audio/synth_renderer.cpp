#include "audio/synth_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "audio/chorus.h"
#include "audio/glib_log.h"
#include "audio/render_synth.h"
#include "audio/reverb.h"
#include "base/limits.h"

namespace velorna {
namespace {

// Longest rendering a WAV file can hold, in frames.
constexpr int64_t kMaxRenderFrames = static_cast<int64_t>(kMaxWavDataBytes / 4);
// Below half a 16-bit step a sample rounds to 0.
constexpr float kHalfStep = 0.5f / 32768.0f;

using Block = std::array<float, kBlockFrames>;

// The program's own reverb and chorus, fed with the synthesizer's sends.
class SendEffects {
 public:
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

// One block of the synthesizer: dry stereo plus the mono reverb and chorus sends.
struct SynthBlock {
  Block left{}, right{}, reverbSend{}, chorusSend{};

  bool Render(fluid_synth_t* synth) {
    return ProcessDryWithSends(synth, DrySynthBlock{left, right, reverbSend, chorusSend});
  }
};

// Collects converted blocks; skipped stretches before the first block are left out, later
// ones become zeros.
class OutputBuilder {
 public:
  explicit OutputBuilder(Rendering& out) : out_(out) {}

  void Append(int64_t frame, const Block& left, const Block& right) {
    PadTo(frame);
    for (int i = 0; i < kBlockFrames; ++i) {
      out_.samples.push_back(FloatToSample(left[i]));
      out_.samples.push_back(FloatToSample(right[i]));
    }
  }
  void PadTo(int64_t frame) {
    if (!started_) {
      out_.startFrame = frame;
      started_ = true;
    } else if (frame > out_.endFrame()) {
      out_.samples.resize(static_cast<size_t>(frame - out_.startFrame) * 2, 0);
    }
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

void ForwardLog(int, const char* message, void* data) {
  static_cast<Reporter*>(data)->ShowText(std::string("FluidSynth: ") + message);
}

}  // namespace

void RouteSynthLog(Reporter* verboseTarget) {
  for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO}) {
    fluid_set_log_function(level, verboseTarget ? ForwardLog : DropLog, verboseTarget);
  }
  fluid_set_log_function(FLUID_DBG, DropLog, nullptr);
  RouteGLibLog(verboseTarget);
}

std::unique_ptr<LoadedSoundFont> LoadSoundFont(const std::string& path) {
  auto font = std::make_unique<LoadedSoundFont>();
  font->path = path;
  font->owner = MakeRenderSynth();
  fluid_synth_t* owner = font->owner.synth.get();
  if (owner == nullptr) return nullptr;
  const int id = fluid_synth_sfload(owner, path.c_str(), 0);
  if (id == FLUID_FAILED) return nullptr;
  font->sfont = fluid_synth_get_sfont_by_id(owner, id);
  if (font->sfont == nullptr) return nullptr;
  return font;
}

int16_t FloatToSample(float x) {
  const long v = std::lround(static_cast<double>(x) * 32768.0);
  return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
}

bool RenderTimedEvents(const LoadedSoundFont& font, std::span<const TimedEvent> events,
                       Rendering& out, const RenderOptions& options) {
  out = Rendering{};
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].blockStart < 0 || (i > 0 && events[i].blockStart < events[i - 1].blockStart))
      return false;
  }
  if (!events.empty() && events.back().blockStart > kMaxRenderFrames - 2 * kTailLimitFrames - 128)
    return false;

  const DrySynth dry = MakeRenderSynth();
  fluid_synth_t* synth = dry.synth.get();
  if (synth == nullptr) return false;
  SoundFontLoan loan(synth, font.sfont);  // returned before the synthesizer goes
  if (!loan.ok()) return false;

  SendEffects effects;
  SynthBlock block;
  OutputBuilder output(out);
  const bool skip = options.skipSilence;
  const auto silent = [&] {
    return fluid_synth_get_active_voice_count(synth) == 0 && effects.IsSilent();
  };
  bool synthOk = true;
  const auto renderBlock = [&](int64_t pos) {
    synthOk = block.Render(synth) && synthOk;
    effects.Add(pos, block.reverbSend, block.chorusSend, block.left, block.right);
    output.Append(pos, block.left, block.right);
  };

  int64_t pos = 0;
  size_t next = 0;
  while (next < events.size()) {
    const int64_t due = events[next].blockStart;
    while (pos < due) {
      if (skip && silent()) {
        pos = due;  // nothing sounds until the event: exactly zero
        break;
      }
      renderBlock(pos);
      pos += kBlockFrames;
    }
    while (next < events.size() && events[next].blockStart == due) {
      SendEvent(synth, events[next].message);
      ++next;
    }
  }

  // Voices ring on after the last event until they end, for at most the tail limit.
  const int64_t voiceLimit = pos + kTailLimitFrames;
  while (pos < voiceLimit && fluid_synth_get_active_voice_count(synth) > 0) {
    renderBlock(pos);
    pos += kBlockFrames;
  }

  // Then the effects alone, until a whole block rounds to silence.
  const int64_t effectLimit = pos + kTailLimitFrames;
  Block silence{};
  while (pos < effectLimit && !(skip && effects.IsSilent())) {
    block.left.fill(0.0f);
    block.right.fill(0.0f);
    effects.Add(pos, silence, silence, block.left, block.right);
    if (BelowHalfStep(block.left, block.right)) break;
    output.Append(pos, block.left, block.right);
    pos += kBlockFrames;
  }
  output.PadTo(pos);
  return synthOk;
}

}  // namespace velorna
