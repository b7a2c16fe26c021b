// velorna-cli when the machine runs short: memory that runs out at any point, and a
// temporary folder that fills up. Each run either converts or fails with its message and
// exit status 1; it never crashes, never reports a failure as success, and leaves no
// temporary file and no partial output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const std::string kFinished = "変換が終了しました。";
const std::string kOutOfMemory = "メモリが不足しています。";
constexpr uint32_t kDivision = 480;
constexpr uint32_t kTicksPerMinute = kDivision * 2 * 60;  // at the default 120 bpm

// One organ note held for `minutes`: its sound lasts the whole song.
Bytes HeldNote(uint32_t minutes) {
  TrackBytes t;
  t.Program(0, 0, 19).NoteOn(0, 0, 60, 100).NoteOff(minutes * kTicksPerMinute, 0, 60);
  t.EndOfTrack(0);
  return SmfFile(0, kDivision, {t});
}

// velorna-cli convert run through `wrapper` (a program that sets up the run, then runs it).
std::vector<std::string> ConvertArgs(const std::vector<std::string>& wrapper, const fs::path& song,
                                     const std::string& engine) {
  std::vector<std::string> argv = wrapper;
  for (const std::string& a :
       {CliPath(), std::string("convert"), std::string("--soundfont"), std::string(kSoundFont),
        std::string("--engine"), engine, std::string("--jobs"), std::string("2"), song.string()})
    argv.push_back(a);
  return argv;
}

TEST(ShortOfMemory, EveryLimitConvertsOrFailsCleanly) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's own reservations do not fit an address-space limit";
#endif
  TempDir dir;
  ScopedTmpDir temp;
  WriteBytes(dir / "held.mid", HeldNote(3));
  // A note held for an hour: its whole mix would not fit the limit; streamed, it does.
  WriteBytes(dir / "hour.mid", HeldNote(60));
  struct Case {
    std::string song, engine;
    int megabytes;
  };
  std::vector<Case> cases;
  // 240-260 MB is where the worker threads' synthesizer settings are made: FluidSynth
  // copies their strings without checking its allocations.
  for (int mb : {120, 240, 260, 380, 600}) cases.push_back({"held.mid", "fast", mb});
  for (int mb : {120, 260, 380, 600}) cases.push_back({"held.mid", "files", mb});
  cases.push_back({"hour.mid", "fast", 1000});
  int failed = 0, converted = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.song + " " + c.engine + " " + std::to_string(c.megabytes) + " MB");
    const fs::path wav = dir / (fs::path(c.song).stem().string() + ".wav");
    fs::remove(wav);
    const std::string limit = "--as=" + std::to_string(int64_t{c.megabytes} << 20);
    const ProcessResult r =
        RunProcess(ConvertArgs({"/usr/bin/prlimit", limit}, dir / c.song, c.engine));
    ASSERT_TRUE(r.exitStatus == 0 || r.exitStatus == 1) << r.exitStatus << "\n" << r.err;
    if (r.exitStatus == 0) {
      EXPECT_NE(r.err.find(kFinished), std::string::npos) << r.err;
      EXPECT_TRUE(fs::exists(wav));
      ++converted;
    } else {
      EXPECT_NE(r.err.find(kOutOfMemory), std::string::npos) << r.err;
      EXPECT_EQ(r.err.find(kFinished), std::string::npos) << r.err;
      EXPECT_FALSE(fs::exists(wav));
      ++failed;
    }
    EXPECT_TRUE(fs::is_empty(temp.path()));
  }
  // The limits span both outcomes: the test says nothing if every run fails early.
  EXPECT_GE(failed, 2);
  EXPECT_GE(converted, 2);
}

// The temporary folder on a file system of its own, too small for one rendering (a mount
// namespace of the run's own: needs root, as CI runs).
TEST(FullTemporaryFolder, FileEngineFailsAndFastEngineNeedsNone) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir dir;
  ScopedTmpDir temp;
  TrackBytes t;
  t.Program(0, 0, 0).NoteOn(0, 0, 60, 100).NoteOff(kDivision * 2, 0, 60).EndOfTrack(0);
  WriteBytes(dir / "song.mid", SmfFile(0, kDivision, {t}));
  const std::vector<std::string> smallTmp = {
      "/usr/bin/unshare",
      "-m",
      "/bin/sh",
      "-c",
      "mount -t tmpfs -o size=16k tmpfs \"$TMPDIR\" && exec \"$@\"",
      "sh"};
  const ProcessResult files = RunProcess(ConvertArgs(smallTmp, dir / "song.mid", "files"));
  EXPECT_EQ(files.exitStatus, 1) << files.err;
  EXPECT_EQ(files.err.find(kFinished), std::string::npos) << files.err;
  EXPECT_FALSE(fs::exists(dir / "song.wav"));

  const ProcessResult fast = RunProcess(ConvertArgs(smallTmp, dir / "song.mid", "fast"));
  EXPECT_EQ(fast.exitStatus, 0) << fast.err;
  EXPECT_TRUE(fs::exists(dir / "song.wav"));
  EXPECT_TRUE(fs::is_empty(temp.path()));
}

}  // namespace
}  // namespace velorna::test
