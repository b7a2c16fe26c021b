// The conversion job end to end, with the small SoundFont.
#include "conversion/conversion_job.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "conversion/job_files.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

constexpr int kStopPercent = 20;

class CountingObserver : public JobObserver {
 public:
  explicit CountingObserver(JobControl* stopAfterFirstNote = nullptr)
      : control_(stopAfterFirstNote) {}
  void ShowProgress(const JobProgress& progress) override {
    last = progress.percent;
    ++calls;
    // Some notes in: a Stop before the first note is mixed writes nothing.
    if (control_ && progress.percent >= kStopPercent) control_->m_cancel = 1;
  }
  int last = -1;
  int calls = 0;

 private:
  JobControl* control_;
};

ConversionOptions Options(Engine engine = Engine::kFiles) {
  ConversionOptions o;
  o.soundFont = kSoundFont;
  o.engine = engine;
  return o;
}

size_t WavDataBytes(const fs::path& p) {
  const Bytes b = ReadBytes(p);
  if (b.size() < 44) return 0;
  return b[40] | b[41] << 8 | b[42] << 16 | static_cast<size_t>(b[43]) << 24;
}

Bytes DrumsOnly() {
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 9, 36, 100).NoteOff(240, 9, 36).NoteOn(0, 9, 38, 100);
  t.NoteOff(240, 9, 38).EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

TEST(JobFiles, OutputNameCutsOnlyTheFileName) {
  EXPECT_EQ(OutputPathFor("/home/u/songs/a.mid"), "/home/u/songs/a.wav");
  EXPECT_EQ(OutputPathFor("/home/u/.config/x/song"), "/home/u/.config/x/song.wav");
  EXPECT_EQ(OutputPathFor("/music.old/song"), "/music.old/song.wav");
  EXPECT_EQ(OutputPathFor("song"), "song.wav");
  EXPECT_EQ(OutputPathFor("a.b.mid"), "a.b.wav");
}

TEST(ConversionJob, DrumsOnlySongIsTheDrumPassAloneAndTuningDoesNotReachIt) {
  TempDir dir;
  WriteBytes(dir / "drums.mid", DrumsOnly());
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  ConversionOptions options = Options();
  ASSERT_EQ(RunConversion((dir / "drums.mid").string(), options, control, observer, messages),
            ConversionResult::kWritten);
  const Bytes pure = ReadBytes(dir / "drums.wav");
  options.tuning.keys =
      KeyTableFromCents(CentTable{50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50, 50});
  ASSERT_EQ(RunConversion((dir / "drums.mid").string(), options, control, observer, messages),
            ConversionResult::kWritten);
  EXPECT_EQ(ReadBytes(dir / "drums.wav"), pure);
  EXPECT_EQ(observer.last, 100);
  EXPECT_EQ(messages.texts(),
            (std::vector<std::string>{"変換が終了しました。", "変換が終了しました。"}));
  // Half a second of song: truncated to 0 whole seconds, plus one, at least; the drums'
  // tail rings past it as in the single pass, and as long as with the fast engine.
  const size_t bytes = WavDataBytes(dir / "drums.wav");
  EXPECT_GT(bytes, 176400u);
  options.engine = Engine::kFast;
  ASSERT_EQ(RunConversion((dir / "drums.mid").string(), options, control, observer, messages),
            ConversionResult::kWritten);
  EXPECT_EQ(WavDataBytes(dir / "drums.wav"), bytes);
}

TEST(ConversionJob, StopAfterTheFirstNotesStillWritesAValidWav) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(30));
  RecordingReporter messages;
  JobControl control;
  CountingObserver observer(&control);
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), Options(), control, observer, messages),
            ConversionResult::kWrittenAfterStop);
  EXPECT_GT(WavDataBytes(dir / "song.wav"), 0u);
  // The progress says how much of the song was written, not that all of it was.
  EXPECT_NE(observer.last, 100);
  EXPECT_TRUE(messages.Contains("変換が終了しました。"));
}

TEST(ConversionJob, LeavesNoTemporaryFilesAndTouchesNoneOfTheUsers) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(3));
  WriteBytes(dir / "song_tmp.mid", Bytes{'m', 'i', 'n', 'e'});
  WriteBytes(dir / "song_tmp.wav", Bytes{'m', 'i', 'n', 'e'});
  ScopedTmpDir temp;
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  const ConversionResult result =
      RunConversion((dir / "song.mid").string(), Options(), control, observer, messages);
  ASSERT_EQ(result, ConversionResult::kWritten);
  EXPECT_EQ(ReadBytes(dir / "song_tmp.mid"), (Bytes{'m', 'i', 'n', 'e'}));
  EXPECT_EQ(ReadBytes(dir / "song_tmp.wav"), (Bytes{'m', 'i', 'n', 'e'}));
  EXPECT_TRUE(fs::is_empty(temp.path()));
  std::set<std::string> names;
  for (auto& e : fs::directory_iterator(dir.path())) names.insert(e.path().filename().string());
  EXPECT_EQ(names, (std::set<std::string>{"song.mid", "song_tmp.mid", "song_tmp.wav", "song.wav"}));
}

// Only the file engine has temporary files: the fast one converts whatever TMPDIR says,
// and the file engine refuses a temporary folder it cannot write to before rendering.
TEST(ConversionJob, FastEngineNeedsNoTemporaryFolder) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(3));
  const ScopedTmpDir restored;  // TMPDIR as it was once the test ends
  const auto convert = [&](Engine engine, const char* tmpdir) {
    if (tmpdir != nullptr) {
      setenv("TMPDIR", tmpdir, 1);
    } else {
      unsetenv("TMPDIR");
    }
    RecordingReporter messages;
    CountingObserver observer;
    JobControl control;
    const ConversionResult result =
        RunConversion((dir / "song.mid").string(), Options(engine), control, observer, messages);
    return std::make_pair(result, messages.texts());
  };
  using Outcome = std::pair<ConversionResult, std::vector<std::string>>;
  const Outcome written{ConversionResult::kWritten, {"変換が終了しました。"}};
  EXPECT_EQ(convert(Engine::kFast, nullptr), written);
  EXPECT_EQ(convert(Engine::kFast, "/nonexistent/velorna-tmp"), written);
  EXPECT_EQ(convert(Engine::kFast, "/proc"), written);
  fs::remove(dir / "song.wav");
  EXPECT_EQ(convert(Engine::kFiles, "/proc"),
            Outcome(ConversionResult::kNotWritten, {"ファイルが開けませんでした。"}));
  EXPECT_FALSE(fs::exists(dir / "song.wav"));
}

TEST(ConversionJob, MissingOutputFolderFailsBeforeRenderingAndWritesNothing) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(3));
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  ConversionOptions options = Options();
  options.outputPath = (dir / "no" / "such" / "out.wav").string();
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), options, control, observer, messages),
            ConversionResult::kNotWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"ファイルが開けませんでした。"}));
  EXPECT_EQ(observer.calls, 0);
}

TEST(ConversionJob, LongCopyrightNoticeShowsNoMessage) {
  TempDir dir;
  TrackBytes t;
  t.Text(0, 2, std::string(200, 'c')).Tempo(0, 500000);
  for (int i = 0; i < 4; ++i) t.NoteOn(0, 0, 60 + i, 90).NoteOff(120, 0, 60 + i);
  t.EndOfTrack(0);
  WriteBytes(dir / "song.mid", SmfFile(0, 480, {t}));
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  ASSERT_EQ(RunConversion((dir / "song.mid").string(), Options(), control, observer, messages),
            ConversionResult::kWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"変換が終了しました。"}));
}

TEST(ConversionJob, SongTooLongForAWavIsRefusedBeforeRendering) {
  // The slowest tempo, one tick per quarter and the longest delta: some 140 years.
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 0xFFFFFF).NoteOn(0, 0, 60, 90).NoteOff(0x0FFFFFFF, 0, 60).EndOfTrack(0);
  WriteBytes(dir / "song.mid", SmfFile(0, 1, {t}));
  WriteBytes(dir / "song.wav", Bytes{'o', 'l', 'd'});
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), Options(), control, observer, messages),
            ConversionResult::kNotWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"出力が大きすぎます。"}));
  EXPECT_EQ(ReadBytes(dir / "song.wav"), (Bytes{'o', 'l', 'd'}));
}

TEST(ConversionJob, MissingSoundFontEndsTheJobWithItsMessage) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(3));
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  ConversionOptions options = Options();
  options.soundFont = (dir / "none.sf2").string();
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), options, control, observer, messages),
            ConversionResult::kNotWritten);
  EXPECT_EQ(messages.texts(), (std::vector<std::string>{"ソフトウェア音源が使用できません。 (" +
                                                        (dir / "none.sf2").string() + ")"}));
  EXPECT_FALSE(fs::exists(dir / "song.wav"));
}

}  // namespace
}  // namespace velorna::test
