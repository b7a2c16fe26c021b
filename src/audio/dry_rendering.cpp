#include "audio/dry_rendering.h"

namespace velorna {

void DryRendering::Release() {
  loan_.reset();
  synth_.reset();
}

void DryRendering::Stop() {
  phase_ = Phase::kDone;
  Release();
}

bool DryRendering::Start(const LoadedSoundFont& font, fluid_settings_t* settings,
                         std::vector<TimedEvent> events, bool refuseFull, RenderRates rates) {
  Release();
  phase_ = Phase::kDone;
  refuseFull_ = refuseFull;
  full_ = false;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].blockStart < 0 || (i > 0 && events[i].blockStart < events[i - 1].blockStart))
      return false;
  }
  // The rate is read only when a synthesizer is made: those made before keep theirs.
  if (!SetRenderRate(settings, rates.synth)) return false;
  outputRate_ = rates.output;
  synth_ = MakeRenderSynth(settings);
  if (!synth_) return false;
  loan_.emplace(synth_.get(), font.sfont);
  if (!loan_->ok()) {
    Release();
    return false;
  }
  events_ = std::move(events);
  next_ = 0;
  pos_ = 0;
  lastEvent_ = soundEnd_ = soundEndEvent_ = 0;
  ok_ = true;
  phase_ = Phase::kEvents;
  return true;
}

bool DryRendering::RenderUntil(int64_t limit, const std::function<void(const DryBlock&)>& sink) {
  fluid_synth_t* synth = synth_.get();
  const auto sounding = [&] { return fluid_synth_get_active_voice_count(synth) > 0; };
  const auto skippable = [&] { return !sounding() && !(ringing_ && ringing_()); };
  const auto render = [&] {
    ok_ = ProcessDryWithSends(synth, DrySynthBlock{block_.left, block_.right, block_.reverbSend,
                                                   block_.chorusSend}) &&
          ok_;
    block_.frame = pos_;
    sink(block_);
    pos_ += kBlockFrames;
    // Only blocks that start with a voice sounding are rendered (or, for the drum pass,
    // with the effects ringing).
    soundEnd_ = pos_;
    soundEndEvent_ = lastEvent_;
  };
  while (phase_ == Phase::kEvents) {
    if (next_ == events_.size()) {
      // Voices ring on after the last event until they end, for at most the tail limit.
      phase_ = Phase::kVoiceTail;
      voiceLimit_ = pos_ + TailLimitFrames(outputRate_);
      break;
    }
    const int64_t due = events_[next_].blockStart;
    if (pos_ < due) {
      if (skippable()) {
        pos_ = due;  // nothing sounds until the event: exactly zero
        continue;
      }
      if (pos_ >= limit) return ok_;
      render();
      continue;
    }
    while (next_ < events_.size() && events_[next_].blockStart == due) {
      SendEvent(synth, events_[next_].message);
      ++next_;
    }
    lastEvent_ = due;
    if (refuseFull_ &&
        fluid_synth_get_active_voice_count(synth) >= fluid_synth_get_polyphony(synth)) {
      full_ = true;  // a voice may have been refused or stolen
      Stop();
      return false;
    }
  }
  while (phase_ == Phase::kVoiceTail) {
    if (pos_ >= voiceLimit_ || !sounding()) {
      phase_ = Phase::kDone;
      Release();
      break;
    }
    if (pos_ >= limit) return ok_;
    render();
  }
  return ok_;
}

}  // namespace velorna
