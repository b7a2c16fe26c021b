// The output types and levels of velorna-cli convert, end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

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
  EXPECT_EQ(SoxDecode32(dir / "song.flac"), wav);
  EXPECT_EQ(SoxDecode32(dir / "deep.aif"), wav);  // a whole-step mix at 24 bits is the same

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

}  // namespace
}  // namespace velorna::test
