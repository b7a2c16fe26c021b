#include "audio/aiff_writer.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velorna
