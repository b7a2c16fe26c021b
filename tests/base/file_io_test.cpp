#include "base/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/run_files.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

namespace fs = std::filesystem;

const std::string kOpenFailed =
    "GENE01000007 ファイルが開けませんでした。ファイルリストを絶対パスで記述してみてください。\n"
    "あるいは、出力フォルダや作業フォルダの設定などを確認してください。";

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Count(const fs::path& dir) {
  return static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}));
}

struct FileIoTest : ::testing::Test {
  test::TempDir dir;
  RecordingReporter rec;
};

TEST_F(FileIoTest, AllocationGivesTheSizeOrReportsAndGivesNothing) {
  EXPECT_EQ(GeneAlloc(rec, 4096).size(), 4096u);
#if !defined(__SANITIZE_ADDRESS__)  // the address sanitizer stops on impossible allocations
  EXPECT_TRUE(GeneAlloc(rec, static_cast<size_t>(-1) / 2).empty());
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{"GENE01000002 メモリが不足しています。"}));
#endif
}

TEST_F(FileIoTest, ReadToBufferStopsAtCapacityOrShowsThePathThenTheOpenFailure) {
  const fs::path path = dir / "曲.mid";  // UTF-8 name
  WriteBytes(path, "MThd0123456789");
  std::vector<uint8_t> buffer(4);
  EXPECT_EQ(ReadFileToBuffer(rec, path.string(), buffer), 4);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "MThd");
  std::vector<uint8_t> big(100);
  EXPECT_EQ(ReadFileToBuffer(rec, path.string(), big), 14);
  EXPECT_TRUE(rec.texts().empty());

  const std::string missing = (dir / "missing.mid").string();
  EXPECT_EQ(ReadFileToBuffer(rec, missing, buffer), 0);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{missing, kOpenFailed}));
  rec.Clear();
  EXPECT_EQ(ReadFileToBuffer(rec, dir.path().string(), buffer), 0);  // a folder
  EXPECT_EQ(rec.texts().size(), 2u);
}

TEST_F(FileIoTest, WholeFilesAndPipesAreReadToTheirEndWithinTheLimit) {
  WriteBytes(dir / "five.bin", "12345");
  const auto read = [](const fs::path& path, size_t limit) {
    const FileContents c = ReadWholeFile(path.string(), limit);
    return std::make_pair(c.status, std::string(c.bytes.begin(), c.bytes.end()));
  };
  EXPECT_EQ(read(dir / "five.bin", 5), std::make_pair(ReadStatus::kOk, std::string("12345")));
  EXPECT_EQ(read(dir / "five.bin", 3), std::make_pair(ReadStatus::kTooLarge, std::string("123")));
  EXPECT_EQ(read(dir / "none", 5).first, ReadStatus::kCannotOpen);
  EXPECT_EQ(read(dir.path(), 5).first, ReadStatus::kCannotOpen);

  // A pipe, larger than one read and than the pipe's buffer, fed while it is read.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string big(300000, 'x');
  std::thread writer([&] {
    EXPECT_EQ(::write(fds[1], big.data(), big.size()), static_cast<ssize_t>(big.size()));
    ::close(fds[1]);
  });
  const fs::path piped = "/dev/fd/" + std::to_string(fds[0]);
  EXPECT_EQ(read(piped, big.size()), std::make_pair(ReadStatus::kOk, big));
  writer.join();
  ::close(fds[0]);

  // A FIFO nobody writes to reads as empty instead of waiting for a writer.
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(read(dir / "fifo", 5), std::make_pair(ReadStatus::kOk, std::string()));
}

// Sizes of files, folders, missing names, a path longer than 300 bytes, and a file of 4 GiB
// and more, which warns and stays whole.
TEST_F(FileIoTest, SizeOfFilesFoldersMissingAndLongNames) {
  fs::path longPath = dir.path();
  for (int k = 0; k < 6; ++k) longPath /= std::string(60, static_cast<char>('a' + k));
  fs::create_directories(longPath);
  longPath /= "song.mid";
  WriteBytes(longPath, "1234567");
  EXPECT_EQ(QueryFileSize(rec, longPath.string()), 7);
  EXPECT_EQ(ReadWholeFile(longPath.string(), 7).bytes.size(), 7u);
  EXPECT_EQ(QueryFileSize(rec, dir.path().string()), 0);
  EXPECT_EQ(QueryFileSize(rec, (dir / "none").string()), 0);
  EXPECT_TRUE(rec.texts().empty());

  const fs::path huge = dir / "huge.bin";
  WriteBytes(huge, "");
  std::error_code ec;
  fs::resize_file(huge, 0x100000000ull + 100, ec);  // sparse: costs no disk space
  if (ec) GTEST_SKIP() << "no sparse files here";
  EXPECT_EQ(QueryFileSize(rec, huge.string()), 0x100000000ll + 100);
  EXPECT_EQ(rec.texts(),
            (std::vector<std::string>{"GENE0100000D ファイルサイズにエラーがあります。"}));
}

TEST_F(FileIoTest, AtomicWriteReplacesWholeOrLeavesTheTargetAlone) {
  const fs::path path = dir / std::string(kMaxNameBytes, 'n');  // the longest name there is
  WriteBytes(path, "old contents");
  ASSERT_TRUE(WriteFileAtomically(path.string(), std::vector<uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_FALSE(
      WriteFileAtomically((dir / "no" / "such" / "folder.wav").string(), std::vector<uint8_t>{1}));
  // The target is a folder: the rename fails and the temporary file goes away.
  const fs::path folder = dir / "taken";
  fs::create_directory(folder);
  WriteBytes(folder / "inside", "x");
  EXPECT_FALSE(WriteFileAtomically(folder.string(), std::vector<uint8_t>{1, 2}));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(Count(dir.path()), 2u);
}

// Written in blocks, the new contents appear only on commit; abandoned, the old file stays
// and no temporary file is left.
TEST_F(FileIoTest, AtomicFileAppearsOnlyOnCommit) {
  const fs::path path = dir / "mix.wav";
  WriteBytes(path, "old");
  {
    AtomicFile abandoned(path.string());
    ASSERT_TRUE(abandoned.Write(std::vector<uint8_t>(100000, 7)));
    EXPECT_EQ(Count(dir.path()), 2u);
  }
  EXPECT_EQ(ReadAll(path), "old");
  EXPECT_EQ(Count(dir.path()), 1u);
  {
    AtomicFile file(path.string());
    ASSERT_TRUE(file.Write(std::vector<uint8_t>{'a', 'b'}));
    ASSERT_TRUE(file.Write(std::vector<uint8_t>{}));
    ASSERT_TRUE(file.Write(std::vector<uint8_t>{'c'}));
    EXPECT_EQ(ReadAll(path), "old");
    EXPECT_TRUE(file.Commit());
    EXPECT_FALSE(file.Write(std::vector<uint8_t>{'d'}));  // committed: no longer ours
  }
  EXPECT_EQ(ReadAll(path), "abc");
  EXPECT_EQ(Count(dir.path()), 1u);

  AtomicFile nowhere((dir / "no" / "such.wav").string());
  EXPECT_FALSE(nowhere.Write(std::vector<uint8_t>{1}));
  EXPECT_FALSE(nowhere.Commit());
}

// Names of every length in characters of one to four bytes, after serials of one to six
// digits (so that the room left for the name takes every remainder).
TEST(TemporaryNames, StayWithinTheNameLimitAndBetweenCharacters) {
  for (unsigned serial = 1; serial < 1000000; serial = serial * 10 + 1) {
    for (size_t length = 0; length <= kMaxNameBytes; length += 7) {
      for (const std::string unit : {"a", "é", "音", "𝄞"}) {
        std::string name;
        while (name.size() + unit.size() <= length) name += unit;
        const std::string temp = TemporaryNameFor(name, serial);
        EXPECT_LE(temp.size(), kMaxNameBytes);
        EXPECT_EQ(temp.rfind(".velorna-" + std::to_string(getpid()) + "-", 0), 0u) << temp;
        EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp");
        // Cut only between characters: the kept part of the name is whole units.
        const std::string after = "-" + std::to_string(serial) + "-";
        const size_t start = temp.rfind(after) + after.size();
        EXPECT_EQ((temp.size() - 4 - start) % unit.size(), 0u) << temp;
      }
    }
  }
}

// What a run leaves when it is killed: its hidden file beside the output and its folder of
// temporary files. The next run removes them, and never those of a run still at work.
TEST(TemporaryNames, LeftoversOfDeadRunsAreRemovedByTheNextRun) {
  test::TempDir dir;
  test::ScopedTmpDir tmp;
  const std::string out = (dir / "out.wav").string();
  const auto leaveAndDie = [&] {
    const pid_t pid = fork();
    if (pid == 0) {
      AtomicFile file(out);
      file.Write(std::vector<uint8_t>(1000, 1));
      const std::string folder = MakeRunFolder();
      WriteFileAtomically(folder + "/copy.mid", std::vector<uint8_t>{1});
      _exit(folder.empty() ? 1 : 0);  // as if killed: nothing cleaned up
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_EQ(status, 0);
  };
  leaveAndDie();
  leaveAndDie();  // which has removed what the first one left
  ASSERT_EQ(Count(dir.path()), 1u);
  ASSERT_EQ(Count(tmp.path()), 1u);

  AtomicFile working(out);  // this run's own, at work
  ASSERT_TRUE(working.Write(std::vector<uint8_t>{2}));
  EXPECT_EQ(Count(dir.path()), 1u);
  {
    const RunFolder folder;
    ASSERT_FALSE(folder.path().empty());
    EXPECT_EQ(Count(tmp.path()), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(folder.path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    WriteFileAtomically(folder.path() + "/copy.wav", std::vector<uint8_t>{3});
    RemoveDeadRunFiles(dir.path().string());
    EXPECT_EQ(Count(dir.path()), 1u);  // its own stays
  }
  EXPECT_TRUE(fs::is_empty(tmp.path()));
  EXPECT_TRUE(working.Commit());
  EXPECT_EQ(ReadAll(dir / "out.wav"), "\x02");
  EXPECT_EQ(Count(dir.path()), 1u);
}

}  // namespace
}  // namespace velorna
