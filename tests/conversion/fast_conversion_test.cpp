// The in-memory engine end to end, against the file-based engine as the reference.
#include "conversion/fast_conversion.h"

#include <dlfcn.h>
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"

namespace {

// While at 1 or more, counts synthesizers down: the one made at 1 fails, as FluidSynth's
// does when it has no memory for it.
std::atomic<int> g_synthsBeforeFailure{0};

}  // namespace

// Takes the place of FluidSynth's own for the whole test program.
extern "C" fluid_synth_t* new_fluid_synth(fluid_settings_t* settings) {
  using Make = fluid_synth_t* (*)(fluid_settings_t*);
  static const auto real = reinterpret_cast<Make>(dlsym(RTLD_NEXT, "new_fluid_synth"));
  if (g_synthsBeforeFailure > 0 && g_synthsBeforeFailure-- == 1) return nullptr;
  return real(settings);
}

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

class ProgressLog : public JobObserver {
 public:
  void ShowProgress(const JobProgress& progress) override {
    const int percent = progress.percent;
    if (percent < last) backwards = true;
    last = percent;
  }
  int last = -1;
  bool backwards = false;
};

// About ten seconds: a pedalled piano, strings with reverb, chorus, a bend range and bends,
// an organ, drums, and a tempo change half way.
Bytes TenSecondSong(bool withPitchedNotes = true) {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0).Program(0, 1, 48).Program(0, 2, 19);
  t.Control(0, 1, 91, 110).Control(0, 1, 93, 90).Control(0, 0, 91, 60);
  t.Control(0, 1, 101, 0).Control(0, 1, 100, 0).Control(0, 1, 6, 7);
  const int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
  uint32_t pending = 0;
  for (int bar = 0; bar < 8; ++bar) {
    if (bar == 4) {
      t.Tempo(pending, 400000);
      pending = 0;
    }
    if (withPitchedNotes) {
      t.Control(pending, 0, 64, 127).NoteOn(0, 1, 55 + scale[bar], 70).NoteOn(0, 2, 48, 50);
      pending = 0;
    }
    for (int beat = 0; beat < 4; ++beat) {
      t.NoteOn(pending, 9, beat % 2 ? 38 : 36, 100);
      if (withPitchedNotes) t.NoteOn(0, 0, 60 + scale[(bar + 2 * beat) % 8], 80);
      t.NoteOff(120, 9, beat % 2 ? 38 : 36);
      if (withPitchedNotes) {
        t.Event(0, {0xE1, 0, static_cast<uint8_t>(60 + 4 * beat)});
        t.NoteOff(120, 0, 60 + scale[(bar + 2 * beat) % 8]);
        pending = 240;
      } else {
        pending = 360;
      }
    }
    if (withPitchedNotes) {
      t.NoteOff(pending - 10, 1, 55 + scale[bar]).NoteOff(0, 2, 48).Control(0, 0, 64, 0);
      pending = 10;
    }
  }
  t.EndOfTrack(pending + 480);
  return SmfFile(0, 480, {t});
}

double Snr(const int16_t* ref, const int16_t* out, size_t n) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = ref[i];
    const double e = r - out[i];
    signal += r * r;
    noise += e * e;
  }
  if (noise == 0) return INFINITY;
  return 10 * std::log10(signal / noise);
}

struct FastConversion : ::testing::Test {
  ConversionResult Convert(const fs::path& song, Engine engine, int jobs, const fs::path& out,
                           JobObserver* observer = nullptr, JobControl* control = nullptr) {
    ConversionOptions options;
    options.soundFont = kSoundFont;
    options.engine = engine;
    options.jobs = jobs;
    options.outputPath = out.string();
    JobControl own;
    ProgressLog quiet;
    return RunConversion(song.string(), options, control ? *control : own,
                         observer ? *observer : quiet, messages);
  }
  TempDir dir;
  RecordingReporter messages;
};

TEST_F(FastConversion, AgreesWithTheFileRoadAndGivesTheSameBytesOnAnyNumberOfThreads) {
  WriteBytes(dir / "song.mid", TenSecondSong());
  ProgressLog progress;
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 1, dir / "fast1.wav", &progress),
            ConversionResult::kWritten);
  EXPECT_EQ(progress.last, 100);
  EXPECT_FALSE(progress.backwards);
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 2, dir / "fast2.wav"),
            ConversionResult::kWritten);
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFiles, 0, dir / "files.wav"),
            ConversionResult::kWritten);
  EXPECT_EQ(ReadBytes(dir / "fast1.wav"), ReadBytes(dir / "fast2.wav"));

  const std::vector<int16_t> ref = WavSamples(dir / "files.wav");
  const std::vector<int16_t> out = WavSamples(dir / "fast1.wav");
  ASSERT_EQ(ref.size(), out.size());
  ASSERT_GT(ref.size(), 2u * 44100 * 9);
  const double snr = Snr(ref.data(), out.data(), ref.size());
  EXPECT_GE(snr, 50.0);
  double worst = INFINITY;
  constexpr size_t kSecond = 2 * 44100;
  // The ending's last whisper (below -60 dBFS) measures only where each rendering's own
  // effects tail stops on the file road.
  constexpr double kQuietPower = 32.0 * 32.0;
  for (size_t at = 0; at + kSecond <= ref.size(); at += kSecond) {
    double power = 0;
    for (size_t i = at; i < at + kSecond; ++i) power += static_cast<double>(ref[i]) * ref[i];
    if (power / kSecond < kQuietPower) continue;
    worst = std::min(worst, Snr(&ref[at], &out[at], kSecond));
  }
  EXPECT_GE(worst, 35.0);
  RecordProperty("snr_db", std::to_string(snr));
  RecordProperty("worst_second_db", std::to_string(worst));
  EXPECT_EQ(messages.texts(), std::vector<std::string>(3, "変換が終了しました。"));
}

TEST_F(FastConversion, StopKeepsWhatWasRenderedAndWritesAValidWav) {
  WriteBytes(dir / "song.mid", TenSecondSong());
  WriteBytes(dir / "drums.mid", TenSecondSong(false));
  ASSERT_EQ(Convert(dir / "drums.mid", Engine::kFast, 1, dir / "drums.wav"),
            ConversionResult::kWritten);
  // Stopped before anything was rendered: nothing is written.
  JobControl stopped;
  stopped.m_cancel = 1;
  ProgressLog progress;
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 2, dir / "stopped.wav", &progress, &stopped),
            ConversionResult::kStoppedBeforeSound);
  EXPECT_FALSE(fs::exists(dir / "stopped.wav"));

  // Stopped part way: some of the song, less than the whole.
  // At a note, not at a progress report: a short song may render whole between two reports.
  JobControl partway;
  int notes = 0;
  partway.testHook = [&](JobPoint point) {
    if (point == JobPoint::kNote && ++notes > 10) partway.m_cancel = 1;
  };
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 1, dir / "partway.wav", nullptr, &partway),
            ConversionResult::kWrittenAfterStop);
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 1, dir / "whole.wav"),
            ConversionResult::kWritten);
  const auto part = WavSamples(dir / "partway.wav");
  const auto whole = WavSamples(dir / "whole.wav");
  // It ends where the mix stopped, and holds the whole song's sound up to there.
  ASSERT_LT(part.size(), whole.size());
  ASSERT_NEAR(static_cast<double>(part.size()), partway.writtenSeconds * 2 * 44100, 2.0);
  ASSERT_GT(part.size(), 0u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin()));
  EXPECT_EQ(messages.texts(), std::vector<std::string>(3, "変換が終了しました。"));
}

// A synthesizer that cannot be made, be it the SoundFont's, the drum pass's or any note's:
// the song is written whole or not at all, and never said to be finished without a note.
TEST_F(FastConversion, NoSynthesizerForAnyRenderingMeansNoSongRatherThanOneWithoutIt) {
  WriteBytes(dir / "song.mid", TenSecondSong());
  ASSERT_EQ(Convert(dir / "song.mid", Engine::kFast, 1, dir / "whole.wav"),
            ConversionResult::kWritten);
  const Bytes whole = ReadBytes(dir / "whole.wav");
  int failed = 0;
  for (const int failing : {1, 2, 3, 4, 6, 10, 20, 40}) {
    SCOPED_TRACE("synthesizer " + std::to_string(failing));
    messages.Clear();
    const fs::path out = dir / ("out" + std::to_string(failing) + ".wav");
    g_synthsBeforeFailure = failing;
    const ConversionResult result = Convert(dir / "song.mid", Engine::kFast, 1, out);
    g_synthsBeforeFailure = 0;
    if (result == ConversionResult::kWritten) {
      EXPECT_TRUE(ReadBytes(out) == whole) << "written without one of its renderings";
    } else {
      ++failed;
      EXPECT_EQ(result, ConversionResult::kNotWritten);
      EXPECT_FALSE(fs::exists(out));
      EXPECT_FALSE(messages.texts().empty());
      EXPECT_FALSE(messages.Contains("変換が終了しました。"));
    }
  }
  // A failure past the first few synthesizers falls on a note: it must have been noticed.
  EXPECT_GE(failed, 4);
}

}  // namespace
}  // namespace velorna::test
