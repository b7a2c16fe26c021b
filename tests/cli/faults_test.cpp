// velorna-cli under faults a user meets: a disk that fills while a linked output is copied
// in, a Ctrl-C before anything was mixed, a FIFO whose writer comes late, standard output
// as the output, a folder this user may not write, and names and texts that carry terminal
// escape sequences. Each case states what the user keeps and what they are told.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "support/run_process.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/test_paths.h"

namespace velorna::test {
namespace {

namespace fs = std::filesystem;
const char kSoundFont[] = "/usr/share/sounds/sf2/TimGM6mb.sf2";
const std::string kCannotOpen = "ファイルが開けませんでした。";
const Bytes kOld{'o', 'l', 'd'};
constexpr uid_t kNobody = 65534;

std::vector<std::string> ConvertArgs(std::vector<std::string> extra) {
  std::vector<std::string> args{CliPath(), "convert", "--soundfont", kSoundFont};
  args.insert(args.end(), extra.begin(), extra.end());
  return args;
}

bool HasEscape(const std::string& text) {
  return text.find('\x1b') != std::string::npos;
}

// A one-megabyte file with a second name on a file system of its own, too small for the
// copy-in of the new WAV beside its temporary file: both names must keep the old bytes, and
// the message says where and why.
void FullDiskKeepsALinkedOutput() {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(40));
  ASSERT_EQ(RunProcess(ConvertArgs({"--quiet", "-o", (dir / "ref.wav").string(),
                                    (dir / "song.mid").string()}))
                .exitStatus,
            0);
  // Room for the new WAV beside an old file of half its size, and a quarter more: the
  // copy-in needs half.
  const auto kib = static_cast<int64_t>(fs::file_size(dir / "ref.wav") / 1024);
  fs::create_directory(dir / "disk");
  const std::string script =
      "mount -t tmpfs -o size=" + std::to_string(kib + kib / 2 + kib / 4) +
      "k tmpfs \"$1\" && shift && head -c " + std::to_string(kib / 2 * 1024) +
      " /dev/urandom > \"$D/../old\" && cp \"$D/../old\" \"$D/out.wav\" && "
      "ln \"$D/out.wav\" \"$D/other.wav\" && { \"$@\"; echo \"status $?\"; } && "
      "cmp \"$D/../old\" \"$D/out.wav\" && cmp \"$D/../old\" \"$D/other.wav\" && echo kept; "
      "ls -A \"$D\"";
  std::vector<std::string> args = {"/usr/bin/env",
                                   "D=" + (dir / "disk").string(),
                                   "/usr/bin/unshare",
                                   "-m",
                                   "/bin/sh",
                                   "-c",
                                   script,
                                   "sh",
                                   (dir / "disk").string()};
  for (const std::string& a : ConvertArgs(
           {"--quiet", "-o", (dir / "disk" / "out.wav").string(), (dir / "song.mid").string()}))
    args.push_back(a);
  const ProcessResult r = RunProcess(args);
  EXPECT_NE(r.out.find("status 1\n"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("kept\nother.wav\nout.wav\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find(kCannotOpen), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("out.wav: No space left on device"), std::string::npos) << r.err;
}

// The full device fails with its name and the reason.
void FullDeviceSaysWhy() {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(4));
  const ProcessResult r =
      RunProcess(ConvertArgs({"--quiet", "-o", "/dev/full", (dir / "song.mid").string()}));
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find(kCannotOpen), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("/dev/full: No space left on device"), std::string::npos) << r.err;
}

// Ctrl-C as soon as the job shows its first progress, before anything is mixed: the old
// output stays as it was, and the result line says so.
void EarlyCtrlCKeepsTheOldOutput() {
  for (const char* engine : {"fast", "files"}) {
    SCOPED_TRACE(engine);
    TempDir dir;
    WriteBytes(dir / "song.mid", Melody(200));
    WriteBytes(dir / "song.wav", kOld);
    ProcessOptions interrupt;
    interrupt.interruptWhen = [](const std::string& err) {
      return err.find("0%") != std::string::npos;
    };
    const ProcessResult r = RunProcess(
        ConvertArgs({"--engine", engine, "--jobs", "1", (dir / "song.mid").string()}), interrupt);
    EXPECT_EQ(r.exitStatus, 130) << r.err;
    EXPECT_EQ(ReadBytes(dir / "song.wav"), kOld);
    EXPECT_NE(r.err.find("何も書き出す前に停止しました。"), std::string::npos) << r.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
  }
}

// A FIFO named as the song whose writer comes a second later is read when it comes.
void AFifoInputWaitsForItsWriter() {
  TempDir dir;
  const fs::path fifo = dir / "song.mid";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  auto writer = std::async(std::launch::async, [&] {
    std::this_thread::sleep_for(std::chrono::seconds(1));
    WriteBytes(fifo, Melody(4));
  });
  const ProcessResult r =
      RunProcess(ConvertArgs({"--quiet", "-o", (dir / "out.wav").string(), fifo.string()}));
  writer.get();
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_GT(ReadBytes(dir / "out.wav").size(), 44u);
}

// "-o -" and "-o /dev/stdout" onto a pipe give the very bytes a file gets, in the type
// --format names.
void StandardOutputGetsTheFileBytes() {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(4));
  const std::string song = (dir / "song.mid").string();
  for (const char* type : {"wav", "flac"}) {
    SCOPED_TRACE(type);
    const std::string file = (dir / (std::string("song.") + type)).string();
    ASSERT_EQ(RunProcess(ConvertArgs({"--quiet", "-o", file, song})).exitStatus, 0);
    const ProcessResult piped =
        RunProcess(ConvertArgs({"--quiet", "--format", type, "-o", "-", song}));
    EXPECT_EQ(piped.exitStatus, 0) << piped.err;
    const Bytes bytes = ReadBytes(file);
    EXPECT_EQ(piped.out, std::string(bytes.begin(), bytes.end()));
  }
  const ProcessResult byName = RunProcess(ConvertArgs({"--quiet", "-o", "/dev/stdout", song}));
  EXPECT_EQ(byName.exitStatus, 0) << byName.err;
  const Bytes wav = ReadBytes(dir / "song.wav");
  EXPECT_EQ(byName.out, std::string(wav.begin(), wav.end()));
}

// A file this user may write, in a folder they may not: written in place.
void AWritableFileInAReadOnlyFolder() {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(4));
  fs::permissions(dir / "song.mid", fs::perms::owner_all | fs::perms::others_read);
  fs::create_directory(dir / "locked");
  WriteBytes(dir / "locked" / "out.wav", kOld);
  ASSERT_EQ(::chown((dir / "locked" / "out.wav").c_str(), kNobody, kNobody), 0);
  fs::permissions(dir.path(), fs::perms::all);
  fs::permissions(dir / "locked", fs::perms::owner_all | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
  ProcessOptions asNobody;
  asNobody.unprivileged = true;
  const ProcessResult r =
      RunProcess(ConvertArgs({"--quiet", "-o", (dir / "locked" / "out.wav").string(),
                              (dir / "song.mid").string()}),
                 asNobody);
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_GT(ReadBytes(dir / "locked" / "out.wav").size(), 44u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "locked"), fs::directory_iterator{}), 1);
}

// Escape sequences in a song's name and in its text events reach neither the messages nor
// inspect's lines; they are shown escaped, and no name forges a line of its own.
void EscapeSequencesAreShownEscaped() {
  TempDir dir;
  const std::string name = "a\x1b[2J\nforged: 変換が終了しました。.mid";
  TrackBytes t;
  t.Text(0, 0x01, "\x1b]52;c;ZXZpbA==\x07").Text(0, 0x03, "\x1b[H\x1b[2J");
  t.NoteOn(0, 0, 60, 90).NoteOff(240, 0, 60).EndOfTrack(0);
  WriteBytes(dir / name, SmfFile(0, 480, {t}));
  const ProcessResult converted = RunProcess(ConvertArgs({(dir / name).string()}));
  EXPECT_EQ(converted.exitStatus, 0) << converted.err;
  EXPECT_FALSE(HasEscape(converted.err)) << converted.err;
  EXPECT_NE(converted.err.find("a\\x1b[2J\\nforged"), std::string::npos) << converted.err;
  EXPECT_EQ(converted.err.find("\nforged"), std::string::npos) << converted.err;
  const ProcessResult inspected = RunProcess({CliPath(), "inspect", (dir / name).string()});
  EXPECT_EQ(inspected.exitStatus, 0) << inspected.err;
  EXPECT_FALSE(HasEscape(inspected.out + inspected.err));
  EXPECT_NE(inspected.out.find("\\x1b]52;c;ZXZpbA==\\x07"), std::string::npos) << inspected.out;
}

struct FaultCase {
  const char* name;
  std::function<void()> check;
};

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, TheUserKeepsTheirFilesAndIsToldWhy) {
  GetParam().check();
}

INSTANTIATE_TEST_SUITE_P(
    EveryCase, Faults,
    ::testing::Values(FaultCase{"FullDiskKeepsALinkedOutput", FullDiskKeepsALinkedOutput},
                      FaultCase{"FullDeviceSaysWhy", FullDeviceSaysWhy},
                      FaultCase{"EarlyCtrlCKeepsTheOldOutput", EarlyCtrlCKeepsTheOldOutput},
                      FaultCase{"AFifoInputWaitsForItsWriter", AFifoInputWaitsForItsWriter},
                      FaultCase{"StandardOutputGetsTheFileBytes", StandardOutputGetsTheFileBytes},
                      FaultCase{"AWritableFileInAReadOnlyFolder", AWritableFileInAReadOnlyFolder},
                      FaultCase{"EscapeSequencesAreShownEscaped", EscapeSequencesAreShownEscaped}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
}  // namespace velorna::test
