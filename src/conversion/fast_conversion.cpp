#include "conversion/fast_conversion.h"

#include "conversion/song_pitch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/audio_messages.h"
#include "audio/dry_rendering.h"
#include "audio/pitch_realisation.h"
#include "audio/song_sums.h"
#include "base/address_space.h"
#include "base/library_error.h"
#include "conversion/memory_policy.h"
#include "conversion/note_ends.h"
#include "conversion/note_plan.h"

namespace velorna {

namespace {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();
// How far ahead of what the coordinating thread has taken any rendering may go: bounds the
// sums held, whatever the song's length or its held notes.
constexpr int64_t kLookAheadSeconds = 20;
// The drum pass goes on in steps of this much song time, between notes.
constexpr int64_t kDrumStepFrames = 2 * kSumChunkFrames;
// A rendering's blocks are added in runs of at most this many frames.
constexpr int64_t kRunFrames = 4 * kSumChunkFrames;
// A note's rendering goes on in steps of this much song time, so that a Stop ends even a
// note held for hours at once, and what the note has passed can be mixed and freed.
constexpr int64_t kNoteStepFrames = kRunFrames;
// A note's step where the mix goes out block by block (see EngineTask::eagerFrames).
constexpr int64_t kEagerStepFrames = kSumChunkFrames / 4;
// Voices of the synthesizers that render single notes: a note rarely starts more than a few.
constexpr int kNoteVoices = 32;
// How often the coordinating thread refreshes progress and mixes finished sums.
constexpr auto kRefresh = std::chrono::milliseconds(100);
constexpr int64_t kPercent = 100;

// Room asked for before FluidSynth makes a synthesizer's settings, which it does without
// checking its allocations: far more than they take.
constexpr int64_t kSettingsRoom = int64_t{16} << 20;

// What one worker thread renders with: its own SoundFont and synthesizer settings. The
// drum pass has a kit of its own too, so that whichever thread is free takes its next step.
struct WorkerKit {
  std::unique_ptr<LoadedSoundFont> font;
  FluidSettingsPtr settings;
  FluidSettingsPtr fewVoices;  // for single notes: made in a tenth of the time
};

// A kit for `font`, made on the calling thread while no other allocates; throws
// std::bad_alloc when the room cannot be had, and gives no font when the settings failed.
WorkerKit MakeKit(std::unique_ptr<LoadedSoundFont> font) {
  WorkerKit kit;
  for (FluidSettingsPtr* settings : {&kit.settings, &kit.fewVoices}) {
    if (!AddressSpaceFits(kSettingsRoom)) throw std::bad_alloc();
    *settings = MakeRenderSettings(settings == &kit.settings ? kRenderPolyphony : kNoteVoices);
  }
  if (kit.settings && kit.fewVoices) kit.font = std::move(font);
  return kit;
}

struct NoteTask {
  int32_t event = 0;       // position in the prepared track
  int64_t startFrame = 0;  // the block its rendering starts at: nothing of it comes before
};

// A rendering whose synthesizer could not be made (at a rate always inside FluidSynth's
// range, from events in order) is one FluidSynth had no memory for: the job ends short of
// memory, as it does anywhere else, rather than writing the song without it.
void RequireStarted(bool started) {
  if (!started) throw std::bad_alloc();
}

// The end of the sum chunk holding `frame`.
int64_t ChunkEndAfter(int64_t frame) {
  return (frame / kSumChunkFrames + 1) * kSumChunkFrames;
}

// How long a note's effects must have rung after it fell silent before a rendering from a
// later point may leave it out: until its reverb has decayed by 30 dB (half its decay by
// 60), where the notes still sounding cover what is left of it; the chorus's delays are far
// shorter. Only the effects' tails of what came before a start may differ anyway.
constexpr double kEffectsTailShare = 0.5;
int64_t EffectsRingFrames(int sampleRate) {
  return static_cast<int64_t>(std::ceil(Reverb({.sampleRate = sampleRate}).DecayTime() *
                                        kEffectsTailShare * static_cast<double>(sampleRate)));
}

// Playback from `startFrame`: a note released this long before it rings no more (the
// voices' tail limit), so it is left out; 0 from the song's start.
int64_t HeardFrom(int64_t startFrame, int sampleRate) {
  return startFrame > 0 ? startFrame - TailLimitFrames(sampleRate) : 0;
}

// What a note's end depends on, as planned.
NoteSound SoundOf(const NotePlan& plan) {
  return {plan.rates.synth, plan.retuning.target, plan.retuning.keyShift};
}

// Pitched notes in song order with the block where each one's plan starts; without those
// released before `heardFrom`.
std::vector<NoteTask> NoteTasks(const MidiFormat0Data& song, const SongNoteIndex& index,
                                int sampleRate, int64_t heardFrom) {
  const auto& events = song.track->events;
  const auto frameOf = [&](int64_t tick) {
    return SongSampleOfMicroseconds(index.clock.Microseconds(tick), sampleRate);
  };
  std::vector<NoteTask> notes;
  for (size_t k = 0; k < events.size(); ++k) {
    if (events[k].status != st::kNote || events[k].channel == kDrumChannel) continue;
    const auto i = static_cast<int32_t>(k);
    if (heardFrom > 0 && frameOf(ReleaseTick(index, i)) < heardFrom) continue;
    notes.push_back(NoteTask{i, FirstBlockOf(index, i, sampleRate)});
  }
  return notes;
}

// The drum pass without the strokes released before `heardFrom`: its set-up stays.
void DropStrokesBefore(std::vector<TimedEvent>& events, int64_t heardFrom) {
  constexpr uint8_t kNoteOnNibble = 0x90;
  std::erase_if(events, [&](const TimedEvent& e) {
    return e.songSample < heardFrom && e.message.size() == 3 &&
           (e.message[0] & 0xF0) == kNoteOnNibble && e.message[2] != 0;
  });
}

class FastJob {
 public:
  FastJob(const MidiFormat0Data& song, const SongNoteIndex& index, const Tuning& tuning,
          JobControl& control, Reporter& reporter, int workers, int sampleRate, int64_t startFrame,
          int64_t lookAheadFrames, int64_t eagerFrames, NoteEnds* noteEnds)
      : song_(song),
        index_(index),
        control_(control),
        reporter_(reporter),
        rate_(sampleRate),
        heardFrom_(HeardFrom(startFrame, sampleRate)),
        lookAhead_(lookAheadFrames > 0 ? lookAheadFrames : kLookAheadSeconds * sampleRate),
        eagerUntil_(eagerFrames > 0 ? ChunkEndAfter(startFrame + eagerFrames) : 0),
        startFrame_(startFrame),
        noteEnds_(noteEnds),
        effectsRing_(noteEnds ? EffectsRingFrames(sampleRate) : 0),
        workers_(workers),
        plannedWorkers_(workers),
        planner_(index, tuning, sampleRate) {
    notes_ = NoteTasks(song, index, sampleRate, heardFrom_);
    done_.assign(notes_.size(), 0);
  }

  void Work();
  // One loaded SoundFont and its settings per thread: its voices count their references
  // without locks. The drum pass renders with `drums`, or, with `kits` of one thread, shares
  // that thread's: nobody else renders then.
  void LendKits(std::vector<WorkerKit> kits, WorkerKit drums);
  // The SoundFonts, once every thread has ended, for a caller that renders again.
  std::vector<std::unique_ptr<LoadedSoundFont>> TakeBackFonts();
  // Writes finished sums to the output as the workers go, and shows progress; returns when
  // everything is written.
  void Coordinate(JobObserver& observer, MixSink& out);
  void Finish(JobObserver& observer, MixSink& out);
  bool anyWorkerStarted() const { return drumsClaimed_; }
  // Only `threads` of the planned workers run.
  void Started(int threads) {
    std::lock_guard lock(mutex_);
    workers_ -= plannedWorkers_ - threads;
    changed_.notify_all();
  }
  // Memory ran out on some thread: the job ended early and its mix is incomplete.
  bool failed() const { return failed_.load() && !outputFailed_; }
  // Writing the output failed (the reason has been shown): the job ended early.
  bool outputFailed() const { return outputFailed_; }

 private:
  enum class Task { kNone, kDrums, kNote, kWait };

  // A Stop, or memory run out: no rendering goes on.
  bool Ending() const { return control_.m_cancel.load() != 0 || failed_.load(); }
  // No rendering goes past this frame before the coordinating thread has taken more.
  int64_t WindowEnd() const { return mixedBefore_ + lookAhead_; }

  // All of these run under the lock.
  // Whether the coordinating thread has sums to take.
  bool Takeable() const { return MixableBefore() > mixedBefore_; }
  // Where the sums can be mixed up to: whole chunks, or blocks in the eager first stretch.
  int64_t MixableBefore() const;
  Task ChooseTask() const;
  // Where a Stop cut the mix: everything before it is complete; kNever when it cut nothing.
  int64_t StopFrame() const;
  int64_t FinishedBefore() const;
  bool AllDone() const;
  int32_t FirstUnfinishedEvent() const;

  // A note a thread has started and not finished. Its rendering is on the heap: a thread
  // may hold many at the window's end while the mix catches up.
  struct OpenNote {
    size_t n = 0;
    RenderRates rates;
    std::unique_ptr<DryRendering> rendering;
    NoteSound sound;  // what the rendering's end depends on
  };
  // What one worker thread renders with.
  struct Worker : WorkerKit {
    BlockRun run;
    std::vector<OpenNote> open;
  };
  void Serve(Worker& worker);
  void StartDrums();
  // Takes the next note and its plan; under the lock, as the plans are made in song order.
  size_t TakeNote(NotePlan& plan);
  // Whether a note planned so was seen to fall silent, effects' tails and all, before the
  // start: it is left out.
  bool SilentBeforeStart(const NotePlan& plan) const;
  // Keeps where a note rendered to its end fell silent, for later renderings.
  void RecordEnd(const OpenNote& note) const;
  // Starts the note's rendering among the thread's open notes; one that cannot start is
  // done at once.
  void StartNote(Worker& worker, size_t n, NotePlan& plan);
  // Renders the thread's open notes to their ends in steps, publishing how far each got.
  void RenderOpenNotes(Worker& worker);
  // Under the lock: the open note to render next (the furthest behind of those the window
  // lets go on), or null.
  OpenNote* NextToRender(Worker& worker) const;
  // Whether the note not yet taken starts before the open one goes on. Where the mix goes
  // out block by block (a preview's restart), everything goes on in song order, so the
  // first blocks past the start are complete as soon as can be; elsewhere a note goes on to
  // the window's end first, which renders it in fewer, longer steps.
  bool StartsFirst(const NoteTask& next, const DryRendering& open) const {
    return open.position() < eagerUntil_ && next.startFrame < open.position();
  }
  // The note is done (`wasOpen`: it was among the open notes), cut at `cut` by a Stop.
  void CloseNote(size_t n, int64_t cut, bool wasOpen = false);
  void RenderDrumStep(Worker& worker, int64_t limit);
  void Drain(Worker& worker, DryRendering& rendering, int64_t limit);
  // Whether the drum pass has a step to take that the window has room for.
  bool DrumsDue() const;

  const MidiFormat0Data& song_;
  const SongNoteIndex& index_;
  JobControl& control_;
  Reporter& reporter_;
  const int rate_;            // the output's: every rendering is timed and used at it
  const int64_t heardFrom_;   // nothing released before this frame is rendered
  const int64_t lookAhead_;   // how far past what is mixed a rendering may go
  const int64_t eagerUntil_;  // before this frame the sums are mixed block by block
  const int64_t startFrame_;
  NoteEnds* const noteEnds_;   // null: none kept
  const int64_t effectsRing_;  // how long the effects ring on after their sends fall silent

  mutable std::mutex mutex_;
  std::vector<WorkerKit> spareKits_;
  std::vector<std::unique_ptr<LoadedSoundFont>> handedBack_;
  std::condition_variable changed_;
  std::vector<NoteTask> notes_;
  std::vector<char> done_;
  // Notes taken and not yet rendered (at most one per thread), each with the frame before
  // which nothing of it is still to come.
  std::vector<std::pair<size_t, int64_t>> inFlight_;
  size_t nextNote_ = 0;     // the first note not yet taken
  size_t firstUndone_ = 0;  // the first note not yet rendered
  int workers_;             // still running
  const int plannedWorkers_;
  NotePlanner planner_;
  WorkerKit drumKit_;  // empty when the drum pass shares the one thread's kit
  const LoadedSoundFont* drumFont_ = nullptr;
  fluid_settings_t* drumSettings_ = nullptr;
  bool drumsClaimed_ = false;  // some thread has started the drum pass
  DryRendering drums_;
  bool drumsBusy_ = false;
  int openNotes_ = 0;  // open notes of all threads
  std::atomic<bool> failed_{false};
  bool outputFailed_ = false;  // written by the coordinating thread alone
  int64_t mixedBefore_ = 0;
  int waiting_ = 0;  // threads waiting for room, in the middle of a note or between tasks  // the
                     // sums before this frame have been taken for mixing
  int64_t drumsAt_ = 0;     // nothing of the drum pass is still to come before this frame
  int64_t cutAt_ = kNever;  // the earliest frame where a Stop cut a rendering short
  SongSums sums_;
};

int64_t FastJob::FinishedBefore() const {
  int64_t frame = drumsAt_;
  // A note in flight holds back only what it may still add: its sums before are complete.
  for (const auto& [n, reached] : inFlight_) {
    frame = std::min(frame, std::max(notes_[n].startFrame, reached));
  }
  if (nextNote_ < notes_.size() && !Ending()) {
    frame = std::min(frame, notes_[nextNote_].startFrame);
  }
  return frame;
}

int64_t FastJob::MixableBefore() const {
  const int64_t finished = FinishedBefore();
  const int64_t chunked = finished / kSumChunkFrames * kSumChunkFrames;
  if (chunked >= eagerUntil_) return chunked;
  return std::min(finished, eagerUntil_) / kBlockFrames * kBlockFrames;
}

int64_t FastJob::StopFrame() const {
  int64_t frame = cutAt_;
  if (nextNote_ < notes_.size()) frame = std::min(frame, notes_[nextNote_].startFrame);
  return frame;
}

bool FastJob::AllDone() const {
  // After a failure the unfinished notes and drums stay unfinished: only the threads count.
  if (failed_) return workers_ == 0;
  if (drumsBusy_ || firstUndone_ < nextNote_) return false;
  if (workers_ == 0) return true;
  const bool notesLeft = nextNote_ < notes_.size() && !Ending();
  return !notesLeft && drumsAt_ == kNever;
}

int32_t FastJob::FirstUnfinishedEvent() const {
  if (firstUndone_ < notes_.size()) return notes_[firstUndone_].event;
  return song_.track->count();
}

FastJob::Task FastJob::ChooseTask() const {
  if (failed_) return Task::kNone;
  // A Stop ends the drum pass too: it keeps what it has rendered.
  const bool drumsLeft = drumsAt_ != kNever && !Ending();
  const bool notesOpen = nextNote_ < notes_.size() && !Ending();
  const bool drumsReady = DrumsDue();
  // The drum pass keeps up with the notes, so finished stretches can be mixed and freed.
  if (drumsReady && (!notesOpen || drumsAt_ <= notes_[nextNote_].startFrame)) return Task::kDrums;
  if (notesOpen && notes_[nextNote_].startFrame < WindowEnd()) return Task::kNote;
  if (drumsReady) return Task::kDrums;
  return notesOpen || drumsLeft ? Task::kWait : Task::kNone;
}

void FastJob::LendKits(std::vector<WorkerKit> kits, WorkerKit drums) {
  spareKits_ = std::move(kits);
  drumKit_ = std::move(drums);
  const WorkerKit& kit = drumKit_.font ? drumKit_ : spareKits_.front();
  drumFont_ = kit.font.get();
  drumSettings_ = kit.settings.get();
}

std::vector<std::unique_ptr<LoadedSoundFont>> FastJob::TakeBackFonts() {
  std::lock_guard lock(mutex_);
  std::vector<std::unique_ptr<LoadedSoundFont>> fonts = std::move(handedBack_);
  for (WorkerKit& kit : spareKits_) fonts.push_back(std::move(kit.font));
  fonts.push_back(std::move(drumKit_.font));
  std::erase(fonts, nullptr);
  return fonts;
}

void FastJob::StartDrums() {
  NotePlan plan = PlanDrums(index_, rate_);
  PassPoint(control_, JobPoint::kDrumPass);
  if (plan.sounds) DropStrokesBefore(plan.events, heardFrom_);
  const bool started = plan.sounds && drums_.Start(*drumFont_, drumSettings_,
                                                   std::move(plan.events), false, plan.rates);
  RequireStarted(started || !plan.sounds);
  std::lock_guard lock(mutex_);
  drumsAt_ = started ? 0 : kNever;
  drumsBusy_ = false;
  changed_.notify_all();
}

void FastJob::Drain(Worker& worker, DryRendering& rendering, int64_t limit) {
  BlockRun& run = worker.run;
  run.Clear();
  const auto flush = [&] {
    if (run.frames() == 0) return;
    std::lock_guard lock(mutex_);
    sums_.Add(run);
    run.Clear();
  };
  rendering.RenderUntil(limit, [&](const DryBlock& block) {
    if (run.frames() >= kRunFrames || !run.Append(block)) {
      flush();
      run.Append(block);
    }
  });
  flush();
}

bool FastJob::DrumsDue() const {
  return !Ending() && !drumsBusy_ && drumsAt_ != kNever && drumsAt_ < WindowEnd();
}

FastJob::OpenNote* FastJob::NextToRender(Worker& worker) const {
  OpenNote* next = nullptr;
  for (OpenNote& note : worker.open) {
    const DryRendering& r = *note.rendering;
    // A note past its events rings out past the window: for at most the tail limit, so the
    // sums beyond the window stay bounded whatever the song.
    if (r.position() >= WindowEnd() && !r.ringingOut()) continue;
    if (!next || r.position() < next->rendering->position()) next = &note;
  }
  return next;
}

void FastJob::StartNote(Worker& worker, size_t n, NotePlan& plan) {
  auto rendering = std::make_unique<DryRendering>();
  const NoteSound sound = SoundOf(plan);
  if (!plan.sounds) {
    CloseNote(n, kNever);
    return;
  }
  // Nothing is handed out before the note's voices start, so a note whose voices fill the
  // small synthesizer is simply rendered again with the full polyphony (RenderOpenNotes).
  RequireStarted(rendering->Start(*worker.font, worker.fewVoices.get(), std::move(plan.events),
                                  true, plan.rates));
  worker.open.push_back(OpenNote{n, plan.rates, std::move(rendering), sound});
  std::lock_guard lock(mutex_);
  ++openNotes_;
}

bool FastJob::SilentBeforeStart(const NotePlan& plan) const {
  if (!noteEnds_ || startFrame_ == 0 || !plan.sounds) return false;
  const std::optional<NoteEnd> seen = noteEnds_->Find(plan.note);
  if (!seen) return false;
  const std::optional<int64_t> end = LatestEnd(*seen, SoundOf(plan));
  return end && *end + effectsRing_ <= startFrame_;
}

void FastJob::RecordEnd(const OpenNote& note) const {
  if (!noteEnds_) return;
  const DryRendering& r = *note.rendering;
  noteEnds_->Record(notes_[note.n].event,
                    NoteEnd{r.lastEventBeforeSoundEnd(), r.soundEnd(), note.sound});
}

void FastJob::RenderOpenNotes(Worker& worker) {
  while (!worker.open.empty()) {
    OpenNote* note = nullptr;
    int64_t drumLimit = -1;
    size_t taken = notes_.size();  // a note started while the open ones wait
    NotePlan plan;
    {
      // Open notes wait at the window's end for the mix to catch up. Meanwhile this thread
      // takes the drum pass's steps in turn, or with every thread inside a long note the
      // pass would hold the mix back for the whole note. When every thread waits and
      // nothing can be mixed, what holds the mix back is a note not yet taken: this thread
      // starts it beside its own. At most one note per sounding voice waits there (the
      // polyphony holds the song's notes to kRenderPolyphony at once), so the window holds
      // for every song; only past kMaxOpenNotes does the note furthest behind go on.
      std::unique_lock lock(mutex_);
      note = NextToRender(worker);
      if (!note) {
        ++waiting_;
        changed_.notify_all();
        changed_.wait(lock, [&] {
          return Ending() || NextToRender(worker) || DrumsDue() ||
                 (waiting_ >= workers_ && !Takeable());
        });
        --waiting_;
        note = NextToRender(worker);
      }
      if (Ending()) break;
      const bool noteDue = openNotes_ < kMaxOpenNotes && nextNote_ < notes_.size() &&
                           notes_[nextNote_].startFrame < WindowEnd();
      if (note && noteDue && StartsFirst(notes_[nextNote_], *note->rendering)) {
        taken = TakeNote(plan);
      } else if (!note && DrumsDue()) {
        drumsBusy_ = true;
        drumLimit = drumsAt_ + kDrumStepFrames;
      } else if (!note && noteDue) {
        taken = TakeNote(plan);
      } else if (!note) {
        note = &*std::min_element(worker.open.begin(), worker.open.end(),
                                  [](const auto& a, const auto& b) {
                                    return a.rendering->position() < b.rendering->position();
                                  });
      }
    }
    if (drumLimit >= 0) {
      RenderDrumStep(worker, drumLimit);
      continue;
    }
    if (taken < notes_.size()) {
      PassPoint(control_, JobPoint::kNote);
      StartNote(worker, taken, plan);
      continue;
    }
    DryRendering& rendering = *note->rendering;
    // Short steps where the mix goes out block by block: a note holds it back less long.
    const int64_t step = rendering.position() < eagerUntil_ ? kEagerStepFrames : kNoteStepFrames;
    Drain(worker, rendering, rendering.position() + step);
    // A refused start has handed nothing out: the note starts again with every voice.
    if (rendering.full()) {
      RequireStarted(rendering.Start(*worker.font, worker.settings.get(), rendering.TakeEvents(),
                                     false, note->rates));
    }
    if (rendering.finished()) {
      RecordEnd(*note);
      const size_t n = note->n;
      worker.open.erase(worker.open.begin() + (note - worker.open.data()));
      CloseNote(n, kNever, true);
      continue;
    }
    std::lock_guard lock(mutex_);
    for (auto& [n, reached] : inFlight_) {
      if (n == note->n) reached = rendering.position();
    }
    changed_.notify_all();
  }
  // A Stop or a failure: each note still open is cut where its rendering got to.
  for (const OpenNote& open : worker.open) {
    CloseNote(open.n, std::max(notes_[open.n].startFrame, open.rendering->position()), true);
  }
  worker.open.clear();
}

void FastJob::CloseNote(size_t n, int64_t cut, bool wasOpen) {
  std::lock_guard lock(mutex_);
  if (wasOpen) --openNotes_;
  cutAt_ = std::min(cutAt_, cut);
  std::erase_if(inFlight_, [n](const auto& entry) { return entry.first == n; });
  done_[n] = 1;
  while (firstUndone_ < nextNote_ && done_[firstUndone_]) ++firstUndone_;
  changed_.notify_all();
}

void FastJob::RenderDrumStep(Worker& worker, int64_t limit) {
  Drain(worker, drums_, limit);
  std::lock_guard lock(mutex_);
  drumsAt_ = drums_.finished() ? kNever : drums_.position();
  drumsBusy_ = false;
  changed_.notify_all();
}

size_t FastJob::TakeNote(NotePlan& plan) {
  const size_t n = nextNote_++;
  inFlight_.emplace_back(n, notes_[n].startFrame);
  plan = planner_.Plan(reporter_, notes_[n].event);
  if (SilentBeforeStart(plan)) plan.sounds = false;
  return n;
}

void FastJob::Work() {
  // Declared here: with one thread, the drum pass borrows its SoundFont until the end below.
  Worker worker;
  try {
    Serve(worker);
  } catch (const std::bad_alloc&) {
    // Out of memory anywhere on this thread ends the whole job; the job says so.
    failed_ = true;
    worker.open.clear();
  }
  std::lock_guard lock(mutex_);
  --workers_;
  if (workers_ == 0) {
    if (drumsAt_ != kNever) cutAt_ = std::min(cutAt_, drumsAt_);
    drums_.Stop();      // before the SoundFont it borrows goes back
    drumsAt_ = kNever;  // complete, or nobody left to render it
  }
  // Every rendering of this thread has ended: its SoundFont may go back to the caller.
  if (worker.font) handedBack_.push_back(std::move(worker.font));
  changed_.notify_all();
}

void FastJob::Serve(Worker& worker) {
  {
    std::lock_guard lock(mutex_);
    if (!spareKits_.empty()) {
      static_cast<WorkerKit&>(worker) = std::move(spareKits_.back());
      spareKits_.pop_back();
    }
  }
  worker.run.Reserve(kRunFrames);
  std::unique_lock lock(mutex_);
  if (worker.font && !drumsClaimed_) {
    drumsClaimed_ = true;
    drumsBusy_ = true;
    lock.unlock();
    StartDrums();
    lock.lock();
  }
  while (worker.font) {
    const Task task = ChooseTask();
    if (task == Task::kNone) break;
    if (task == Task::kWait) {
      ++waiting_;
      changed_.notify_all();
      changed_.wait(lock);
      --waiting_;
      continue;
    }
    if (task == Task::kDrums) {
      drumsBusy_ = true;
      const int64_t limit = drumsAt_ + kDrumStepFrames;
      lock.unlock();
      RenderDrumStep(worker, limit);
    } else {
      NotePlan plan;
      const size_t n = TakeNote(plan);
      lock.unlock();
      PassPoint(control_, JobPoint::kNote);
      StartNote(worker, n, plan);
      RenderOpenNotes(worker);
    }
    lock.lock();
  }
}

void FastJob::Coordinate(JobObserver& observer, MixSink& out) {
  try {
    Finish(observer, out);
  } catch (const std::bad_alloc&) {
    std::lock_guard lock(mutex_);
    failed_ = true;
    changed_.notify_all();  // waiting workers end; the others at their next step
  }
}

void FastJob::Finish(JobObserver& observer, MixSink& out) {
  SumFinisher finisher(out, rate_);
  const int64_t eventCount = song_.track->count();
  for (;;) {
    std::map<int64_t, std::unique_ptr<SongSums::Chunk>> finished;
    int64_t before = 0;
    bool done = false;
    int32_t first = 0;
    {
      std::unique_lock lock(mutex_);
      // Woken by the end of the work or by sums to mix, otherwise at the pace of the
      // progress display.
      changed_.wait_for(lock, kRefresh, [&] { return AllDone() || Takeable(); });
      done = AllDone();
      if (done && failed_) return;
      // Once stopped, nothing more is mixed until the renderings have ended and the point
      // where the mix is complete is known.
      const bool stopped = control_.m_cancel.load() != 0;
      if (stopped && !done) {
        changed_.notify_all();  // a Stop wakes those waiting for room
        continue;
      }
      if (stopped && StopFrame() != kNever) out.EndAt(StopFrame());
      before = done ? kNever : MixableBefore();
      finished = sums_.TakeChunksBefore(before);
      // Inside a chunk: the stretch finished so far, from a copy (the rest is still to come).
      if (!done && before % kSumChunkFrames != 0) {
        if (auto part = sums_.CopyChunk(before / kSumChunkFrames))
          finished.emplace(before / kSumChunkFrames, std::move(part));
      }
      mixedBefore_ = std::max(mixedBefore_, before);
      changed_.notify_all();  // room for the workers, and a Stop wakes those waiting
      first = FirstUnfinishedEvent();
    }
    if (!finisher.Finish(finished, before)) {
      std::lock_guard lock(mutex_);
      outputFailed_ = true;
      failed_ = true;
      changed_.notify_all();
      return;
    }
    control_.m_progress =
        eventCount > 0 ? static_cast<int>(kPercent * int64_t{first} / eventCount) : 0;
    ShowProgress(control_, observer);
    if (done) return;
  }
}

class FastEngine final : public RenderEngine {
 public:
  explicit FastEngine(int jobs) : jobs_(jobs) {}
  bool MixAll(EngineTask& task, MixSink& out) override;

 private:
  int jobs_;
};

bool FastEngine::MixAll(EngineTask& task, MixSink& out) {
  const MidiFormat0Data& song = task.song;
  const std::unique_ptr<SongNoteIndex> index =
      task.font ? IndexSongForFont(song, *task.font, task.reporter) : nullptr;
  if (!index) {
    ShowMdtkError(task.reporter, code::kMdtkInternal);
    return false;
  }
  int jobs = jobs_ > 0 ? jobs_ : static_cast<int>(std::thread::hardware_concurrency());
  // Every thread has its own SoundFont: no more threads than there are renderings.
  const auto& events = song.track->events;
  const int64_t renderings =
      1 + std::count_if(events.begin(), events.end(), [](const MidiEvent& e) {
        return e.status == st::kNote && e.channel != kDrumChannel;
      });
  jobs = static_cast<int>(std::clamp<int64_t>(jobs, 1, renderings));
  const std::string soundFontPath = task.font->path;
  // The other threads' copies, and the drum pass's when there are several threads, are
  // loaded here, one after another, while no other thread allocates: FluidSynth does not
  // survive running out of memory mid-load, and the room is checked before each load. No
  // room, or a Stop, leaves fewer threads. The synthesizers' settings likewise: FluidSynth
  // copies their strings unchecked. FluidSynth's sample cache shares the samples between
  // the copies.
  std::vector<WorkerKit> kits;
  std::unique_ptr<LoadedSoundFont> font = std::move(task.font);
  std::vector<std::unique_ptr<LoadedSoundFont>> given = std::move(task.spareFonts);
  bool outOfRoom = false;
  const int copies = SoundFontCopies(jobs);
  while (font) {
    WorkerKit kit;
    try {
      kit = MakeKit(std::move(font));
    } catch (const std::bad_alloc&) {
      outOfRoom = true;
    }
    if (!kit.font) break;
    kits.push_back(std::move(kit));
    if (static_cast<int>(kits.size()) >= copies || task.control.m_cancel.load() != 0) break;
    if (!given.empty()) {
      font = std::move(given.back());
      given.pop_back();
      continue;
    }
    try {
      font = LoadSoundFont(soundFontPath);
    } catch (const std::bad_alloc&) {
    }
  }
  if (kits.empty()) {
    task.reporter.ShowText(outOfRoom ? audio_msg::kOutOfMemory
                                     : audio_msg::NoSynthesizer(soundFontPath));
    return false;
  }
  // With one copy, the one thread renders the drum pass with it as well.
  WorkerKit drumKit;
  if (kits.size() > 1) {
    drumKit = std::move(kits.back());
    kits.pop_back();
  }
  jobs = static_cast<int>(kits.size());
  FastJob job(song, *index, task.tuning, task.control, task.reporter, jobs, task.sampleRate,
              task.startFrame, task.lookAheadFrames, task.eagerFrames, task.noteEnds);
  job.LendKits(std::move(kits), std::move(drumKit));
  {
    std::vector<std::jthread> workers;
    // A thread that cannot be started (no room for its stack) leaves fewer workers; none at
    // all is a job short of memory.
    try {
      workers.reserve(static_cast<size_t>(jobs));
      for (int w = 0; w < jobs; ++w) workers.emplace_back([&] { job.Work(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    job.Started(static_cast<int>(workers.size()));
    if (workers.empty()) {
      task.reporter.ShowText(audio_msg::kOutOfMemory);
      return false;
    }
    job.Coordinate(task.observer, out);
  }
  // Every copy goes back to the caller.
  std::vector<std::unique_ptr<LoadedSoundFont>> fonts = job.TakeBackFonts();
  for (auto& spare : given) fonts.push_back(std::move(spare));
  if (!fonts.empty()) {
    task.font = std::move(fonts.front());
    fonts.erase(fonts.begin());
  }
  task.spareFonts = std::move(fonts);
  if (job.outputFailed()) return false;
  if (job.failed()) {
    task.reporter.ShowText(audio_msg::kOutOfMemory);
    return false;
  }
  if (!job.anyWorkerStarted()) {
    task.reporter.ShowText(audio_msg::NoSynthesizer(soundFontPath));
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<RenderEngine> MakeFastEngine(int jobs) {
  return std::make_unique<FastEngine>(jobs);
}

}  // namespace velorna
