// A Stop at every point of a conversion, with either engine: what was mixed before it is
// written and the WAV ends where the mix stopped; a Stop before anything was mixed leaves the
// old output untouched. No file of the job's own is left. (How soon a Stop lands is
// measured by bench/stop.sh.)
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>

#include "conversion/conversion_job.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const Bytes kOldWav{'o', 'l', 'd'};

class QuietObserver : public JobObserver {
 public:
  void ShowProgress(const JobProgress&) override {}
};

// Drums and twelve melody notes over two seconds (120 bpm, 480 ticks per quarter).
Bytes Song() {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0).NoteOn(0, 9, 36, 110).NoteOff(240, 9, 36);
  for (int i = 0; i < 12; ++i) t.NoteOn(0, 0, 60 + i, 90).NoteOff(120, 0, 60 + i);
  t.NoteOn(0, 9, 38, 110).NoteOff(240, 9, 38).EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

bool Silent(const Bytes& wav) {
  for (size_t i = 44; i < wav.size(); ++i)
    if (wav[i] != 0) return false;
  return true;
}

std::string PointName(JobPoint p) {
  switch (p) {
    case JobPoint::kLoaded:
      return "Loaded";
    case JobPoint::kDrumPass:
      return "DrumPass";
    case JobPoint::kNote:
      return "Note";
    case JobPoint::kWriting:
      return "Writing";
  }
  return "?";
}

using StopCase = std::tuple<Engine, JobPoint, int>;  // engine, point, passes before the stop

class JobStop : public ::testing::TestWithParam<StopCase> {};

TEST_P(JobStop, WritesWhatWasMixedAndLeavesNothingBehind) {
  const auto [engine, point, passes] = GetParam();
  TempDir dir;
  WriteBytes(dir / "song.mid", Song());
  WriteBytes(dir / "song.wav", kOldWav);
  ScopedTmpDir temp;

  ConversionOptions options;
  options.soundFont = kSoundFont;
  options.engine = engine;
  options.jobs = 1;  // notes taken in order, so the stop lands after the same ones
  JobControl control;
  std::atomic<int> seen{0};
  control.testHook = [&, point = point, passes = passes](JobPoint p) {
    if (p == point && seen++ == passes) control.m_cancel = 1;
  };
  QuietObserver observer;
  RecordingReporter messages;
  const ConversionResult result =
      RunConversion((dir / "song.mid").string(), options, control, observer, messages);

  // Once writing has begun everything is mixed: the stop no longer cuts anything short.
  // Before the first note is mixed nothing is complete, and the old output stays.
  const bool whole = point == JobPoint::kWriting;
  const bool some = whole || (point == JobPoint::kNote && passes > 0);
  EXPECT_EQ(result, whole  ? ConversionResult::kWritten
                    : some ? ConversionResult::kWrittenAfterStop
                           : ConversionResult::kStoppedBeforeSound);
  EXPECT_EQ(messages.texts(),
            some ? std::vector<std::string>{"変換が終了しました。"} : std::vector<std::string>{});
  const Bytes wav = ReadBytes(dir / "song.wav");
  if (!some) {
    EXPECT_EQ(wav, kOldWav);
  } else {
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
    // The whole song and its ring, or exactly as much song time as the job says it wrote.
    const double songSecondsInFile = (wav.size() - 44) / 176400.0;
    if (whole) {
      EXPECT_EQ(wav.size() - 44, 3u * 176400);  // two seconds of song, plus one
    } else {
      EXPECT_NEAR(songSecondsInFile, control.writtenSeconds, 1.0 / 44100);
      EXPECT_GT(songSecondsInFile, 0.1);
      EXPECT_LT(songSecondsInFile, control.songSeconds);
    }
    EXPECT_FALSE(Silent(wav));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

INSTANTIATE_TEST_SUITE_P(EveryPoint, JobStop,
                         ::testing::Values(StopCase{Engine::kFiles, JobPoint::kLoaded, 0},
                                           StopCase{Engine::kFiles, JobPoint::kDrumPass, 0},
                                           StopCase{Engine::kFiles, JobPoint::kNote, 0},
                                           StopCase{Engine::kFiles, JobPoint::kNote, 7},
                                           StopCase{Engine::kFiles, JobPoint::kWriting, 0},
                                           StopCase{Engine::kFast, JobPoint::kLoaded, 0},
                                           StopCase{Engine::kFast, JobPoint::kDrumPass, 0},
                                           StopCase{Engine::kFast, JobPoint::kNote, 7},
                                           StopCase{Engine::kFast, JobPoint::kWriting, 0}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           const StopCase& c = info.param;
                           return std::string(std::get<0>(c) == Engine::kFiles ? "Files" : "Fast") +
                                  PointName(std::get<1>(c)) + std::to_string(std::get<2>(c));
                         });

// A Stop that comes before the job starts (while the file is still being chosen or read)
// renders nothing and leaves the old output as it stood.
TEST(JobStopEarly, StopBeforeTheStartLeavesTheOldOutput) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Song());
  WriteBytes(dir / "song.wav", kOldWav);
  ConversionOptions options;
  options.soundFont = kSoundFont;
  JobControl control;
  control.m_cancel = 1;
  QuietObserver observer;
  RecordingReporter messages;
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), options, control, observer, messages),
            ConversionResult::kStoppedBeforeSound);
  EXPECT_EQ(ReadBytes(dir / "song.wav"), kOldWav);
  EXPECT_TRUE(messages.texts().empty());
}

// Five minutes of a beat on the drums under a held four-note organ chord: minutes of work
// for either engine, so a Stop that waited for a rendering to end would be seen.
Bytes LongSong() {
  constexpr uint32_t kBeats = 600;  // 120 bpm
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 19);
  for (int key : {48, 55, 60, 64}) t.NoteOn(0, 0, key, 90);
  for (uint32_t beat = 0; beat < kBeats; ++beat) t.NoteOn(0, 9, 36, 110).NoteOff(480, 9, 36);
  for (int key : {48, 55, 60, 64}) t.NoteOff(0, 0, key);
  t.EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

// A Stop in the drum pass or in the held chord of a five-minute song, with either engine:
// the job returns (bench/stop.sh measures how soon) with the old output untouched, or with
// the stretch that was mixed, and leaves nothing of its own.
TEST(JobStopLong, InTheMiddleOfLongRenderingsWithEitherEngine) {
  TempDir dir;
  WriteBytes(dir / "long.mid", LongSong());
  ScopedTmpDir temp;
  for (Engine engine : {Engine::kFast, Engine::kFiles}) {
    for (JobPoint point : {JobPoint::kDrumPass, JobPoint::kNote}) {
      SCOPED_TRACE(std::string(engine == Engine::kFiles ? "files " : "fast ") + PointName(point));
      WriteBytes(dir / "long.wav", kOldWav);
      ConversionOptions options;
      options.soundFont = kSoundFont;
      options.engine = engine;
      options.jobs = 2;
      JobControl control;
      control.testHook = [&](JobPoint p) {
        if (p == point) control.m_cancel.store(1);
      };
      QuietObserver observer;
      RecordingReporter messages;
      const ConversionResult result =
          RunConversion((dir / "long.mid").string(), options, control, observer, messages);
      // The chord starts with the song: nothing is complete before it.
      EXPECT_EQ(result, ConversionResult::kStoppedBeforeSound);
      EXPECT_TRUE(messages.texts().empty());
      EXPECT_EQ(ReadBytes(dir / "long.wav"), kOldWav);
      EXPECT_TRUE(fs::is_empty(temp.path()));
    }
  }
}

}  // namespace
}  // namespace velorna::test
