// A Stop at every point of a conversion, with either engine: the job still writes a
// complete WAV of the song's length over the old output, holding what was rendered before
// the Stop, and leaves no file of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
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

TEST_P(JobStop, WritesACompleteWavAndLeavesNothingBehind) {
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
  EXPECT_EQ(result, point == JobPoint::kWriting ? ConversionResult::kWritten
                                                : ConversionResult::kWrittenAfterStop);
  EXPECT_EQ(messages.texts(), std::vector<std::string>{"変換が終了しました。"});
  const Bytes wav = ReadBytes(dir / "song.wav");
  ASSERT_GE(wav.size(), 44u);
  EXPECT_EQ(Le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(Le32(wav, 40), wav.size() - 44);
  EXPECT_EQ(wav.size() - 44, 3u * 176400);  // two seconds of song, plus one
  // A Stop before any rendering leaves silence; after some notes, or once writing has
  // begun, their sound is kept.
  const bool rendered = point == JobPoint::kNote || point == JobPoint::kWriting;
  EXPECT_EQ(Silent(wav), !rendered);
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
// renders nothing, and the WAV of the song's length is still written.
TEST(JobStopEarly, StopBeforeTheStartStillGivesAWholeWav) {
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
            ConversionResult::kWrittenAfterStop);
  const Bytes wav = ReadBytes(dir / "song.wav");
  ASSERT_EQ(wav.size(), 44u + 3u * 176400);
  EXPECT_TRUE(Silent(wav));
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

// A Stop at any moment lands within a second: before the SoundFont is loaded (set before
// the start), in the drum pass, in the first note and at the write. Measured from the Stop
// to the job's return.
TEST(JobStopSoon, EveryMomentWithEitherEngine) {
  using Clock = std::chrono::steady_clock;
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizer build runs many times slower; the plain build holds the one second.
  constexpr auto kBound = std::chrono::seconds(3);
#else
  constexpr auto kBound = std::chrono::seconds(1);
#endif
  TempDir dir;
  WriteBytes(dir / "long.mid", LongSong());
  ScopedTmpDir temp;
  for (Engine engine : {Engine::kFast, Engine::kFiles}) {
    for (std::optional<JobPoint> point :
         {std::optional<JobPoint>(), std::optional(JobPoint::kDrumPass),
          std::optional(JobPoint::kNote), std::optional(JobPoint::kWriting)}) {
      SCOPED_TRACE(std::string(engine == Engine::kFiles ? "files " : "fast ") +
                   (point ? PointName(*point) : "before the start"));
      ConversionOptions options;
      options.soundFont = kSoundFont;
      options.engine = engine;
      options.jobs = 2;
      JobControl control;
      Clock::time_point stoppedAt = Clock::now();
      if (point) {
        control.testHook = [&, point](JobPoint p) {
          if (p != *point || control.m_cancel.exchange(1) != 0) return;
          stoppedAt = Clock::now();
        };
      } else {
        control.m_cancel = 1;
      }
      QuietObserver observer;
      RecordingReporter messages;
      const ConversionResult result =
          RunConversion((dir / "long.mid").string(), options, control, observer, messages);
      const auto took = Clock::now() - stoppedAt;
      EXPECT_LT(took, kBound) << std::chrono::duration<double>(took).count() << " s";
      EXPECT_NE(result, ConversionResult::kNotWritten);
      EXPECT_EQ(messages.texts(), std::vector<std::string>{"変換が終了しました。"});
      EXPECT_EQ(ReadBytes(dir / "long.wav").size(), 44u + 301u * 176400);
      EXPECT_TRUE(fs::is_empty(temp.path()));
    }
  }
}

}  // namespace
}  // namespace velorna::test
