#include "conversion/scale_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::vector<uint8_t> Int32Le(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}

TEST(ScaleFile, InitialSettingsGiveTheDocumentedBytes) {
  const auto bytes = EncodeScaleFile(ScaleSettings{kPureIntervalCents, 7});
  std::vector<uint8_t> expected;
  for (int c : {0, 12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12}) {
    const auto le = Int32Le(c);
    expected.insert(expected.end(), le.begin(), le.end());
  }
  expected.insert(expected.end(), 12, 1);
  const auto key = Int32Le(7);
  expected.insert(expected.end(), key.begin(), key.end());
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.end()), expected);
}

TEST(ScaleFile, DecodeClampsOffsetsAndDropsUnknownKeys) {
  ScaleSettings wild{{-101, 100, -100, 101, 1000000, -2147483647 - 1, 0, 0, 0, 0, 0, 0}, 7};
  auto bytes = EncodeScaleFile(wild);
  auto decoded = DecodeScaleFile(bytes.data(), bytes.size());
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->cents, (CentTable{-100, 100, -100, 100, 100, -100, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(decoded->keyIndex, 7);

  for (int32_t key : {-1, 0, 14}) {
    bytes = EncodeScaleFile(ScaleSettings{{}, key});
    EXPECT_EQ(DecodeScaleFile(bytes.data(), bytes.size())->keyIndex, key);
  }
  for (int32_t key : {-2, 15, 0x01000007}) {
    bytes = EncodeScaleFile(ScaleSettings{{}, key});
    EXPECT_EQ(DecodeScaleFile(bytes.data(), bytes.size())->keyIndex, -1) << key;
  }
  EXPECT_FALSE(DecodeScaleFile(bytes.data(), kScaleFileBytes - 1));
}

TEST(ScaleFile, SaveReplacesAnExistingFileWhole) {
  test::TempDir dir;
  const auto path = dir / "tuning.sca";
  WriteBytes(path, std::vector<uint8_t>(500, 0xAB));
  ScaleSettings s{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, -100}, -1};
  ASSERT_TRUE(SaveScaleFile(path.string(), s));
  const auto bytes = ReadBytes(path);
  const auto expected = EncodeScaleFile(s);
  EXPECT_EQ(bytes, std::vector<uint8_t>(expected.begin(), expected.end()));
  // Nothing but the target is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  ScaleLoadError error = ScaleLoadError::kTooShort;
  const auto loaded = LoadScaleFile(path.string(), &error);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(error, ScaleLoadError::kNone);
  EXPECT_EQ(loaded->cents, s.cents);
  EXPECT_EQ(loaded->keyIndex, -1);
}

TEST(ScaleFile, FailedSaveLeavesTheOldFile) {
  test::TempDir dir;
  // A folder in the way of the target: the rename cannot replace it.
  const auto blocked = dir / "blocked.sca";
  std::filesystem::create_directory(blocked);
  std::filesystem::create_directory(blocked / "inside");
  EXPECT_FALSE(SaveScaleFile(blocked.string(), ScaleSettings{}));
  EXPECT_TRUE(std::filesystem::is_directory(blocked));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  EXPECT_FALSE(SaveScaleFile((dir / "missing" / "x.sca").string(), ScaleSettings{}));
}

TEST(ScaleFile, LoadTellsShortFilesFromMissingOnes) {
  test::TempDir dir;
  ScaleLoadError error = ScaleLoadError::kNone;
  EXPECT_FALSE(LoadScaleFile((dir / "none.sca").string(), &error));
  EXPECT_EQ(error, ScaleLoadError::kCannotOpen);
  EXPECT_FALSE(LoadScaleFile(dir.path().string(), &error));
  EXPECT_EQ(error, ScaleLoadError::kCannotOpen);

  const auto full = EncodeScaleFile(ScaleSettings{});
  WriteBytes(dir / "short.sca", std::vector<uint8_t>(full.begin(), full.end() - 1));
  EXPECT_FALSE(LoadScaleFile((dir / "short.sca").string(), &error));
  EXPECT_EQ(error, ScaleLoadError::kTooShort);

  // Bytes past the 64th are ignored.
  std::vector<uint8_t> longer(full.begin(), full.end());
  longer.resize(100, 0x7F);
  WriteBytes(dir / "long.sca", longer);
  const auto loaded = LoadScaleFile((dir / "long.sca").string(), &error);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->cents, CentTable{});
}

}  // namespace
}  // namespace velorna
