// A rendering that stops short of the effects: the dry voices and the raw reverb and chorus
// sends, block by block at their song frames, with the timing, silence skipping and voice
// tail of RenderTimedEvents. Because the effects are linear and run on song time, the
// sends of many renderings can be summed and run through the effects once.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "audio/render_synth.h"
#include "audio/render_timing.h"
#include "base/limits.h"

namespace velorna {

struct DryBlock {
  int64_t frame = 0;  // song frame of the block's first sample
  std::array<float, kBlockFrames> left{}, right{}, reverbSend{}, chorusSend{};
};

class DryRendering {
 public:
  // A fresh synthesizer borrowing `font`, made from `settings` (MakeRenderSettings; both
  // must outlive this rendering) at `rates.synth` Hz. Its samples are used as ones at
  // `rates.output` (the rate the events were timed at) whatever that rate: events stay on
  // the output's blocks, and everything sounds higher by the ratio (see RenderRateFor).
  // False when the synthesizer can't be made or the events are not in block order.
  //
  // With `refuseFull`, the rendering stops as soon as its voices fill the synthesizer's
  // polyphony (full() tells): a synthesizer with few voices is far cheaper to make, and
  // renders exactly like a large one as long as no voice had to be refused or stolen.
  bool Start(const LoadedSoundFont& font, fluid_settings_t* settings,
             std::vector<TimedEvent> events, bool refuseFull = false, RenderRates rates = {});

  // Where the blocks feed something that rings on without voices (effects), stretches are
  // skipped only while `ringing` says false too; null: whenever no voice sounds. Kept
  // across Start.
  void SetRinging(std::function<bool()> ringing) { ringing_ = std::move(ringing); }

  // Renders every block that starts before `limit`, handing each to `sink`; stretches
  // where no voice sounds are skipped. False once FluidSynth has reported an error.
  bool RenderUntil(int64_t limit, const std::function<void(const DryBlock&)>& sink);

  // Ends the rendering here and returns the SoundFont.
  void Stop();

  bool finished() const { return phase_ == Phase::kDone; }
  // Every event has been given: only the voices' tail is left, at most the tail limit long.
  bool ringingOut() const { return phase_ == Phase::kVoiceTail; }
  bool full() const { return full_; }
  // The events given to Start, for rendering them again after full().
  std::vector<TimedEvent> TakeEvents() { return std::move(events_); }
  // Nothing before this song frame is still to come.
  int64_t position() const { return pos_; }
  // The end of the last block in which a voice sounded (0: none yet), and where the last
  // event before it was given: past that event only the voices' own time ended them.
  int64_t soundEnd() const { return soundEnd_; }
  int64_t lastEventBeforeSoundEnd() const { return soundEndEvent_; }

 private:
  enum class Phase { kEvents, kVoiceTail, kDone };
  void Release();

  std::vector<TimedEvent> events_;
  size_t next_ = 0;
  int64_t pos_ = 0;
  int64_t voiceLimit_ = 0;
  int64_t lastEvent_ = 0;
  int64_t soundEnd_ = 0;
  int64_t soundEndEvent_ = 0;
  int outputRate_ = kSampleRate;
  Phase phase_ = Phase::kDone;
  bool ok_ = true;
  bool refuseFull_ = false;
  bool full_ = false;
  DryBlock block_;
  std::function<bool()> ringing_;
  FluidSynthPtr synth_;
  std::optional<SoundFontLoan> loan_;  // declared after the synthesizer: returned first
};

}  // namespace velorna
