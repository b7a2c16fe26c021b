#include "base/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

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

struct FileIoTest : ::testing::Test {
  test::TempDir dir;
  RecordingReporter rec;
};

TEST_F(FileIoTest, AllocationIsZeroFilled) {
  const auto buffer = GeneAlloc(rec, 4096);
  ASSERT_EQ(buffer.size(), 4096u);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(FileIoTest, FailedAllocationReportsAndGivesNothing) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer stops on impossible allocations";
#endif
  const auto buffer = GeneAlloc(rec, static_cast<size_t>(-1) / 2);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{"GENE01000002 メモリが不足しています。"}));
}

TEST_F(FileIoTest, ReadToBufferStopsAtCapacity) {
  const fs::path path = dir / "曲.mid";  // UTF-8 name
  WriteBytes(path, "MThd0123456789");
  std::vector<uint8_t> buffer(4);
  EXPECT_EQ(ReadFileToBuffer(rec, path.string(), buffer), 4);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), "MThd");
  std::vector<uint8_t> big(100);
  EXPECT_EQ(ReadFileToBuffer(rec, path.string(), big), 14);
  EXPECT_TRUE(rec.texts().empty());
}

TEST_F(FileIoTest, ReadToBufferShowsThePathThenTheOpenFailure) {
  const std::string missing = (dir / "missing.mid").string();
  std::vector<uint8_t> buffer(8);
  EXPECT_EQ(ReadFileToBuffer(rec, missing, buffer), 0);
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{missing, kOpenFailed}));
  rec.Clear();
  EXPECT_EQ(ReadFileToBuffer(rec, dir.path().string(), buffer), 0);  // a folder
  EXPECT_EQ(rec.texts().size(), 2u);
}

TEST_F(FileIoTest, LongPathsWork) {
  fs::path path = dir.path();
  for (int k = 0; k < 6; ++k) path /= std::string(60, static_cast<char>('a' + k));
  fs::create_directories(path);
  path /= "song.mid";
  ASSERT_GT(path.string().size(), 300u);
  WriteBytes(path, "abc");
  EXPECT_EQ(QueryFileSize(rec, path.string()), 3);
  std::vector<uint8_t> buffer(3);
  EXPECT_TRUE(ReadFileExact(rec, path.string(), buffer));
  EXPECT_TRUE(rec.texts().empty());
}

TEST_F(FileIoTest, ExactReadOfShortFileWarnsButSucceeds) {
  const fs::path path = dir / "short.bin";
  WriteBytes(path, "12345");
  std::vector<uint8_t> buffer(5);
  EXPECT_TRUE(ReadFileExact(rec, path.string(), buffer));
  EXPECT_TRUE(rec.texts().empty());
  std::vector<uint8_t> more(8);
  EXPECT_TRUE(ReadFileExact(rec, path.string(), more));
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{"GENE0100000A データが大きすぎます。"}));
  rec.Clear();
  EXPECT_FALSE(ReadFileExact(rec, (dir / "none").string(), more));
  EXPECT_EQ(rec.texts(), (std::vector<std::string>{kOpenFailed}));
}

TEST_F(FileIoTest, SizeOfFilesFoldersAndMissingNames) {
  WriteBytes(dir / "seven.bin", "1234567");
  EXPECT_EQ(QueryFileSize(rec, (dir / "seven.bin").string()), 7);
  EXPECT_EQ(QueryFileSize(rec, dir.path().string()), 0);
  EXPECT_EQ(QueryFileSize(rec, (dir / "none").string()), 0);
  EXPECT_TRUE(rec.texts().empty());
}

TEST_F(FileIoTest, SizeOfFourGibibytesAndMoreWarnsAndStaysWhole) {
  const fs::path path = dir / "huge.bin";
  WriteBytes(path, "");
  std::error_code ec;
  fs::resize_file(path, 0x100000000ull + 100, ec);  // sparse: costs no disk space
  if (ec) GTEST_SKIP() << "no sparse files here";
  EXPECT_EQ(QueryFileSize(rec, path.string()), 0x100000000ll + 100);
  EXPECT_EQ(rec.texts(),
            (std::vector<std::string>{"GENE0100000D ファイルサイズにエラーがあります。"}));
}

TEST_F(FileIoTest, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
  const fs::path path = dir / "out.wav";
  WriteBytes(path, "old contents");
  const std::vector<uint8_t> bytes{'n', 'e', 'w'};
  ASSERT_TRUE(WriteFileAtomically(path.string(), bytes));
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

TEST_F(FileIoTest, FailedAtomicWriteLeavesTheTargetAlone) {
  EXPECT_FALSE(
      WriteFileAtomically((dir / "no" / "such" / "folder.wav").string(), std::vector<uint8_t>{1}));
  // The target is a folder: the rename fails and the temporary file goes away.
  const fs::path folder = dir / "taken";
  fs::create_directory(folder);
  WriteBytes(folder / "inside", "x");
  EXPECT_FALSE(WriteFileAtomically(folder.string(), std::vector<uint8_t>{1, 2}));
  EXPECT_TRUE(fs::is_directory(folder));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

TEST_F(FileIoTest, AtomicFileWrittenInBlocksAppearsOnlyOnCommit) {
  const fs::path path = dir / "mix.wav";
  WriteBytes(path, "old");
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
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);
}

TEST_F(FileIoTest, AbandonedAtomicFileLeavesTheOldFileAndNoTemporary) {
  const fs::path path = dir / "mix.wav";
  WriteBytes(path, "old");
  {
    AtomicFile file(path.string());
    ASSERT_TRUE(file.Write(std::vector<uint8_t>(100000, 7)));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 2);
  }
  EXPECT_EQ(ReadAll(path), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator{}), 1);

  AtomicFile nowhere((dir / "no" / "such.wav").string());
  EXPECT_FALSE(nowhere.Write(std::vector<uint8_t>{1}));
  EXPECT_FALSE(nowhere.Commit());
}

}  // namespace
}  // namespace velorna
