#include "audio/aiff_writer.h"
#include "support/aiff_image.h"

#include <gtest/gtest.h>

#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna {
namespace {

TEST(AiffWriter, CommFirstThenSsndCoveringTheSongFromFrameZero) {
  Rendering r;
  r.startFrame = 2;
  r.samples = {1, -2, 3, -4};
  const auto image = BuildAiffImage(r);
  ASSERT_TRUE(image.has_value());
  const std::vector<uint8_t> expected = {
      'F',  'O',  'R',  'M',  0,    0,    0,    62,  'A', 'I', 'F', 'F',  // 54 + 16 - 8
      'C',  'O',  'M',  'M',  0,    0,    0,    18,  0,   2,   0,   0,
      0,    4,    0,    16,                                   // 4 frames
      0x40, 0x0E, 0xAC, 0x44, 0,    0,    0,    0,   0,   0,  // 44100 Hz
      'S',  'S',  'N',  'D',  0,    0,    0,    24,  0,   0,   0,   0,
      0,    0,    0,    0,                              // offset, block
      0,    0,    0,    0,    0,    0,    0,    0,      // frames 0, 1
      0x00, 0x01, 0xFF, 0xFE, 0x00, 0x03, 0xFF, 0xFC};  // big-endian
  EXPECT_EQ(*image, expected);
}

TEST(AiffWriter, SoundTooLongForTheFormatIsRefused) {
  Rendering r;
  r.startFrame = int64_t{1} << 30;  // 4 GiB of 16-bit stereo
  EXPECT_FALSE(BuildAiffImage(r).has_value());
}

// Written block by block, with gaps and across the writer's buffer, the file is the image
// of the whole rendering; a sound the format cannot hold leaves no file.
TEST(AiffWriter, StreamedFileIsTheWholeImage) {
  test::TempDir dir;
  const auto path = (dir / "s.aiff").string();
  AiffStreamWriter writer(path, 48000);
  Rendering whole;
  whole.startFrame = 3;
  std::vector<int16_t> block(256);
  for (int64_t b = 0, frame = 3; b < 600; ++b, frame += 128) {
    if (b % 50 == 49) frame += 1000;
    for (size_t i = 0; i < block.size(); ++i)
      block[i] = static_cast<int16_t>((b * 256 + static_cast<int64_t>(i)) * 7919 % 65536);
    ASSERT_TRUE(writer.Append(frame, block));
    whole.samples.resize(static_cast<size_t>(frame - whole.startFrame) * 2, 0);
    whole.samples.insert(whole.samples.end(), block.begin(), block.end());
  }
  ASSERT_TRUE(writer.Close());
  EXPECT_EQ(test::ReadBytes(path), *BuildAiffImage(whole, 48000));

  AiffStreamWriter tooLong((dir / "l.aiff").string());
  EXPECT_FALSE(tooLong.Append(int64_t{1} << 30, block));
  EXPECT_FALSE(tooLong.Close());
  EXPECT_FALSE(std::filesystem::exists(dir / "l.aiff"));
}

}  // namespace
}  // namespace velorna
