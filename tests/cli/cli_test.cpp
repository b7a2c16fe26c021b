// velorna-cli run as a user runs it: options, messages, exit statuses, outputs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";

ProcessResult Cli(std::vector<std::string> args, const ProcessOptions& options = {}) {
  args.insert(args.begin(), CliPath());
  return RunProcess(args, options);
}

// Two quarter notes and a drum hit, about a second.
Bytes ShortSong() {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 19).NoteOn(0, 0, 60, 100).NoteOn(0, 9, 36, 100);
  t.NoteOff(240, 9, 36).NoteOff(240, 0, 60).NoteOn(0, 0, 64, 100).NoteOff(480, 0, 64);
  t.EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

bool IsWav(const fs::path& path) {
  const Bytes b = ReadBytes(path);
  return b.size() >= 44 && std::string(b.begin(), b.begin() + 4) == "RIFF" &&
         std::string(b.begin() + 8, b.begin() + 12) == "WAVE" &&
         b.size() == 8 + (b[4] | b[5] << 8 | b[6] << 16 | static_cast<size_t>(b[7]) << 24);
}

TEST(CliOptions, UsageErrorsExitWithTwo) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"convert"},
           {"frobnicate", "a.mid"},
           {"convert", "--cents", "0,0,0", "a.mid"},
           {"convert", "--cents", "0,0,0,0,0,0,0,0,0,0,0,101", "a.mid"},
           {"convert", "--cents", "0,0,0,0,0,0,0,0,0,0,0,x", "a.mid"},
           {"convert", "--bogus", "a.mid"},
           {"convert", "-o", "x.wav", "a.mid", "b.mid"},
           {"convert", "-o", "", "a.mid"},
           {"convert", "--soundfont"},
           {"convert", "--engine", "slow", "a.mid"},
           {"convert", "--jobs", "0", "a.mid"},
       }) {
    const ProcessResult r = Cli(args);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(args);
    EXPECT_NE(r.err.find("velorna-cli:"), std::string::npos);
  }
}

TEST(CliOptions, HelpExplainsEveryOption) {
  const ProcessResult r = Cli({"--help"});
  EXPECT_EQ(r.exitStatus, 0);
  for (const char* option : {"--output", "--cents", "--scale", "--soundfont", "--engine", "--quiet",
                             "--verbose", "--bends", "inspect", "130", "--jobs", "fast|files"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(CliConvert, TheFastEngineIsTheDefaultAndFilesTheReference) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ShortSong());
  const std::string song = (dir / "song.mid").string();
  const auto convert = [&](std::vector<std::string> extra, const std::string& out) {
    std::vector<std::string> args{"convert",  "--quiet", "--soundfont",
                                  kSoundFont, "-o",      (dir / out).string()};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(song);
    return Cli(args).exitStatus;
  };
  ASSERT_EQ(convert({}, "default.wav"), 0);
  ASSERT_EQ(convert({"--engine", "fast", "--jobs", "1"}, "fast.wav"), 0);
  ASSERT_EQ(convert({"--engine", "files"}, "files.wav"), 0);
  EXPECT_TRUE(IsWav(dir / "files.wav"));
  EXPECT_EQ(ReadBytes(dir / "default.wav"), ReadBytes(dir / "fast.wav"));
  // The engines agree closely but not to the bit: the file road rounds every rendering.
  EXPECT_NE(ReadBytes(dir / "default.wav"), ReadBytes(dir / "files.wav"));
  EXPECT_EQ(ReadBytes(dir / "default.wav").size(), ReadBytes(dir / "files.wav").size());
}

TEST(CliConvert, MissingInputIsReportedUnderItsName) {
  TempDir dir;
  const std::string missing = (dir / "nowhere.mid").string();
  const ProcessResult r = Cli({"convert", "--quiet", "--soundfont", kSoundFont, missing});
  EXPECT_EQ(r.exitStatus, 1);
  // Named once, by the line's song.
  EXPECT_EQ(r.err.find("nowhere.mid: Midiファイルが開けませんでした。\n"), 0u) << r.err;
  EXPECT_FALSE(fs::exists(dir / "nowhere.wav"));
}

TEST(CliConvert, OutputsThatWouldCollideAreRefusedBeforeAnythingStarts) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ShortSong());
  WriteBytes(dir / "song.kar", ShortSong());
  const ProcessResult r = Cli({"convert", "--quiet", "--soundfont", kSoundFont,
                               (dir / "song.mid").string(), (dir / "song.kar").string()});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("same output"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir / "song.wav"));
}

TEST(CliConvert, ConvertsBesideTheInputAndEndsWithTheMessage) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ShortSong());
  const ProcessResult r =
      Cli({"convert", "--soundfont", kSoundFont, "--engine", "files", (dir / "song.mid").string()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_TRUE(IsWav(dir / "song.wav"));
  EXPECT_NE(r.err.find("変換が終了しました。"), std::string::npos);
  EXPECT_NE(r.err.find("100%"), std::string::npos);  // progress, plain lines off a terminal
  EXPECT_NE(r.err.find((dir / "song.wav").string()), std::string::npos);
}

TEST(CliConvert, UnwritableOutputFolderFailsBeforeRendering) {
  TempDir dir;
  const auto open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                    fs::perms::others_read | fs::perms::others_exec;
  fs::permissions(dir.path(), open);
  WriteBytes(dir / "song.mid", ShortSong());
  fs::permissions(dir / "song.mid", fs::perms::owner_all | fs::perms::others_read);
  fs::create_directory(dir / "locked");
  fs::permissions(dir / "locked", open);
  ProcessOptions asNobody;
  asNobody.unprivileged = true;
  const ProcessResult r = Cli({"convert", "--quiet", "--soundfont", kSoundFont, "-o",
                               (dir / "locked" / "out.wav").string(), (dir / "song.mid").string()},
                              asNobody);
  EXPECT_EQ(r.exitStatus, 1) << r.err;
  EXPECT_NE(r.err.find("ファイルが開けませんでした。"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("変換が終了しました。"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir / "locked" / "out.wav"));
}

TEST(CliConvert, CtrlCStopsLikeTheStopButton) {
  TempDir dir;
  // Many notes, so the interrupt lands between note passes.
  TrackBytes t;
  t.Tempo(0, 500000);
  for (int i = 0; i < 40; ++i) t.NoteOn(0, 0, 48 + i % 24, 90).NoteOff(60, 0, 48 + i % 24);
  t.EndOfTrack(0);
  WriteBytes(dir / "long.mid", SmfFile(0, 480, {t}));
  ProcessOptions interrupt;
  interrupt.interruptWhen = [](const std::string& err) {
    return err.find("10%") != std::string::npos;
  };
  const ProcessResult r =
      Cli({"convert", "--soundfont", kSoundFont, "--engine", "files", (dir / "long.mid").string()},
          interrupt);
  EXPECT_EQ(r.exitStatus, 130) << r.err;
  EXPECT_TRUE(IsWav(dir / "long.wav"));
  EXPECT_NE(r.err.find("変換が終了しました。"), std::string::npos);
}

TEST(CliInspect, PrintsThePreparedSongOneEventALine) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ShortSong());
  const ProcessResult r = Cli({"inspect", "--raw", (dir / "song.mid").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // tick channel status note velocity duration kind value
  EXPECT_NE(r.out.find("\n0 0 16 60 100 480 0 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0 9 16 36 100 240 0 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n480 0 16 64 100 480 0 0\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n0 255 255 0 0 0 81 500000\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.rfind("#", 0), 0u);
}

TEST(CliInspect, BendsOfTheWorkedExample) {
  TempDir dir;
  // Tempo, program change on 0, C on 0, E on 1, G on 0 at 480, end at 960.
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0).NoteOn(0, 0, 60, 100).NoteOn(0, 1, 64, 100);
  t.NoteOff(480, 0, 60).NoteOff(0, 1, 64).NoteOn(0, 0, 67, 100).NoteOff(480, 0, 67).EndOfTrack(0);
  WriteBytes(dir / "worked.mid", SmfFile(0, 480, {t}));
  const ProcessResult r = Cli({"inspect", "--raw", "--bends", (dir / "worked.mid").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // index tick channel note pitch-class cents sensitivity base bend
  EXPECT_NE(r.out.find(" 0 0 60 0 0 2 8192 8192\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 0 1 64 4 -14 2 8192 "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" 480 0 67 7 2 2 8192 8295\n"), std::string::npos) << r.out;
}

TEST(CliInspect, DrumNotesAreMarked) {
  TempDir dir;
  WriteBytes(dir / "song.mid", ShortSong());
  const ProcessResult r = Cli({"inspect", "--raw", "--bends", "--cents", "0,0,0,0,0,0,0,0,0,0,0,0",
                               (dir / "song.mid").string()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find(" 0 9 36 0 drum\n"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace velorna::test
