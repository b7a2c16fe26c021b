// The conversion job end to end, with the small SoundFont.
#include "conversion/conversion_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "base/library_error.h"
#include "conversion/job_files.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
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

// Chords of full-velocity organs on `channels` channels at full volume for two beats.
Bytes Chords(int channels, int velocity) {
  TrackBytes t;
  t.Tempo(0, 500000);
  for (int ch = 0; ch < channels; ++ch)
    t.Program(0, ch, 19).Control(0, ch, 7, 127).Control(0, ch, 11, 127);
  for (int ch = 0; ch < channels; ++ch)
    for (int k = 0; k < 4; ++k) t.NoteOn(0, ch, 48 + 7 * k + ch, velocity);
  uint32_t delta = 960;
  for (int ch = 0; ch < channels; ++ch) {
    for (int k = 0; k < 4; ++k) {
      t.NoteOff(delta, ch, 48 + 7 * k + ch);
      delta = 0;
    }
  }
  t.EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

struct Converted {
  ConversionResult result = ConversionResult::kNotWritten;
  std::vector<Report> reports;
  std::vector<int32_t> samples;  // decoded, full scale 2^31
  std::optional<OutputLevel> level;
};

Converted Convert(const fs::path& song, const fs::path& out, Engine engine,
                  const OutputFormat& format) {
  RecordingReporter messages;
  CountingObserver observer;
  JobControl control;
  ConversionOptions options = Options(engine);
  options.outputPath = out.string();
  options.outputFormat = format;
  Converted c;
  c.result = RunConversion(song.string(), options, control, observer, messages);
  c.reports = messages.reports();
  for (const Report& r : c.reports)
    if (r.kind == ReportKind::kFinished) c.level = r.level;
  if (c.result == ConversionResult::kWritten) c.samples = SoxDecode32(out);
  return c;
}

// The longest run of equal samples at the output's peak.
int LongestRunAtPeak(const std::vector<int32_t>& samples) {
  int64_t peak = 0;
  for (const int32_t s : samples) peak = std::max(peak, std::abs(int64_t{s}));
  int longest = 0;
  for (int channel = 0; channel < 2; ++channel) {
    int run = 0;
    for (size_t i = static_cast<size_t>(channel); i < samples.size(); i += 2) {
      run = std::abs(int64_t{samples[i]}) == peak ? run + 1 : 0;
      longest = std::max(longest, run);
    }
  }
  return longest;
}

// A loud song clips at unity gain and says so, with the count it reports on its level; the
// peak and loudness targets scale the mix before anything clips.
TEST(ConversionJob, ClippingIsCountedAndWarnedAndTheLevelTargetsComeBeforeIt) {
  TempDir dir;
  WriteBytes(dir / "loud.mid", Chords(8, 127));
  // At a gain that a plain 16-bit file would clip at.
  const OutputFormat loud{kPlainBits, 24.0};
  OutputFormat normalized{kHighBits};
  normalized.normalize = true;
  OutputFormat loudness{kPlainBits};
  loudness.loudness = -16.0;
  struct Case {
    const char* name;
    OutputFormat format;
    bool clips;
  };
  for (const Case& c : {Case{"loud.wav", loud, true}, Case{"normalized.flac", normalized, false},
                        Case{"loudness.wav", loudness, false}}) {
    SCOPED_TRACE(c.name);
    const Converted out = Convert(dir / "loud.mid", dir / c.name, Engine::kFast, c.format);
    ASSERT_EQ(out.result, ConversionResult::kWritten);
    ASSERT_TRUE(out.level);
    const auto warning = std::find_if(out.reports.begin(), out.reports.end(), [](const Report& r) {
      return r.kind == ReportKind::kWarning;
    });
    EXPECT_EQ(warning != out.reports.end(), c.clips);
    EXPECT_EQ(out.level->clippedSamples > 0, c.clips);
    if (c.clips) {
      // Every clipped sample sits at full scale; the warning names the count.
      const auto atFullScale = std::count_if(out.samples.begin(), out.samples.end(), [](int32_t s) {
        return (s >> 16) == 32767 || (s >> 16) == -32768;
      });
      EXPECT_GE(atFullScale, out.level->clippedSamples);
      ASSERT_NE(warning, out.reports.end());
      EXPECT_EQ(warning->code, code::kLevlClipped);
      EXPECT_EQ(
          warning->text.rfind("LEVL1B000001 " + std::to_string(out.level->clippedSamples) + " ", 0),
          0u)
          << warning->text;
      EXPECT_NEAR(out.level->peakDb, 0.0, 0.001);
      continue;
    }
    EXPECT_LT(LongestRunAtPeak(out.samples), 3);
    if (c.format.normalize) {
      EXPECT_NEAR(out.level->peakDb, kNormalizedPeakDb, 0.001);
    }
    if (c.format.loudness) {
      // On the target, unless the true-peak ceiling came first.
      ASSERT_TRUE(out.level->loudness && out.level->truePeakDb);
      EXPECT_LE(*out.level->truePeakDb, kDefaultTruePeakDb + 0.05);
      if (*out.level->truePeakDb < kDefaultTruePeakDb - 0.05) {
        EXPECT_NEAR(*out.level->loudness, -16.0, 0.1);
      }
    }
  }
}

double SnrDb(const std::vector<int32_t>& reference, const std::vector<int32_t>& other) {
  double signal = 0.0, noise = 0.0;
  // Where the file engine's rounded renderings die away a few frames apart, past the end of
  // the shorter.
  for (size_t i = 0; i < std::min(reference.size(), other.size()); ++i) {
    const double r = reference[i], d = r - static_cast<double>(other[i]);
    signal += r * r;
    noise += d * d;
  }
  return 10.0 * std::log10(signal / std::max(noise, 1.0));
}

// 24-bit and float outputs hold the mix the 16-bit WAV rounds: the same sound to the 16-bit
// step, with the finer steps in use, from either engine. The file engine's 16-bit WAV rounds
// every rendering before summing them, so it agrees less closely.
TEST(ConversionJob, TwentyFourBitAndFloatHoldTheSixteenBitMixWithItsDetail) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Chords(8, 127));
  for (const auto& [engine, agreementDb] :
       {std::pair{Engine::kFast, 80.0}, {Engine::kFiles, 60.0}}) {
    SCOPED_TRACE(engine == Engine::kFast ? "fast" : "files");
    const Converted plain = Convert(dir / "song.mid", dir / "16.wav", engine, {});
    const Converted deep = Convert(dir / "song.mid", dir / "24.wav", engine, {kHighBits});
    const Converted real = Convert(dir / "song.mid", dir / "32.wav", engine, {kFloatBits});
    ASSERT_EQ(plain.level->clippedSamples, 0);
    if (engine == Engine::kFast) {
      EXPECT_EQ(deep.samples.size(), plain.samples.size());
    }
    ASSERT_EQ(real.samples.size(), deep.samples.size());
    EXPECT_GE(SnrDb(deep.samples, plain.samples), agreementDb);
    EXPECT_GE(SnrDb(real.samples, deep.samples), 120.0);
    const auto finer = std::count_if(deep.samples.begin(), deep.samples.end(),
                                     [](int32_t s) { return (s >> 8) % 256 != 0; });
    EXPECT_GT(finer, static_cast<int64_t>(deep.samples.size() / 2));
    EXPECT_NEAR(deep.level->peakDb, plain.level->peakDb, 0.01);
    // Same song, same bytes: the float file has no peak chunk, which would carry the time of
    // writing.
    const Bytes floatFile = ReadBytes(dir / "32.wav");
    const std::string peak = "PEAK";
    EXPECT_EQ(std::search(floatFile.begin(), floatFile.end(), peak.begin(), peak.end()),
              floatFile.end());
  }
}

}  // namespace
}  // namespace velorna::test
