// Where a note falls silent, seen in one tuning, bounds where it falls silent in another:
// a preview restarted at a later point leaves out what certainly ended before it, and must
// never leave out a note still sounding there.
#include "conversion/note_ends.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "audio/render_synth.h"
#include "audio/synth_renderer.h"
#include "conversion/fast_conversion.h"
#include "conversion/song_loading.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "tuning/played_tuning.h"

namespace velorna::test {
namespace {

const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kRate = 44100;

class Quiet final : public JobObserver {
 public:
  void ShowProgress(const JobProgress&) override {}
};

// Keeps the mix from `from` on.
class Capture final : public MixSink {
 public:
  explicit Capture(int64_t from) : from_(from) {}
  int64_t endFrame() const override { return kEnd; }
  bool Put(std::span<const float> mix) override {
    for (size_t i = 0; i < mix.size(); ++i, ++at_) {
      if (at_ >= from_ * 2) kept.push_back(mix[i]);
    }
    return true;
  }
  bool PutSilence(int64_t frames) override { return Put(std::vector<float>(frames * 2, 0.0f)); }
  void EndAt(int64_t) override {}
  std::vector<float> kept;

 private:
  static constexpr int64_t kEnd = int64_t{60} * kRate;
  const int64_t from_;
  int64_t at_ = 0;  // samples, both sides
};

// Instruments that end their notes differently (decaying, one-shot, held, plucked, with a
// long release), each with short and long notes across the keyboard, under a pedal.
Bytes ReleasesSong() {
  TrackBytes t;
  t.Tempo(0, 500000);
  const int programs[] = {0, 11, 13, 24, 45, 48, 73, 89};
  for (int c = 0; c < 8; ++c) t.Program(0, c, programs[c]).Control(0, c, 91, 100);
  t.Control(0, 0, 64, 127);
  for (int beat = 0; beat < 24; ++beat) {
    const int c = beat % 8;
    const int key = 36 + (beat * 7) % 60;
    t.NoteOn(0, c, key, 60 + beat).NoteOn(0, (c + 3) % 8, key + 4, 90);
    if (beat == 12) t.Control(0, 0, 64, 0);
    t.NoteOff(beat % 3 == 0 ? 60 : 240, c, key).NoteOff(beat % 2 ? 0 : 180, (c + 3) % 8, key + 4);
  }
  t.EndOfTrack(4 * 480);
  return SmfFile(0, 480, {t});
}

// The song from `from` in `cents` at `a4Hz`, recording into `ends` and leaving out what it
// says fell silent.
std::vector<float> Render(const MidiFormat0Data& song, const CentTable& cents, double a4Hz,
                          int64_t from, NoteEnds* ends) {
  Tuning asked;
  asked.keys = KeyTableFromCents(cents, a4Hz);
  const Tuning played = PlayedTuning(asked, song, false, false);
  JobControl control;
  Quiet observer;
  RecordingReporter reporter;
  EngineTask task{song,  played, LoadSoundFont(kSoundFont), control, observer, reporter,
                  kRate, from};
  task.noteEnds = ends;
  Capture sink(from);
  EXPECT_TRUE(MakeFastEngine(1)->MixAll(task, sink));
  return sink.kept;
}

class NoteEndsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallSynthLog();
    WriteBytes(dir / "song.mid", ReleasesSong());
    RecordingReporter reporter;
    MidiContext ctx(reporter);
    int seconds = 0;
    ASSERT_TRUE(LoadAndPrepareSong(ctx, (dir / "song.mid").string(), {}, song, seconds));
  }
  TempDir dir;
  std::unique_ptr<MidiFormat0Data> song;
};

TEST_F(NoteEndsTest, WhatOneTuningSawBoundsEveryOther) {
  const CentTable equal{};
  const CentTable meantone{0, -24, -7, 10, -14, 3, -21, -3, -27, -10, 7, -17};
  const CentTable wide{-49, 48, -45, 40, -30, 20, -10, 0, 10, -20, 30, -40};
  NoteEnds seen;
  (void)Render(*song, equal, 440.0, 0, &seen);
  const std::pair<const CentTable*, double> others[] = {
      {&meantone, 440.0}, {&equal, 415.0}, {&wide, 466.16}, {&meantone, 392.0}};
  int bounded = 0;
  for (const auto& [cents, a4] : others) {
    SCOPED_TRACE(a4);
    NoteEnds again;
    (void)Render(*song, *cents, a4, 0, &again);
    for (int32_t note = 0; note < song->track->count(); ++note) {
      const auto before = seen.Find(note);
      const auto after = again.Find(note);
      if (!before || !after) continue;
      const auto bound = LatestEnd(*before, after->sound);
      if (!bound) continue;  // another key: nothing can be told
      EXPECT_GE(*bound, after->end) << "note " << note;
      ++bounded;
    }
  }
  EXPECT_GE(bounded, 100);
}

// Restarted late in the song with what the first rendering saw, the notes left out change
// nothing but the effects' faint tails of what had ended.
TEST_F(NoteEndsTest, ARestartThatLeavesOutSilentNotesSoundsTheSame) {
  const CentTable meantone{0, -24, -7, 10, -14, 3, -21, -3, -27, -10, 7, -17};
  NoteEnds seen;
  (void)Render(*song, CentTable{}, 440.0, 0, &seen);
  const int64_t from = int64_t{5} * kRate;
  const std::vector<float> whole = Render(*song, meantone, 440.0, from, nullptr);
  const std::vector<float> lean = Render(*song, meantone, 440.0, from, &seen);
  ASSERT_EQ(whole.size(), lean.size());
  double signal = 0, error = 0;
  for (size_t i = 0; i < whole.size(); ++i) {
    signal += double{whole[i]} * whole[i];
    error += double{whole[i] - lean[i]} * (whole[i] - lean[i]);
  }
  ASSERT_GT(signal, 0.0);
  EXPECT_GT(error, 0.0) << "nothing was left out: the test proves nothing";
  EXPECT_GE(10.0 * std::log10(signal / error), 40.0);
}

}  // namespace
}  // namespace velorna::test
