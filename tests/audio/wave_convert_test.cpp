#include <gtest/gtest.h>

#include <cstring>

#include "audio/wave_data.h"

namespace velorna {
namespace {

CWaveData Stereo16(int rate, const std::vector<int16_t>& interleaved) {
  CWaveData w;
  w.formatTag = 1;
  w.channels = 2;
  w.sampleRate = static_cast<uint32_t>(rate);
  w.byteRate = static_cast<uint32_t>(rate * 4);
  w.blockAlign = 4;
  w.bitsPerSample = 16;
  w.samples.resize(interleaved.size() * 2);
  std::memcpy(w.samples.data(), interleaved.data(), w.samples.size());
  return w;
}

std::vector<int16_t> Samples(const CWaveData& w) {
  std::vector<int16_t> out(w.samples.size() / 2);
  std::memcpy(out.data(), w.samples.data(), out.size() * 2);
  return out;
}

TEST(SampleConversion, DepthsTruncateAndRebias) {
  CWaveData w;
  w.channels = 1;
  w.bitsPerSample = 24;
  w.byteRate = 3 * 44100;
  w.blockAlign = 3;
  w.samples = {0x12, 0x34, 0x56, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0xAA};  // trailing partial
  Convert24BitTo16Bit(w);
  EXPECT_EQ(Samples(w), (std::vector<int16_t>{0x5634, -1, -32768}));
  EXPECT_EQ(w.bitsPerSample, 16);
  EXPECT_EQ(w.blockAlign, 2);
  EXPECT_EQ(w.byteRate, 2u * 44100);

  w.bitsPerSample = 8;
  w.samples = {0, 128, 255};
  Convert8BitTo16Bit(w);
  EXPECT_EQ(Samples(w), (std::vector<int16_t>{-32768, 0, 32512}));
}

TEST(SampleConversion, MonoToStereoRepeatsWholeSamples) {
  CWaveData w;
  w.channels = 1;
  w.bitsPerSample = 8;
  w.blockAlign = 1;
  w.byteRate = 22050;
  w.samples = {1, 2};
  ConvertMonoToStereo(w);
  EXPECT_EQ(w.samples, (std::vector<uint8_t>{1, 1, 2, 2}));
  EXPECT_EQ(w.channels, 2);
  EXPECT_EQ(w.blockAlign, 2);
  EXPECT_EQ(w.byteRate, 44100u);

  // 24-bit mono doubled in 3-byte steps, then cut: depth and channels in either order agree.
  CWaveData a;
  a.channels = 1;
  a.bitsPerSample = 24;
  a.samples = {0x12, 0x34, 0x56, 0x00, 0xCD, 0xAB};
  CWaveData b = a;
  ConvertMonoToStereo(a);
  Convert24BitTo16Bit(a);
  Convert24BitTo16Bit(b);
  ConvertMonoToStereo(b);
  const std::vector<int16_t> expected{0x5634, 0x5634, -0x5433, -0x5433};
  EXPECT_EQ(Samples(a), expected);
  EXPECT_EQ(Samples(b), expected);
}

TEST(ResampleWave, SameRateChangesNothing) {
  CWaveData w = Stereo16(44100, {1, 2, 3, 4});
  const CWaveData before = w;
  EXPECT_TRUE(ResampleWave(w, 44100));
  EXPECT_EQ(w.samples, before.samples);
  EXPECT_EQ(w.byteRate, before.byteRate);
}

TEST(ResampleWave, UpsamplingInterpolatesAndLeavesTheTailSilent) {
  CWaveData w = Stereo16(22050, {0, 100, 1000, -100, 2001, 300, -5, 7});
  ASSERT_TRUE(ResampleWave(w, 44100));
  EXPECT_EQ(w.samples.size(), 32u);
  EXPECT_EQ(w.sampleRate, 44100u);
  EXPECT_EQ(w.byteRate, 176400u);
  // Halfway steps truncate toward zero: 2001 + (-5 - 2001) / 2 = 998, 300 + (7 - 300) / 2 = 154.
  EXPECT_EQ(Samples(w), (std::vector<int16_t>{0, 100, 500, 0, 1000, -100, 1500, 100, 2001, 300, 998,
                                              154, 0, 0, 0, 0}));
}

TEST(ResampleWave, DownsamplingLengthAndZeroedRemainder) {
  std::vector<int16_t> ramp;
  for (int i = 0; i < 1200; ++i) {
    ramp.push_back(static_cast<int16_t>(i * 10));
    ramp.push_back(static_cast<int16_t>(-i * 10));
  }
  CWaveData w = Stereo16(48000, ramp);
  ASSERT_EQ(w.samples.size(), 4800u);
  ASSERT_TRUE(ResampleWave(w, 44100));
  ASSERT_EQ(w.samples.size(), 4410u);  // 1102 frames and 2 uncovered bytes
  EXPECT_EQ(w.samples[4408], 0);
  EXPECT_EQ(w.samples[4409], 0);
  const auto out = Samples(w);
  // Frame 100 maps to source 108.843...: 1088.43 truncates to 1088.
  EXPECT_EQ(out[200], 1088);
  EXPECT_EQ(out[201], -1088);
}

TEST(ResampleWave, RefusesRateZero) {
  CWaveData w = Stereo16(0, {1, 2, 3, 4});
  EXPECT_FALSE(ResampleWave(w, 44100));
  EXPECT_EQ(w.samples.size(), 8u);
  w.sampleRate = 44100;
  EXPECT_FALSE(ResampleWave(w, 0));
}

}  // namespace
}  // namespace velorna
