// What velorna-cli does to the files at its outputs and inputs: it never writes over an
// input, replaces an output as what it is (a file keeps its owner, mode and other names, a
// link leads to its target, a device or FIFO is written in place), refuses what the user may
// not write, and leaves nothing behind when it is ended by SIGTERM.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <set>
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
const Bytes kOld{'o', 'l', 'd'};
const std::string kCannotOpen = "ファイルが開けませんでした。";
constexpr uid_t kNobody = 65534;

ProcessResult Convert(const fs::path& input, const std::string& output,
                      const ProcessOptions& options = {}) {
  std::vector<std::string> args{CliPath(), "convert", "--quiet", "--soundfont", kSoundFont};
  if (!output.empty()) args.insert(args.end(), {"-o", output});
  args.push_back(input.string());
  return RunProcess(args, options);
}

std::set<std::string> Names(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

struct stat Stat(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

// A folder nobody may enter and write in, with the song readable by all.
struct SharedFolder {
  TempDir dir;
  fs::path song = dir / "song.mid";
  SharedFolder() {
    fs::permissions(dir.path(), fs::perms::all);
    WriteBytes(song, Melody(4));
    fs::permissions(song, fs::perms::owner_all | fs::perms::others_read);
  }
};

TEST(OutputSafety, AnOutputIsNeverAnInput) {
  SharedFolder f;
  fs::create_symlink(f.song, f.dir / "link.wav");
  fs::create_hard_link(f.song, f.dir / "hard.wav");
  WriteBytes(f.dir / "named.wav", Melody(4));  // a song whose default output is itself
  const auto refused = [&](const fs::path& input, const std::string& output) {
    const ProcessResult r = Convert(input, output);
    EXPECT_EQ(r.exitStatus, 2) << output;
    EXPECT_NE(r.err.find(output.empty() ? input.string() : output), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("would overwrite the input " + input.string()), std::string::npos)
        << r.err;
  };
  refused(f.song, f.song.string());
  refused(f.song, (f.dir / "link.wav").string());
  refused(f.song, (f.dir / "hard.wav").string());
  refused(f.dir / "named.wav", "");
  EXPECT_EQ(ReadBytes(f.song), Melody(4));
  EXPECT_EQ(ReadBytes(f.dir / "named.wav"), Melody(4));
  EXPECT_TRUE(fs::is_symlink(f.dir / "link.wav"));
}

TEST(OutputSafety, FilesLinksAndOwnersStayWhatTheyWere) {
  SharedFolder f;
  ASSERT_EQ(Convert(f.song, (f.dir / "fresh.wav").string()).exitStatus, 0);
  const Bytes wav = ReadBytes(f.dir / "fresh.wav");
  ASSERT_GT(wav.size(), 44u);

  // A symbolic link stays a link; the file it leads to gets the WAV.
  fs::create_directory(f.dir / "elsewhere");
  WriteBytes(f.dir / "elsewhere" / "target.wav", kOld);
  fs::create_symlink("elsewhere/target.wav", f.dir / "link.wav");
  EXPECT_EQ(Convert(f.song, (f.dir / "link.wav").string()).exitStatus, 0);
  EXPECT_TRUE(fs::is_symlink(f.dir / "link.wav"));
  EXPECT_EQ(ReadBytes(f.dir / "elsewhere" / "target.wav"), wav);

  // Two names of one file both see the new contents; another user's file keeps its owner
  // and its mode.
  WriteBytes(f.dir / "a.wav", kOld);
  fs::create_hard_link(f.dir / "a.wav", f.dir / "b.wav");
  WriteBytes(f.dir / "theirs.wav", kOld);
  ASSERT_EQ(::chown((f.dir / "theirs.wav").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(::chmod((f.dir / "theirs.wav").c_str(), 0640), 0);
  EXPECT_EQ(Convert(f.song, (f.dir / "a.wav").string()).exitStatus, 0);
  EXPECT_EQ(Convert(f.song, (f.dir / "theirs.wav").string()).exitStatus, 0);
  EXPECT_EQ(ReadBytes(f.dir / "b.wav"), wav);
  EXPECT_EQ(Stat(f.dir / "a.wav").st_ino, Stat(f.dir / "b.wav").st_ino);
  EXPECT_EQ(ReadBytes(f.dir / "theirs.wav"), wav);
  EXPECT_EQ(Stat(f.dir / "theirs.wav").st_uid, kNobody);
  EXPECT_EQ(Stat(f.dir / "theirs.wav").st_mode & 07777, 0640u);

  // As an ordinary user: a private file stays private; a read-only one is refused with the
  // reason, before any work, and keeps its contents.
  ProcessOptions asNobody;
  asNobody.unprivileged = true;
  for (const char* name : {"private.wav", "readonly.wav"}) {
    WriteBytes(f.dir / name, kOld);
    ASSERT_EQ(::chown((f.dir / name).c_str(), kNobody, kNobody), 0);
  }
  ::chmod((f.dir / "private.wav").c_str(), 0600);
  ::chmod((f.dir / "readonly.wav").c_str(), 0444);
  EXPECT_EQ(Convert(f.song, (f.dir / "private.wav").string(), asNobody).exitStatus, 0);
  EXPECT_EQ(ReadBytes(f.dir / "private.wav"), wav);
  EXPECT_EQ(Stat(f.dir / "private.wav").st_mode & 07777, 0600u);
  EXPECT_EQ(Stat(f.dir / "private.wav").st_uid, kNobody);
  const ProcessResult r = Convert(f.song, (f.dir / "readonly.wav").string(), asNobody);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_NE(r.err.find(kCannotOpen + "\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("readonly.wav: Permission denied"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(f.dir / "readonly.wav"), kOld);

  EXPECT_EQ(Names(f.dir.path()),
            (std::set<std::string>{"song.mid", "fresh.wav", "elsewhere", "link.wav", "a.wav",
                                   "b.wav", "theirs.wav", "private.wav", "readonly.wav"}));
}

TEST(OutputSafety, DevicesAndFifosAreWrittenInPlace) {
  if (geteuid() != 0) GTEST_SKIP() << "making device nodes takes root";
  SharedFolder f;
  ASSERT_EQ(Convert(f.song, (f.dir / "file.wav").string()).exitStatus, 0);
  const Bytes wav = ReadBytes(f.dir / "file.wav");

  // The null and the full device, made here: what they take is gone; a full one fails.
  ASSERT_EQ(::mknod((f.dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
  ASSERT_EQ(::mknod((f.dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
  EXPECT_EQ(Convert(f.song, (f.dir / "null").string()).exitStatus, 0);
  const ProcessResult full = Convert(f.song, (f.dir / "full").string());
  EXPECT_EQ(full.exitStatus, 1);
  EXPECT_NE(full.err.find(kCannotOpen), std::string::npos) << full.err;
  EXPECT_TRUE(S_ISCHR(Stat(f.dir / "null").st_mode));
  EXPECT_TRUE(S_ISCHR(Stat(f.dir / "full").st_mode));

  // A FIFO with a reader gets the whole WAV; without one the write fails at once.
  const fs::path fifo = f.dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  auto read = std::async(std::launch::async, [&] { return ReadBytes(fifo); });
  EXPECT_EQ(Convert(f.song, fifo.string()).exitStatus, 0);
  EXPECT_EQ(read.get(), wav);
  ProcessOptions shortWait;
  shortWait.timeout = std::chrono::seconds(60);
  EXPECT_EQ(Convert(f.song, fifo.string(), shortWait).exitStatus, 1);
  EXPECT_TRUE(S_ISFIFO(Stat(fifo).st_mode));
  EXPECT_EQ(Names(f.dir.path()),
            (std::set<std::string>{"song.mid", "file.wav", "null", "full", "fifo"}));
}

TEST(OutputSafety, ALongSongNameConvertsToItsDefaultOutput) {
  TempDir dir;
  // 250 bytes before ".mid", in two-byte characters: the longest names the folder takes.
  const std::string stem = std::string(240, 'a') + "ééééé";
  WriteBytes(dir / (stem + ".mid"), Melody(4));
  const ProcessResult r = Convert(dir / (stem + ".mid"), "");
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_GT(ReadBytes(dir / (stem + ".wav")).size(), 44u);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{stem + ".mid", stem + ".wav"}));
}

TEST(OutputSafety, SigtermLeavesTheOldOutputAndNoTemporaryFiles) {
  TempDir dir;
  ScopedTmpDir tmp;
  WriteBytes(dir / "long.mid", Melody(60));
  WriteBytes(dir / "long.wav", kOld);
  ProcessOptions terminate;
  terminate.interruptSignal = SIGTERM;
  terminate.interruptWhen = [](const std::string& err) {
    return err.find("10%") != std::string::npos;
  };
  const ProcessResult r = RunProcess({CliPath(), "convert", "--soundfont", kSoundFont, "--engine",
                                      "files", (dir / "long.mid").string()},
                                     terminate);
  EXPECT_EQ(r.exitStatus, 128 + SIGTERM) << r.err;
  EXPECT_NE(r.err.find("SIGTERM"), std::string::npos) << r.err;
  EXPECT_EQ(ReadBytes(dir / "long.wav"), kOld);
  EXPECT_EQ(Names(dir.path()), (std::set<std::string>{"long.mid", "long.wav"}));
  EXPECT_TRUE(fs::is_empty(tmp.path()));
}

TEST(InputSafety, PipesAreReadToTheirEndAndFifosNeverWait) {
  TempDir dir;
  WriteBytes(dir / "song.mid", Melody(4));
  const std::string song = (dir / "song.mid").string();
  // As `inspect <(cat song.mid)` passes it: a pipe, named by its descriptor.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const Bytes bytes = Melody(4);
  ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fds[1]);
  const ProcessResult piped =
      RunProcess({CliPath(), "inspect", "/dev/fd/" + std::to_string(fds[0])});
  ::close(fds[0]);
  const ProcessResult direct = RunProcess({CliPath(), "inspect", song});
  EXPECT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_EQ(piped.out, direct.out);

  // A FIFO nobody writes to reads as empty, as the input or as the scale file; a scale file
  // that cannot be used is a usage error for both commands.
  const fs::path fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  WriteBytes(dir / "short.sca", Bytes(10, 0));
  ProcessOptions shortWait;
  shortWait.timeout = std::chrono::seconds(60);
  EXPECT_EQ(Convert(fifo, (dir / "out.wav").string(), shortWait).exitStatus, 1);
  for (const char* command : {"convert", "inspect"}) {
    for (const fs::path& scale : {fifo, dir / "short.sca", dir / "none.sca"}) {
      std::vector<std::string> args{CliPath(), command, "--scale", scale.string(), song};
      if (std::string(command) == "convert")
        args.insert(args.begin() + 2, {"--soundfont", kSoundFont});
      const ProcessResult r = RunProcess(args, shortWait);
      EXPECT_EQ(r.exitStatus, 2) << command << " " << scale << "\n" << r.err;
      EXPECT_NE(r.err.find("scale file"), std::string::npos) << r.err;
    }
  }
  EXPECT_FALSE(fs::exists(dir / "out.wav"));
  EXPECT_FALSE(fs::exists(dir / "song.wav"));
}

}  // namespace
}  // namespace velorna::test
