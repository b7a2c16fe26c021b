// A note's release as the single pass plays it: the channel's later events reach its tail,
// and the song's ending rings out instead of being cut at its playing time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "conversion/conversion_job.h"
#include "support/pitch_measure.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
constexpr int kDivision = 480;  // at 500000 µs per quarter: 960 ticks a second
constexpr double kRate = 44100;
constexpr size_t kHeader = 44;
constexpr int kStrings = 48;

class Quiet : public JobObserver {
  void ShowProgress(const JobProgress&) override {}
};

std::vector<int16_t> Convert(const TempDir& dir, const TrackBytes& track) {
  WriteBytes(dir / "song.mid", SmfFile(0, kDivision, {track}));
  ConversionOptions options;
  options.soundFont = kSoundFont;
  options.tuning.keys = KeyTableFromCents(CentTable{});
  options.outputPath = (dir / "song.wav").string();
  JobControl control;
  Quiet observer;
  RecordingReporter messages;
  EXPECT_EQ(RunConversion((dir / "song.mid").string(), options, control, observer, messages),
            ConversionResult::kWritten);
  const Bytes wav = ReadBytes(dir / "song.wav");
  std::vector<int16_t> samples((wav.size() - kHeader) / 2);
  std::copy_n(reinterpret_cast<const int16_t*>(wav.data() + kHeader), samples.size(),
              samples.data());
  return samples;
}

size_t Frame(double seconds) {
  return static_cast<size_t>(seconds * kRate);
}

int Peak(std::span<const int16_t> samples) {
  int peak = 0;
  for (const int16_t s : samples) peak = std::max(peak, std::abs(int{s}));
  return peak;
}

// A4 released at 0.6 s, then the bend goes up a whole tone: the fading tail sounds at B4.
TEST(Release, BendAfterTheNoteOffReachesTheTail) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, kStrings).Control(0, 0, 91, 0).Control(0, 0, 93, 0);
  t.NoteOn(0, 0, 69, 110).NoteOff(576, 0, 69);
  t.Event(10, {0xE0, 0x7F, 0x7F}).EndOfTrack(1920);
  const std::vector<int16_t> wav = Convert(dir, t);
  const auto tail = LeftChannel(wav, Frame(0.8), Frame(0.2));
  const double hz = PeakFrequency(tail, kRate, 400, 560);
  EXPECT_NEAR(hz, 440 * std::pow(2.0, 2 / 12.0), 3.0);
}

// The last note is released just before the playing time's whole second: its release and
// its reverb ring past the old end, and the output runs on until they have died away.
TEST(Release, EndingRingsOutAndNoSongGetsShorter) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, kStrings).Control(0, 0, 91, 127);
  t.NoteOn(0, 0, 60, 120).NoteOff(1824, 0, 60).EndOfTrack(0);  // 1.9 s
  const std::vector<int16_t> wav = Convert(dir, t);
  const size_t frames = wav.size() / 2;
  EXPECT_GT(frames, Frame(2.2));
  EXPECT_LT(frames, Frame(1.9 + 10));
  EXPECT_GT(Peak(std::span(wav).subspan(2 * Frame(2.0), 2 * Frame(0.05))), 30);
  // It ends where the sound has decayed to the 16-bit step.
  EXPECT_LE(Peak(std::span(wav).last(2 * Frame(0.01))), 2);

  // A song whose sound is over long before keeps its length: playing time + 1, truncated.
  TrackBytes silent;
  silent.Tempo(0, 500000).Program(0, 0, kStrings).NoteOn(0, 0, 60, 100).NoteOff(96, 0, 60);
  silent.EndOfTrack(1344);  // 1.5 s
  EXPECT_EQ(Convert(dir, silent).size() / 2, Frame(2.0));
}

// A release of far more than the renderer's tail limit (the SoundFont's own release raised
// through its NRPN) rings on as in the single pass: past 5 s after the last event, until
// the ending cap.
TEST(Release, LongReleaseRingsUntilTheEndingCap) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, kStrings).Control(0, 0, 91, 0).Control(0, 0, 93, 0);
  constexpr int kVolEnvRelease = 38;
  t.Control(0, 0, 99, 120).Control(0, 0, 98, kVolEnvRelease).Control(0, 0, 38, 127);
  t.Control(0, 0, 6, 127).NoteOn(0, 0, 60, 120).NoteOff(480, 0, 60).EndOfTrack(0);  // 0.5 s
  const std::vector<int16_t> wav = Convert(dir, t);
  EXPECT_GT(Peak(std::span(wav).subspan(2 * Frame(7.0), 2 * Frame(0.1))), 30);
  EXPECT_LE(wav.size() / 2, Frame(0.5 + 10) + 64);
}

}  // namespace
}  // namespace velorna::test
