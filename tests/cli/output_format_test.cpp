// The output types and levels of velorna-cli convert, end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "support/pitch_measure.h"
#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"
#include "support/tone_font.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// A piano chord for two seconds and a drum hit: the song lasts three whole seconds.
Bytes ChordSong() {
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 60, 100).NoteOn(0, 0, 64, 100).NoteOn(0, 9, 38, 100);
  t.NoteOff(1920, 0, 60).NoteOff(0, 0, 64).NoteOff(0, 9, 38).EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

ProcessResult Convert(std::vector<std::string> args) {
  args.insert(args.begin(), {CliPath(), "convert", "--quiet", "--soundfont", kSoundFont});
  return RunProcess(args);
}

TEST(CliOutputFormat, EveryTypeHoldsTheSamplesOfTheWav) {
  TempDir dir;
  const std::string song = (dir / "song.mid").string();
  WriteBytes(song, ChordSong());
  ASSERT_EQ(Convert({song}).exitStatus, 0);
  ASSERT_EQ(Convert({"--format", "flac", song}).exitStatus, 0);
  ASSERT_EQ(Convert({"--bits", "24", "-o", (dir / "deep.aif").string(), song}).exitStatus, 0);

  const std::vector<int32_t> wav = SoxDecode32(dir / "song.wav");
  ASSERT_EQ(wav.size(), 3u * 44100 * 2);
  EXPECT_GT(*std::max_element(wav.begin(), wav.end()), 1 << 24);  // not silence
  // The plain WAV rounds each of the song's three renderings to 16 bits before summing;
  // every other output sums them unrounded, so they differ by those roundings and no more.
  constexpr int64_t kRoundings = 3 * 65536;
  for (const char* other : {"song.flac", "deep.aif"}) {
    SCOPED_TRACE(other);
    const std::vector<int32_t> samples = SoxDecode32(dir / other);
    ASSERT_EQ(samples.size(), wav.size());
    int64_t worst = 0;
    for (size_t i = 0; i < wav.size(); ++i)
      worst = std::max(worst, std::abs(int64_t{samples[i]} - wav[i]));
    EXPECT_LE(worst, kRoundings);
  }

  // Normalized at 24 bits: the peak lands on -1 dBFS, finer than the 16-bit steps.
  ASSERT_EQ(
      Convert({"--bits", "24", "--normalize", "-o", (dir / "loud.wav").string(), song}).exitStatus,
      0);
  const std::vector<int32_t> loud = SoxDecode32(dir / "loud.wav");
  ASSERT_EQ(loud.size(), wav.size());
  int64_t peak = 0;
  for (const int32_t s : loud) peak = std::max(peak, std::abs(int64_t{s}));
  EXPECT_NEAR(20 * std::log10(static_cast<double>(peak) / 2147483648.0), -1.0, 0.001);
  EXPECT_TRUE(std::any_of(loud.begin(), loud.end(), [](int32_t s) { return s % 0x10000 != 0; }));
}

// A pure tone on the tone font's key retuned by a fraction of a cent (the rendering's rate
// carries part of it), at every output rate, through both engines and both writers: each
// output has its rate, the song's length in seconds, the tone's level and its exact pitch.
TEST(CliOutputFormat, EveryRateKeepsTheLengthLevelAndPitch) {
  TempDir dir;
  ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
  constexpr int kKey = 69;          // 441 Hz in the tone font
  constexpr double kOffset = 13.7;  // cents above the key
  constexpr double kSeconds = 3;    // the song's length: two seconds of tone and one more
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, kKey, 100).NoteOff(1920, 0, kKey).EndOfTrack(0);
  const std::string song = (dir / "tone.mid").string();
  WriteBytes(song, SmfFile(0, 480, {t}));
  const double expectedHz = 441 * std::exp2(kOffset / 1200);

  struct Output {
    int rate;
    std::vector<std::string> args;
    std::string name;
  };
  double plainLevel = 0;
  for (const Output& o : std::vector<Output>{
           {44100, {}, "plain.wav"},
           {48000, {"--rate", "48000"}, "fast48.wav"},
           {48000, {"--rate", "48000", "--engine", "files"}, "files48.wav"},
           {96000, {"--rate", "96000"}, "fast96.wav"},
           {96000, {"--rate", "96000", "--bits", "24"}, "deep96.flac"},
       }) {
    SCOPED_TRACE(o.name);
    std::vector<std::string> args = {CliPath(),
                                     "convert",
                                     "--quiet",
                                     "--soundfont",
                                     (dir / "tone.sf2").string(),
                                     "--cents",
                                     "0,0,0,0,0,0,0,0,0," + std::to_string(kOffset) + ",0,0",
                                     "-o",
                                     (dir / o.name).string()};
    args.insert(args.end(), o.args.begin(), o.args.end());
    args.push_back(song);
    ASSERT_EQ(RunProcess(args).exitStatus, 0);
    EXPECT_EQ(RunProcess({"/usr/bin/soxi", "-r", (dir / o.name).string()}).out,
              std::to_string(o.rate) + "\n");
    const std::vector<int32_t> samples = SoxDecode32(dir / o.name);
    EXPECT_EQ(samples.size(), static_cast<size_t>(kSeconds * o.rate) * 2);
    // One second of the held tone, well inside it.
    std::vector<float> left;
    for (size_t i = o.rate / 2; i < size_t(o.rate) * 3 / 2 && 2 * i < samples.size(); ++i)
      left.push_back(static_cast<float>(samples[2 * i] / 2147483648.0));
    ASSERT_EQ(left.size(), static_cast<size_t>(o.rate));
    const double hz = PeakFrequency(left, o.rate, expectedHz / 1.01, expectedHz * 1.01);
    EXPECT_NEAR(1200 * std::log2(hz / expectedHz), 0.0, 0.1);
    double energy = 0;
    for (const float x : left) energy += double(x) * x;
    const double level = 10 * std::log10(energy / static_cast<double>(left.size()));
    if (o.rate == 44100) plainLevel = level;
    EXPECT_NEAR(level, plainLevel, 0.1);
  }
}

TEST(CliOutputFormat, WhatCannotBeWrittenIsAUsageErrorBeforeAnyWork) {
  TempDir dir;
  const std::string song = (dir / "song.mid").string();
  WriteBytes(song, ChordSong());
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-o", (dir / "song.mp3").string(), song},
           {"-o", (dir / "song").string(), song},
           {"--format", "mp3", song},
           {"--format", "flac", "-o", (dir / "x.wav").string(), song},
           {"--bits", "20", song},
           {"--rate", "22050", song},
           {"--rate", "48k", song},
           {"--gain", "61", song},
           {"--gain", "loud", song},
           {"--gain", "nan", song},
       }) {
    const ProcessResult r = Convert(args);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("velorna-cli:"), std::string::npos) << r.err;
  }
  EXPECT_EQ(RunProcess({CliPath(), "inspect", "--normalize", song}).exitStatus, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// A batch where one song clips: its result line, the closing summary and its report line name
// it; the song that fits has no clipped samples and a measured peak, in either language.
TEST(CliOutputFormat, ABatchNamesTheSongsThatClippedInTheSummaryAndTheReport) {
  TempDir dir;
  WriteBytes(dir / "loud.mid", ChordSong());
  TrackBytes quiet;
  quiet.Tempo(0, 500000).NoteOn(0, 0, 60, 20).NoteOff(960, 0, 60).EndOfTrack(0);
  WriteBytes(dir / "quiet.mid", SmfFile(0, 480, {quiet}));
  for (const auto& [language, summary] :
       {std::pair{"en", "clipped samples in 1 of them: loud.mid ("},
        std::pair{"ja", "音割れ 1 曲: loud.mid ("}}) {
    const fs::path report = dir / (std::string(language) + ".jsonl");
    // --gain clips the chord only; the quiet note stays far below full scale.
    const ProcessResult r =
        RunProcess({CliPath(), "convert", "--lang", language, "--soundfont", kSoundFont, "--gain",
                    "24", "--jobs", "1", "-d", (dir / language).string(), "--report",
                    report.string(), (dir / "loud.mid").string(), (dir / "quiet.mid").string()});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.err.find(summary), std::string::npos) << r.err;
    std::ifstream in(report);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
      std::smatch m;
      ASSERT_TRUE(std::regex_search(
          line, m,
          std::regex(
              R"rx("peak_dbfs":(-?[0-9.]+),"clipped_samples":([0-9]+),"loudness_lufs":-?[0-9.]+)rx")))
          << line;
      const bool loud = line.find("loud.mid") != std::string::npos;
      EXPECT_EQ(std::stol(m[2]) > 0, loud) << line;
      EXPECT_EQ(std::stod(m[1]) >= 0, loud) << line;
    }
    EXPECT_EQ(lines, 2);
  }
}

}  // namespace
}  // namespace velorna::test
