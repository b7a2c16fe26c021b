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
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

ProcessResult Cli(std::vector<std::string> args) {
  args.insert(args.begin(), CliPath());
  return RunProcess(args);
}

// The line of `key` in a `tuning` listing.
std::string KeyLine(const std::string& listing, int key) {
  const std::string start = "\n" + std::to_string(key) + " ";
  const size_t at = listing.find(start);
  if (at == std::string::npos) return {};
  return listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
}

TEST(CliTuning, SourcesTonicAndReferencePitch) {
  TempDir dir;
  std::ofstream(dir / "nine.scl") << "! nine.scl\nNine equal\n 9\n";
  for (int i = 1; i <= 9; ++i)
    std::ofstream(dir / "nine.scl", std::ios::app) << std::to_string(1200.0 * i / 9) << "\n";
  std::ofstream(dir / "holes.kbm") << "3\n0\n127\n60\n60\n261.6255653\n2\n0\nx\n1\n";

  struct Case {
    std::vector<std::string> args;
    int key;
    std::string line;
  };
  const Case cases[] = {
      {{}, 64, "64 E4 326.9727 -14.000"},  // pure intervals on C, as always
      {{"--preset", "just", "--tonic", "D"}, 62, "62 D4 293.6648 0.000"},
      {{"--preset", "just", "--tonic", "D"}, 66, "66 F#4 367.0810 -13.686"},
      {{"--preset", "equal", "--a4", "415"}, 69, "69 A4 415.0000 -101.271"},
      {{"--cents", "0, 11.7,4,16,-14,-2,-10,2,14,-16,18, -12.5"}, 61, "61 C#4 279.0622 11.700"},
      {{"--cents", "+1,0,0,0,0,0,0,0,0,0,0,0", "--tonic", "Eb"}, 63, "63 D#4 311.3067 1.000"},
      {{"--scl", (dir / "nine.scl").string()}, 69, "69 A4 523.2511 300.000"},
      {{"--scl", (dir / "nine.scl").string(), "--tonic", "G"}, 55, "55 G3 195.9977 0.000"},
      {{"--scl", (dir / "nine.scl").string(), "--kbm", (dir / "holes.kbm").string()},
       61,
       "61 C#4 x x"},
      {{"--scl", (dir / "nine.scl").string(), "--kbm", (dir / "holes.kbm").string()},
       62,
       "62 D4 282.5712 -66.667"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"tuning"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProcessResult r = Cli(args);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(KeyLine(r.out, c.key), c.line) << ::testing::PrintToString(c.args);
    EXPECT_EQ(KeyLine(r.out, 127).rfind("127 G9 ", 0), 0u);
  }

  const ProcessResult presets = Cli({"--list-presets"});
  EXPECT_EQ(presets.exitStatus, 0);
  for (const char* name : {"equal\t", "just\t", "pythagorean\t", "meantone-1/4\t", "meantone-1/6\t",
                           "werckmeister3\t", "kirnberger3\t", "vallotti\t", "young\t"})
    EXPECT_NE(presets.out.find(name), std::string::npos) << name;
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
      {{"tuning", "--cents", "0,1,2,3,4,5,6,7,8,9,10,1O"}, "\"1O\""},
      {{"tuning", "--cents", "0,1,2,3,4,5,6,7,8,9,10,100.5"}, "100.5"},
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
// make the same bytes as the default they spell.
TEST(CliTuning, DefaultOffsetsSpelledAnyWayGiveTheSameWav) {
  TempDir dir;
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 64, 100).NoteOff(240, 0, 64).EndOfTrack(0);
  WriteBytes(dir / "song.mid", SmfFile(0, 480, {t}));
  const auto convert = [&](std::vector<std::string> tuning, const std::string& out) {
    std::vector<std::string> args{"convert",     "--quiet",
                                  "--soundfont", "/usr/share/sounds/sf2/TimGM6mb.sf2",
                                  "-o",          (dir / out).string()};
    args.insert(args.end(), tuning.begin(), tuning.end());
    args.push_back((dir / "song.mid").string());
    const ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return ReadBytes(dir / out);
  };
  const Bytes plain = convert({}, "plain.wav");
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(
      convert({"--cents", "0, +12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12.0"}, "spelled.wav"),
      plain);
  EXPECT_EQ(convert({"--a4", "440", "--tonic", "C"}, "explicit.wav"), plain);
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
  for (std::string line; std::getline(lines, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    long index = 0, tick = 0;
    int channel = 0, key = 0, pc = 0;
    double target = 0;
    fields >> index >> tick >> channel >> key >> pc >> target;
    cents[key] = target;
  }
  ASSERT_EQ(cents.size(), 3u) << listing.out;
  const double third = 1200 * std::log2(5.0 / 4) - 400, fifth = 1200 * std::log2(3.0 / 2) - 700;
  EXPECT_NEAR(cents[64] - cents[60], third, 0.1);
  EXPECT_NEAR(cents[67] - cents[60], fifth, 0.1);

  // Each render's intervals measured on its fundamentals; the sample's own tuning cancels.
  const auto intervals = [&](bool adaptive) {
    const std::string out = (dir / (adaptive ? "adaptive.wav" : "equal.wav")).string();
    std::vector<std::string> args{
        "convert",  "--quiet", "--soundfont", "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "--preset", "equal",   "-o",          out,
        song};
    if (adaptive) args.insert(args.begin() + 1, "--adaptive");
    const ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    const Bytes wav = ReadBytes(out);
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

}  // namespace
}  // namespace velorna::test
