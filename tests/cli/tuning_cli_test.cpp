// Tunings chosen on the command line: sources, tonic, reference pitch, and their errors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "support/pitch_measure.h"
#include "support/run_process.h"
#include "support/scala_text.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"
#include "support/tone_font.h"
#include "tuning/presets.h"

namespace velorna::test {
namespace {

const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), CliPath());
  return RunProcess(args);
}

// `song` converted with `options` to `out`, as its bytes.
Bytes ConvertedWav(const std::string& song, std::vector<std::string> options,
                   const std::string& out) {
  options.insert(options.begin(), {"convert", "--quiet", "--soundfont", kSoundFont, "-o", out});
  options.push_back(song);
  const ProcessResult r = Cli(options);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  return ReadBytes(out);
}

// Each source, tonic and reference pitch shown by `tuning`, one line a key.
TEST(CliTuning, SourcesTonicAndReferencePitch) {
  TempDir dir;
  const std::string nine = (dir / "nine.scl").string(), holes = (dir / "holes.kbm").string();
  std::ofstream(nine) << EqualStepsScl(9, 1200);
  std::ofstream(holes) << "3\n0\n127\n60\n60\n261.6255653\n2\n0\nx\n1\n";
  using Lines = std::vector<std::string>;
  const std::vector<std::pair<std::vector<std::string>, Lines>> cases{
      {{}, {"64 E4 326.9727 -14.000"}},  // pure intervals on C, as always
      {{"--preset", "just", "--tonic", "D"}, {"62 D4 293.6648 0.000", "66 F#4 367.0810 -13.686"}},
      {{"--preset", "equal", "--a4", "415"}, {"69 A4 415.0000 -101.271"}},
      {{"--cents", "0, 11.7,4,16,-14,-2,-10,2,14,-16,18, -12.5"}, {"61 C#4 279.0622 11.700"}},
      {{"--cents", "+1,0,0,0,0,0,0,0,0,0,0,0", "--tonic", "Eb"}, {"63 D#4 311.3067 1.000"}},
      {{"--scl", nine}, {"69 A4 523.2511 300.000"}},
      {{"--scl", nine, "--tonic", "G"}, {"55 G3 195.9977 0.000"}},
      {{"--scl", nine, "--kbm", holes}, {"61 C#4 x x", "62 D4 282.5712 -66.667"}},
  };
  for (const auto& [options, lines] : cases) {
    std::vector<std::string> args{"tuning"};
    args.insert(args.end(), options.begin(), options.end());
    const ProcessResult r = Cli(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    for (const std::string& line : lines)
      EXPECT_NE(r.out.find("\n" + line + "\n"), std::string::npos) << line << "\n" << r.out;
    EXPECT_NE(r.out.find("\n127 G9 "), std::string::npos) << r.out;
  }

  const ProcessResult presets = Cli({"--list-presets"});
  for (const PresetInfo& p : Presets())
    EXPECT_NE(presets.out.find(std::string(p.name) + "\t"), std::string::npos) << p.name;
}

TEST(CliTuning, WrongTuningsAreUsageErrorsThatSayWhy) {
  TempDir dir;
  std::ofstream(dir / "bad.scl") << "desc\n2\n100.0\n7/x\n";
  const std::string bad = (dir / "bad.scl").string();
  const std::string song = (dir / "song.mid").string();
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"tuning", "--cents", "0,1,2"}, "3 given"},
      {{"tuning", "--preset", "just", "--cents", "0,0,0,0,0,0,0,0,0,0,0,0"}, "exclude"},
      {{"tuning", "--scl", bad, "--scale", "x.sca"}, "exclude"},
      {{"tuning", "--preset", "slendro"}, "slendro"},
      {{"tuning", "--tonic", "H"}, "F# C#: H"},
      {{"tuning", "--a4", "379.9"}, "379.9"},
      {{"tuning", "--kbm", "a.kbm"}, "--kbm needs --scl"},
      {{"tuning", "song.mid"}, "song.mid"},
      {{"tuning", "--scl", bad}, "bad.scl の 4 行目"},
      {{"inspect", "--scl", bad, song}, "bad.scl の 4 行目"},
      {{"convert", "--scl", bad, song}, "bad.scl の 4 行目"},
      {{"convert", "--scl", (dir / "missing.scl").string(), song}, "missing.scl"},
  };
  for (const Case& c : cases) {
    const ProcessResult r = Cli(c.args);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(c.args);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  }
}

// The twelve offsets given any way reach the rendering unchanged: spaces and a plus sign
// make the same bytes as the default they spell, on every pitch class.
TEST(CliTuning, DefaultOffsetsSpelledAnyWayGiveTheSameWav) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(12));
  const std::string song = (dir / "song.mid").string();
  const Bytes plain = ConvertedWav(song, {}, (dir / "plain.wav").string());
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(ConvertedWav(song, {"--cents", "0, +12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12.0"},
                         (dir / "spelled.wav").string()),
            plain);
  EXPECT_EQ(ConvertedWav(song, {"--tonic", "C"}, (dir / "explicit.wav").string()), plain);
}

// Adaptive intonation on a C major triad: inspect shows each note's chosen pitch (a pure
// 4:5:6 over equal temperament's keys), and the conversion plays it: the measured third
// narrows and the fifth widens by what the just ratios ask.
TEST(CliTuning, AdaptiveIntonationIsChosenForTheJob) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 60, 90).NoteOn(0, 0, 64, 90).NoteOn(0, 0, 67, 90);
  t.NoteOff(1920, 0, 60).NoteOff(0, 0, 64).NoteOff(0, 0, 67).EndOfTrack(0);
  WriteBytes(dir / "triad.mid", SmfFile(0, 480, {t}));
  const std::string song = (dir / "triad.mid").string();

  const ProcessResult listing =
      Cli({"inspect", "--raw", "--bends", "--adaptive", "--preset", "equal", song});
  ASSERT_EQ(listing.exitStatus, 0) << listing.err;
  std::map<int, double> cents;  // key -> chosen target
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {  // comment lines do not parse
    long index = 0, tick = 0;
    int channel = 0, key = 0, pc = 0;
    double target = 0;
    if (std::istringstream(line) >> index >> tick >> channel >> key >> pc >> target)
      cents[key] = target;
  }
  ASSERT_EQ(cents.size(), 3u) << listing.out;
  const double third = 1200 * std::log2(5.0 / 4) - 400, fifth = 1200 * std::log2(3.0 / 2) - 700;
  EXPECT_NEAR(cents[64] - cents[60], third, 0.1);
  EXPECT_NEAR(cents[67] - cents[60], fifth, 0.1);

  // Each render's intervals measured on its fundamentals; the sample's own tuning cancels.
  const auto intervals = [&](bool adaptive) {
    std::vector<std::string> options{"--preset", "equal"};
    if (adaptive) options.push_back("--adaptive");
    const Bytes wav = ConvertedWav(song, options, (dir / "out.wav").string());
    constexpr size_t kHeader = 44, kRate = 44100;
    std::vector<int16_t> stereo((wav.size() - kHeader) / sizeof(int16_t));
    std::memcpy(stereo.data(), wav.data() + kHeader, stereo.size() * sizeof(int16_t));
    const std::vector<float> held = LeftChannel(stereo, kRate / 4, kRate);
    const double c = PeakFrequency(held, kRate, 250, 275);
    return std::pair{1200 * std::log2(PeakFrequency(held, kRate, 320, 340) / c),
                     1200 * std::log2(PeakFrequency(held, kRate, 385, 400) / c)};
  };
  const auto [equalThird, equalFifth] = intervals(false);
  const auto [pureThird, pureFifth] = intervals(true);
  // FluidSynth realises pitch to whole cents.
  EXPECT_NEAR(pureThird - equalThird, third, 1.5);
  EXPECT_NEAR(pureFifth - equalFifth, fifth, 1.5);
}

// The same key on three channels one after another: the first in the chosen tuning, the
// second in its own preset, the third left as the song plays it. Each note's target as
// inspect lists it and where the rendering sounds it.
TEST(CliTuning, ChannelTuningsTuneTheirChannelsAlone) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  constexpr int kKey = 69;           // 441 Hz in the tone font
  constexpr int kSecondTicks = 960;  // at 120 bpm and 480 ticks a quarter
  struct Case {
    int channel;   // 0-15
    double cents;  // the target of A4
  };
  const double pythagoreanA = 1200 * std::log2(27.0 / 16) - 900;
  const std::vector<Case> cases{{0, kPureIntervalCents[9]}, {1, pythagoreanA}, {2, 0}};
  TrackBytes t;
  t.Tempo(0, 500000);
  for (const Case& c : cases)
    t.NoteOn(0, c.channel, kKey, 100).NoteOff(kSecondTicks, c.channel, kKey);
  t.EndOfTrack(0);
  const std::string song = (dir / "three.mid").string();
  WriteBytes(song, SmfFile(0, 480, {t}));
  const std::vector<std::string> tunings{"--channel-tuning", "2=pythagorean", "--channel-tuning",
                                         "3=none"};

  std::vector<std::string> args{"inspect", "--raw", "--bends"};
  args.insert(args.end(), tunings.begin(), tunings.end());
  args.push_back(song);
  const ProcessResult listing = Cli(args);
  ASSERT_EQ(listing.exitStatus, 0) << listing.err;
  std::map<int, double> targets;  // channel -> target
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    long index = 0, tick = 0;
    int channel = 0, key = 0, pc = 0;
    double target = 0;
    if (std::istringstream(line) >> index >> tick >> channel >> key >> pc >> target)
      targets[channel] = target;
  }
  args.erase(args.begin() + 1);
  const ProcessResult people = Cli(args);
  EXPECT_NE(people.out.find("channel 2's tuning"), std::string::npos) << people.out;

  args = {"convert",     "--quiet",
          "--soundfont", (dir / "tone.sf2").string(),
          "-o",          (dir / "out.wav").string()};
  args.insert(args.end(), tunings.begin(), tunings.end());
  args.push_back(song);
  ASSERT_EQ(Cli(args).exitStatus, 0);
  const Bytes wav = ReadBytes(dir / "out.wav");
  constexpr size_t kHeader = 44, kRate = 44100;
  std::vector<int16_t> stereo((wav.size() - kHeader) / sizeof(int16_t));
  std::memcpy(stereo.data(), wav.data() + kHeader, stereo.size() * sizeof(int16_t));
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.channel);
    EXPECT_NEAR(targets[c.channel], c.cents, 0.001) << listing.out;
    // The middle half of the note's second, clear of its onset and of the last one's tail.
    const std::vector<float> held = LeftChannel(stereo, i * kRate + kRate / 4, kRate / 2);
    const double hz = PeakFrequency(held, kRate, 400, 480);
    EXPECT_NEAR(1200 * std::log2(hz / 441), c.cents, 0.1);
  }
}

}  // namespace
}  // namespace velorna::test
