#include "conversion/file_engine.h"

#include <vector>
#include "conversion/song_pitch.h"

#include "audio/mix_accumulator.h"
#include "audio/pitch_realisation.h"
#include "audio/render_timing.h"
#include "audio/rendering_service.h"
#include "base/library_error.h"
#include "conversion/conversion_messages.h"
#include "conversion/job_files.h"
#include "midi/smf_writer.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

constexpr int64_t kPercent = 100;
// An unrounded rendering reaches the mix in runs of at most this many samples.
constexpr size_t kRunSamples = size_t{1} << 19;

class FileEngine final : public RenderEngine {
 public:
  bool MixAll(EngineTask& task, MixSink& out) override;

 private:
  // Writes, renders (at `rates`) and mixes one copy. False when any step failed (the
  // reason has been shown): a copy left out would make the output a silent or partial one
  // passed off as complete. A stop is no failure.
  // A rendering a Stop cut short is left out: the mix is then complete before `start`, the
  // copy's first sound.
  bool RenderCopy(MidiFormat0Data& copy, const RenderRates& rates, int64_t start);
  // Writes a plan and renders it as RenderCopy does; a plan that gives no sound is no step.
  bool RenderPlan(const SongNoteIndex& index, const NotePlan& plan, int64_t start);
  int OutputRate() const { return task_->sampleRate; }
  bool DrumPass(const SongNoteIndex& index);
  bool NotePasses(const SongNoteIndex& index);
  // Whether a Stop has come; if so the mix is complete only before `frame`.
  bool StoppedAt(int64_t frame);

  // Set for the run.
  EngineTask* task_ = nullptr;
  SpooledMix* mix_ = nullptr;
  const JobFiles* files_ = nullptr;
  // Every output but the plain 16-bit WAV sums the renderings before any rounding.
  bool unrounded_ = false;
  std::vector<float> run_;
  SilentReporter silent_;   // the job's own temporary files report nothing
  int64_t stopFrame_ = -1;  // where a Stop cut the mix; -1: it did not
};

bool FileEngine::RenderCopy(MidiFormat0Data& copy, const RenderRates& rates, int64_t start) {
  MidiContext quiet(silent_);
  if (!WriteSmf(quiet, copy, files_->midi)) {
    task_->reporter.ShowText(conversion_msg::kCannotOpen);
    return false;
  }
  RenderOptions options;
  options.rates = rates;
  options.stop = &task_->control.m_cancel;
  if (!unrounded_) {
    if (!RenderMidiToWave(*task_->font, task_->reporter, files_->midi, files_->wav, options))
      return StoppedAt(start);
    return mix_->AddWaveFile(task_->reporter, files_->wav);
  }
  // Unrounded renderings are added as they are made, in runs of consecutive blocks.
  run_.clear();
  int64_t runStart = 0;
  bool added = true;
  const auto flush = [&] {
    added = added && mix_->AddRun(task_->reporter, runStart, run_);
    run_.clear();
    return added;
  };
  const FloatRenderSink sink = [&](int64_t frame, std::span<const float> block) {
    const int64_t runEnd = runStart + static_cast<int64_t>(run_.size()) / kChannels;
    if (!run_.empty() && (frame != runEnd || run_.size() >= kRunSamples) && !flush()) return false;
    if (run_.empty()) runStart = frame;
    run_.insert(run_.end(), block.begin(), block.end());
    return true;
  };
  if (!RenderMidiToSink(*task_->font, task_->reporter, files_->midi, sink, options))
    return added && StoppedAt(start);
  return flush();
}

bool FileEngine::StoppedAt(int64_t frame) {
  if (task_->control.m_cancel.load() == 0) return false;
  stopFrame_ = frame;
  return true;
}

bool FileEngine::RenderPlan(const SongNoteIndex& index, const NotePlan& plan, int64_t start) {
  if (!plan.sounds) return true;
  MidiContext ctx(task_->reporter);
  const std::unique_ptr<MidiFormat0Data> copy = SongOfPlan(ctx, index, plan);
  return copy && RenderCopy(*copy, plan.rates, start);
}

bool FileEngine::DrumPass(const SongNoteIndex& index) {
  const NotePlan plan = PlanDrums(index, OutputRate());
  PassPoint(task_->control, JobPoint::kDrumPass);
  return RenderPlan(index, plan, 0);
}

bool FileEngine::NotePasses(const SongNoteIndex& index) {
  const auto& events = task_->song.track->events;
  const int64_t count = static_cast<int64_t>(events.size());
  JobControl& control = task_->control;
  NotePlanner planner(index, task_->tuning, OutputRate());
  // The notes come in song order, each rendered whole: the mix is complete before the start
  // of the first note a Stop leaves out.
  const auto startOf = [&](int64_t i) {
    return SongSampleOfMicroseconds(index.clock.Microseconds(index.times[i]), OutputRate());
  };
  for (int64_t i = 0; i < count; ++i) {
    PassPoint(control, JobPoint::kNote);
    if (StoppedAt(startOf(i))) break;
    control.m_progress = static_cast<int>(kPercent * i / count);
    ShowProgress(control, task_->observer);
    if (events[i].status != st::kNote || events[i].channel == kDrumChannel) continue;
    const NotePlan plan = planner.Plan(task_->reporter, static_cast<int32_t>(i));
    if (!RenderPlan(index, plan, startOf(i))) return false;
    if (stopFrame_ >= 0) break;
  }
  return true;
}

bool FileEngine::MixAll(EngineTask& task, MixSink& out) {
  const std::unique_ptr<SongNoteIndex> index =
      task.font ? IndexSongForFont(task.song, *task.font, task.reporter) : nullptr;
  if (!index) {
    ShowMdtkError(task.reporter, code::kMdtkInternal);
    return false;
  }
  const std::unique_ptr<JobFiles> files = MakeJobFiles();
  // Renderings come whole, one after another, each from the song's start: their sum waits
  // on disk, not in memory, until the last is added.
  SpooledMix mix(out.endFrame(), task.sampleRate);
  if (!files || !mix.ok()) {
    task.reporter.ShowText(conversion_msg::kCannotOpen);
    return false;
  }
  task_ = &task;
  mix_ = &mix;
  files_ = files.get();
  unrounded_ = !out.plainWav();
  const bool mixed = DrumPass(*index) && (stopFrame_ >= 0 || NotePasses(*index));
  if (stopFrame_ >= 0) {
    out.EndAt(stopFrame_);
    mix.EndAt(stopFrame_);
  }
  task_ = nullptr;
  mix_ = nullptr;
  files_ = nullptr;
  return mixed &&
         mix.ReadOut(task.reporter, [&](std::span<const float> sums) { return out.Put(sums); });
}

}  // namespace

std::unique_ptr<MidiFormat0Data> SongOfPlan(MidiContext& ctx, const SongNoteIndex& index,
                                            const NotePlan& plan) {
  const MidiFormat0Data& song = *index.song;
  const auto& events = song.track->events;
  auto copy = std::make_unique<MidiFormat0Data>();
  copy->division = song.division;
  copy->state = kSongNotes;
  copy->track = std::make_unique<MidiTrack>();
  MidiTrack& track = *copy->track;
  track.state = ts::kNotes;
  int64_t last = 0;
  const auto append = [&](const MidiEvent& e, int64_t tick) {
    MidiEvent kept = e;
    kept.delta = DeltaBetween(last, tick);
    last += kept.delta;
    return AppendEvent(ctx, track, std::move(kept));
  };
  // The song's tempo changes go in where the song has them: in front of the plan's events
  // at their tick that come later in the song, of what the plan adds there, and of the note.
  const std::vector<int32_t>& shared = index.fullScan ? index.scan : index.sharedEvents;
  auto tempo = shared.begin();
  const auto nextTempo = [&] {
    while (tempo != shared.end() && !(events[static_cast<size_t>(*tempo)].status == st::kMeta &&
                                      events[static_cast<size_t>(*tempo)].kind == meta::kTempo))
      ++tempo;
    const bool inPlan =
        tempo != shared.end() && index.times[static_cast<size_t>(*tempo)] <= plan.lastTempoTick;
    return inPlan ? *tempo : -1;
  };
  for (const TickedEvent& e : plan.song) {
    for (int32_t k = nextTempo(); k >= 0; k = nextTempo()) {
      const int64_t tick = index.times[static_cast<size_t>(k)];
      const bool before =
          tick < e.tick ||
          (tick == e.tick && (e.source < 0 || e.source > k || e.event.status == st::kNote));
      if (!before) break;
      if (!append(events[static_cast<size_t>(k)], tick)) return nullptr;
      ++tempo;
    }
    if (!append(e.event, e.tick)) return nullptr;
  }
  return copy;
}

std::unique_ptr<RenderEngine> MakeFileEngine() {
  return std::make_unique<FileEngine>();
}

}  // namespace velorna
