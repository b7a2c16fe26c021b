#include "conversion/preview_player.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "audio/audio_messages.h"
#include "audio/mix_ring.h"
#include "audio/rendering_service.h"
#include "conversion/conversion_messages.h"
#include "conversion/fast_conversion.h"
#include "conversion/memory_policy.h"
#include "conversion/note_ends.h"
#include "conversion/song_loading.h"
#include "tuning/adaptive.h"
#include "tuning/played_tuning.h"

namespace velorna {

namespace {

// A rendering that must catch up with the output (a start, a seek, a change of tuning)
// renders on two threads: the notes still sounding where it starts are rendered from their
// onsets before anything is heard. The other tuning of A/B, rendered alongside at leisure,
// takes one. The output is the same for any number.
constexpr int kCatchUpWorkers = 2;
constexpr int kAlongsideWorkers = 1;
// How often a rendering waiting for a SoundFont looks at its Stop.
constexpr auto kStopLook = std::chrono::milliseconds(20);
// The copies a player keeps in turn: those of the rendering heard and of the other
// tuning's alongside, with a rendering's worth ready on the shelf. A change takes the
// shelf's, and the rendering it ends hands its own back as the crossfade ends. So past this
// many the shelf waits that long for copies to come back before it loads one.
constexpr int kShelfCopies = SoundFontCopies(kCatchUpWorkers);
constexpr int kCopiesInTurn =
    SoundFontCopies(kCatchUpWorkers) + SoundFontCopies(kAlongsideWorkers) + kShelfCopies;
constexpr auto kReturnGrace = std::chrono::seconds(2);
// Below it, the shelf still waits this long after copies were taken: the rendering that took
// them is catching up with the output, and a load would take the processor from it.
constexpr auto kCatchUpGrace = std::chrono::milliseconds(800);

class QuietObserver final : public JobObserver {
 public:
  void ShowProgress(const JobProgress&) override {}
};

using FontCopies = std::vector<std::unique_ptr<LoadedSoundFont>>;

// Keeps loaded copies of the SoundFont ready, loading the next in the background as soon as
// one is taken: a rendering owns its copies for its run (one per thread), and loading one
// costs more than a seek may take.
class FontShelf {
 public:
  FontShelf(std::unique_ptr<LoadedSoundFont> first, Reporter& reporter)
      : path_(first->path), reporter_(reporter) {
    spares_.push_back(std::move(first));
    loader_ = std::jthread([this](std::stop_token stop) { Load(stop); });
  }
  ~FontShelf() {
    {
      // Under the lock: the loader is either waiting, and woken, or yet to look.
      std::lock_guard lock(mutex_);
      loader_.request_stop();
    }
    changed_.notify_all();
  }

  // Copies a rendering no longer needs: spares up to a rendering's worth, the rest freed.
  void Return(FontCopies fonts) {
    FontCopies freed;
    std::unique_lock lock(mutex_);
    for (auto& font : fonts) {
      if (!font) continue;
      if (static_cast<int>(spares_.size()) < kShelfCopies) {
        spares_.push_back(std::move(font));
      } else {
        --copies_;
        freed.push_back(std::move(font));
      }
    }
    changed_.notify_all();
    lock.unlock();  // the copies go here, outside the lock
  }

  // Up to `count` spare copies, waiting for the first while it loads; none after a Stop or
  // when none can be loaded (the reporter has said why).
  FontCopies Take(const std::atomic<int>& stop, int count) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    while (spares_.empty() && !failed_ && stop.load() == 0) changed_.wait_for(lock, kStopLook);
    --waiting_;
    FontCopies taken;
    while (!spares_.empty() && static_cast<int>(taken.size()) < count) {
      taken.push_back(std::move(spares_.back()));
      spares_.pop_back();
    }
    takenAt_ = std::chrono::steady_clock::now();
    changed_.notify_all();
    return taken;
  }

 private:
  bool Full() const { return static_cast<int>(spares_.size()) >= kShelfCopies; }

  void Load(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
      changed_.wait(lock, [&] { return stop.stop_requested() || (!Full() && !failed_); });
      // The load waits for copies coming back, or for a rendering to catch up, unless a
      // rendering waits for one.
      const auto until = copies_ >= kCopiesInTurn ? std::chrono::steady_clock::now() + kReturnGrace
                                                  : takenAt_ + kCatchUpGrace;
      changed_.wait_until(lock, until,
                          [&] { return stop.stop_requested() || Full() || waiting_ > 0; });
      if (stop.stop_requested()) break;
      if (Full()) continue;
      lock.unlock();
      std::unique_ptr<LoadedSoundFont> font;
      try {
        font = LoadSoundFont(path_);
      } catch (const std::bad_alloc&) {
        reporter_.ShowText(audio_msg::kOutOfMemory);
      }
      if (!font && !stop.stop_requested()) reporter_.ShowText(audio_msg::NoSynthesizer(path_));
      lock.lock();
      failed_ = !font;
      if (font) {
        ++copies_;
        spares_.push_back(std::move(font));
      }
      changed_.notify_all();
    }
  }

  const std::string path_;
  Reporter& reporter_;
  std::mutex mutex_;
  std::condition_variable changed_;
  FontCopies spares_;
  bool failed_ = false;
  int waiting_ = 0;                                // renderings waiting for a copy
  int copies_ = 1;                                 // loaded and not yet freed
  std::chrono::steady_clock::time_point takenAt_;  // when copies were last taken
  std::jthread loader_;                            // last: stopped and joined before the rest goes
};

// A tuning as asked, and as rendered: an adaptive one is chosen over the song once, by the
// first rendering that needs it.
struct TuningSlot {
  PreviewTuning asked;
  std::mutex mutex;
  std::optional<Tuning> chosen;

  const Tuning& Resolve(const MidiFormat0Data& song) {
    std::lock_guard lock(mutex);
    if (chosen) return *chosen;
    // As a conversion plays it.
    chosen = PlayedTuning(asked.tuning, song, asked.adaptive, asked.ignoreSongTuning);
    return *chosen;
  }
};

}  // namespace

PreviewTuning EqualTemperament() {
  PreviewTuning equal;
  equal.tuning.keys = KeyTableFromCents(CentTable{});
  return equal;
}

struct PreviewPlayer::Rendering {
  Rendering(int64_t start, int64_t songFrames, int64_t endFrames, int64_t capacity,
            std::shared_ptr<TuningSlot> tuning, int threads)
      : ring(start, songFrames, endFrames, capacity), slot(std::move(tuning)), workers(threads) {}
  ~Rendering() { Cancel(); }
  void Cancel() {
    control.m_cancel.store(1);
    ring.Cancel();
  }

  JobControl control;
  MixRing ring;
  const std::shared_ptr<TuningSlot> slot;  // the tuning it renders
  const int workers;
  std::jthread thread;  // last: joined before the ring goes
};

struct PreviewPlayer::State {
  State(Reporter& target, int sampleRate) : reporter(target), rate(sampleRate) {}

  // Under the mutex: a rendering from `start` in `slot`'s tuning.
  std::unique_ptr<Rendering> Start(int64_t start, std::shared_ptr<TuningSlot> slot,
                                   int workers = kCatchUpWorkers) {
    auto rendering = std::make_unique<Rendering>(start, songFrames, endFrames, aheadFrames(),
                                                 std::move(slot), workers);
    Rendering& r = *rendering;
    r.thread = std::jthread([this, &r] { Render(r, *r.slot); });
    return rendering;
  }

  void Render(Rendering& r, TuningSlot& slot) {
    FontCopies fonts = shelf->Take(r.control.m_cancel, SoundFontCopies(r.workers));
    // Short of copies (right after opening), one thread starts at once: loading the rest
    // would take longer than it gains.
    const int workers =
        static_cast<int>(fonts.size()) >= SoundFontCopies(r.workers) ? r.workers : 1;
    try {
      if (!fonts.empty() && r.control.m_cancel.load() == 0) {
        QuietObserver observer;
        std::unique_ptr<LoadedSoundFont> first = std::move(fonts.front());
        fonts.erase(fonts.begin());
        EngineTask task{*song, slot.Resolve(*song), std::move(first), r.control, observer, reporter,
                        rate,  r.ring.startFrame()};
        task.lookAheadFrames = static_cast<int64_t>(kPreviewMixAheadSeconds * rate);
        task.eagerFrames = task.lookAheadFrames;
        task.noteEnds = &noteEnds;
        task.spareFonts = std::move(fonts);
        (void)MakeFastEngine(workers)->MixAll(task, r.ring);
        fonts = std::move(task.spareFonts);
        fonts.push_back(std::move(task.font));
      }
    } catch (const std::bad_alloc&) {
      reporter.ShowText(audio_msg::kOutOfMemory);
    }
    r.ring.Finish();
    shelf->Return(std::move(fonts));
  }

  int64_t aheadFrames() const { return static_cast<int64_t>(kPreviewAheadSeconds * rate); }
  int64_t fadeFrames() const {
    return std::max<int64_t>(1, static_cast<int64_t>(kCrossfadeSeconds * rate));
  }
  std::shared_ptr<TuningSlot>& heard() { return useB ? slotB : slotA; }
  std::shared_ptr<TuningSlot>& other() { return useB ? slotA : slotB; }

  // Under the mutex: the rendering heard now goes, and what is heard starts afresh at `pos`.
  void Restart() {
    Retire(current);
    Retire(next);
    Retire(shadow);
    fadeAt = -1;
    fadeDone = 0;
    flowing = false;
    current = Start(pos, heard());
  }
  // Under the mutex: the tuning heard changes at `at` (now when -1), crossfading.
  void Switch(int64_t at) {
    // Paused, a change now needs no crossfade: nothing sounds.
    if (!current || (!playing && at <= pos)) return Restart();
    // A crossfade under way ends here: what it fades in is what is heard now.
    if (next && fadeDone > 0) Faded();
    Retire(next);
    fadeExact = at > pos;
    fadeAt = std::max(at, pos);
    fadeDone = 0;
    // A/B now: the other tuning has been rendering alongside, ready to fade in at once.
    if (!fadeExact && shadow && shadow->slot == heard()) {
      next = std::move(shadow);
      return;
    }
    next = Start(fadeAt, heard());
  }
  // Under the mutex, when the crossfade has ended: the rendering faded out stays alongside
  // when it renders the other tuning of A/B.
  void Faded() {
    if (current->slot == other()) {
      Retire(shadow);
      shadow = std::move(current);
    } else {
      Retire(current);
    }
    current = std::move(next);
    fadeAt = -1;
  }
  void Retire(std::unique_ptr<Rendering>& rendering) {
    if (!rendering) return;
    rendering->Cancel();
    retired.push_back(std::move(rendering));
  }

  OnceReporter reporter;
  const int rate;
  std::unique_ptr<MidiFormat0Data> song;
  int64_t songFrames = 0;
  int64_t endFrames = 0;
  std::optional<FontShelf> shelf;
  // What every rendering saw of where notes fell silent: a later start leaves those out.
  NoteEnds noteEnds;

  mutable std::mutex mutex;
  std::shared_ptr<TuningSlot> slotA, slotB;
  bool useB = false;
  bool playing = false;
  bool ended = false;
  int64_t pos = 0;
  std::unique_ptr<Rendering> current, next;
  // The other tuning of A/B from the same point, kept up with what is heard, so that a
  // switch fades it in at once; started once sound flows (not to slow the first sound).
  std::unique_ptr<Rendering> shadow;
  int64_t fadeAt = -1;  // where `next` starts to be heard
  // A switch asked for a frame still to come waits for its rendering there, rather than
  // landing late; one asked for now lands as soon as its rendering is ready.
  bool fadeExact = false;
  int64_t fadeDone = 0;
  int64_t lastSwitch = -1;
  std::vector<std::unique_ptr<Rendering>> retired;
  std::vector<float> fadeIn;
  // Sound has reached the output since the last start: the wait for the first sound after a
  // start or a seek is no underrun.
  bool flowing = false;
  std::atomic<int64_t> underruns{0};
};

PreviewPlayer::PreviewPlayer(std::unique_ptr<State> state) : state_(std::move(state)) {}

PreviewPlayer::~PreviewPlayer() {
  std::vector<std::unique_ptr<Rendering>> ending;
  {
    std::lock_guard lock(state_->mutex);
    state_->Retire(state_->current);
    state_->Retire(state_->next);
    state_->Retire(state_->shadow);
    ending.swap(state_->retired);
  }
}

namespace {

// Loads the song at `path` as a conversion does.
auto SongFileLoad(const std::string& path) {
  return [&path](MidiContext& ctx, std::unique_ptr<MidiFormat0Data>& song, int& seconds,
                 PlayingTime& playing) {
    return LoadAndPrepareSong(ctx, path, {}, song, seconds, &playing);
  };
}

// The song by `load`, and the frames it spans.
template <typename Load>
bool LoadSpanning(const Load& load, MidiContext& ctx, int sampleRate,
                  std::unique_ptr<MidiFormat0Data>& song, MixLength& length) {
  int seconds = 0;
  PlayingTime playing;
  if (!load(ctx, song, seconds, playing)) return false;
  length = MixLengthOf(seconds, playing, sampleRate);
  return true;
}

}  // namespace

std::optional<int64_t> PreviewSongFrames(const std::string& path, int sampleRate,
                                         Reporter& reporter) {
  MidiContext ctx(reporter);
  std::unique_ptr<MidiFormat0Data> song;
  MixLength length;
  if (!LoadSpanning(SongFileLoad(path), ctx, sampleRate, song, length)) return std::nullopt;
  return length.songFrames;
}

std::unique_ptr<PreviewPlayer> PreviewPlayer::Open(const std::string& songPath,
                                                   const std::string& soundFont, int sampleRate,
                                                   Reporter& reporter) {
  return OpenWith(SongFileLoad(songPath), soundFont, sampleRate, reporter);
}

std::unique_ptr<PreviewPlayer> PreviewPlayer::OpenBytes(std::span<const uint8_t> smf,
                                                        const std::string& name,
                                                        const std::string& soundFont,
                                                        int sampleRate, Reporter& reporter) {
  return OpenWith(
      [&](MidiContext& ctx, std::unique_ptr<MidiFormat0Data>& song, int& seconds,
          PlayingTime& playing) {
        return PrepareSongBytes(ctx, smf, name, song, seconds, &playing);
      },
      soundFont, sampleRate, reporter);
}

template <typename Load>
std::unique_ptr<PreviewPlayer> PreviewPlayer::OpenWith(const Load& load,
                                                       const std::string& soundFont, int sampleRate,
                                                       Reporter& reporter) {
  // The synthesizer's own log goes where a conversion's goes: nowhere, unless asked for.
  InstallSynthLog();
  auto state = std::make_unique<State>(reporter, sampleRate);
  if (!IsOutputRate(sampleRate)) {
    state->reporter.ShowText(audio_msg::kWrongFormat);
    return nullptr;
  }
  MidiContext ctx(state->reporter);
  MixLength length;
  if (!LoadSpanning(load, ctx, sampleRate, state->song, length)) return nullptr;
  state->songFrames = length.songFrames;
  state->endFrames = length.endFrames;
  std::unique_ptr<LoadedSoundFont> font = ResolveSoundFont(state->reporter, soundFont);
  if (!font) return nullptr;
  state->shelf.emplace(std::move(font), state->reporter);
  state->slotA = std::make_shared<TuningSlot>();
  state->slotB = std::make_shared<TuningSlot>();
  state->slotB->asked = EqualTemperament();
  std::unique_ptr<PreviewPlayer> player(new PreviewPlayer(std::move(state)));
  return player;
}

bool PreviewPlayer::SetTuning(const PreviewTuning& a) {
  return Set(a, false);
}

bool PreviewPlayer::SetCompared(const PreviewTuning& b) {
  return Set(b, true);
}

bool PreviewPlayer::Set(const PreviewTuning& tuning, bool b) {
  if (tuning.adaptive && !IsTwelveToneOctave(tuning.tuning.keys)) {
    state_->reporter.ShowText(conversion_msg::kAdaptiveNeedsTwelveTones);
    return false;
  }
  auto slot = std::make_shared<TuningSlot>();
  slot->asked = tuning;
  std::lock_guard lock(state_->mutex);
  (b ? state_->slotB : state_->slotA) = std::move(slot);
  // The one heard changes at once, crossfading; the other waits for its turn.
  if (state_->useB == b && state_->current) state_->Switch(-1);
  return true;
}

void PreviewPlayer::SelectB(bool b, int64_t atFrame) {
  std::lock_guard lock(state_->mutex);
  if (state_->useB == b) return;
  state_->useB = b;
  if (state_->current) state_->Switch(atFrame);
}

bool PreviewPlayer::selectedB() const {
  std::lock_guard lock(state_->mutex);
  return state_->useB;
}

bool PreviewPlayer::readyToSwitch() const {
  std::lock_guard lock(state_->mutex);
  const State& s = *state_;
  return s.shadow && s.shadow->ring.HeldFrom(s.pos).frames >= s.fadeFrames();
}

void PreviewPlayer::Play() {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (s.ended) {
    s.pos = 0;
    s.ended = false;
    s.Restart();
  }
  if (!s.current) s.Restart();
  s.playing = true;
}

void PreviewPlayer::Pause() {
  std::lock_guard lock(state_->mutex);
  state_->playing = false;
}

bool PreviewPlayer::playing() const {
  std::lock_guard lock(state_->mutex);
  return state_->playing;
}

void PreviewPlayer::Seek(int64_t frame) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.pos = std::clamp<int64_t>(frame, 0, s.songFrames);
  s.ended = false;
  s.Restart();
}

int64_t PreviewPlayer::position() const {
  std::lock_guard lock(state_->mutex);
  return state_->pos;
}

int64_t PreviewPlayer::songFrames() const {
  return state_->songFrames;
}
int PreviewPlayer::sampleRate() const {
  return state_->rate;
}

bool PreviewPlayer::ended() const {
  std::lock_guard lock(state_->mutex);
  return state_->ended;
}

int64_t PreviewPlayer::underruns() const {
  return state_->underruns.load();
}

int64_t PreviewPlayer::lastSwitchFrame() const {
  std::lock_guard lock(state_->mutex);
  return state_->lastSwitch;
}

void PreviewPlayer::Pull(std::span<float> out) {
  std::fill(out.begin(), out.end(), 0.0f);
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  if (!s.playing || !s.current) return;
  int64_t n = static_cast<int64_t>(out.size() / 2);
  // A switch due inside this period waits for its own period, so it lands on its frame.
  if (s.next && s.pos < s.fadeAt) n = std::min(n, s.fadeAt - s.pos);
  const MixRing::Held held = s.current->ring.HeldFrom(s.pos);
  if (held.frames == 0 && held.ended) {
    s.ended = true;
    s.playing = false;
    s.Retire(s.current);
    s.Retire(s.next);
    s.Retire(s.shadow);
    return;
  }
  if (held.frames < n && !held.ended) {
    if (s.flowing) ++s.underruns;
    return;
  }
  const MixRing::Held coming =
      s.next && s.pos >= s.fadeAt ? s.next->ring.HeldFrom(s.pos) : MixRing::Held{};
  if (s.next && s.pos >= s.fadeAt && s.fadeExact && coming.frames < n && !coming.ended) {
    ++s.underruns;
    return;
  }
  const int64_t k = s.current->ring.ReadAt(s.pos, out.first(static_cast<size_t>(n) * 2));
  if (s.next) {
    // The new tuning fades in only once it is ready for the whole period: until then
    // the old one goes on.
    if (s.pos >= s.fadeAt && (coming.frames >= k || coming.ended)) {
      s.fadeIn.resize(std::max(s.fadeIn.size(), static_cast<size_t>(k) * 2));
      const std::span<float> in(s.fadeIn.data(), static_cast<size_t>(k) * 2);
      std::fill(in.begin(), in.end(), 0.0f);
      (void)s.next->ring.ReadAt(s.pos, in);
      const int64_t fade = s.fadeFrames();
      if (s.fadeDone == 0) s.lastSwitch = s.pos;
      for (int64_t i = 0; i < k; ++i) {
        const float w = static_cast<float>(std::min<int64_t>(s.fadeDone + i + 1, fade)) /
                        static_cast<float>(fade);
        for (size_t c = 0; c < 2; ++c) {
          float& x = out[static_cast<size_t>(i) * 2 + c];
          x = x * (1.0f - w) + in[static_cast<size_t>(i) * 2 + c] * w;
        }
      }
      s.fadeDone += k;
      if (s.fadeDone >= fade) {
        s.Faded();
      }
    }
  }
  s.pos += k;
  s.flowing = true;
  if (s.shadow) (void)s.shadow->ring.HeldFrom(s.pos);  // what it holds before pos goes
}

void PreviewPlayer::Collect() {
  std::vector<std::unique_ptr<Rendering>> ending;
  {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    ending.swap(s.retired);
    // A tuning B changed since, or none yet: the other tuning starts alongside.
    if (s.shadow && s.shadow->slot != s.other()) s.Retire(s.shadow);
    if (!s.shadow && s.current && s.flowing && !s.next)
      s.shadow = s.Start(s.pos, s.other(), kAlongsideWorkers);
  }
}

}  // namespace velorna
