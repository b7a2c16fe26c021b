#include <algorithm>
#include <cmath>
#include <limits>

#include "audio/byte_order.h"
#include "audio/wave_data.h"
#include "base/limits.h"

namespace velorna {

using audio_bytes::Le16;
using audio_bytes::PutLe16;

namespace {

size_t BytesPerSample(const CWaveData& wave) {
  switch (wave.bitsPerSample) {
    case 8:
      return 1;
    case 24:
      return 3;
    default:
      return 2;
  }
}

}  // namespace

void ConvertMonoToStereo(CWaveData& wave) {
  // 24-bit data is repeated in 3-byte steps: repeating 16-bit words would scramble it.
  const size_t width = BytesPerSample(wave);
  const size_t count = wave.samples.size() / width;
  std::vector<uint8_t> out(count * width * 2);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* src = &wave.samples[i * width];
    std::copy(src, src + width, &out[i * width * 2]);
    std::copy(src, src + width, &out[i * width * 2 + width]);
  }
  wave.samples = std::move(out);
  wave.byteRate *= 2;
  wave.blockAlign = static_cast<uint16_t>(wave.blockAlign * 2);
  wave.channels = 2;
}

void Convert8BitTo16Bit(CWaveData& wave) {
  std::vector<uint8_t> out(wave.samples.size() * 2);
  for (size_t i = 0; i < wave.samples.size(); ++i) {
    PutLe16(&out[i * 2], static_cast<uint16_t>(wave.samples[i] * 256 - 32768));
  }
  wave.samples = std::move(out);
  wave.byteRate *= 2;
  wave.blockAlign = static_cast<uint16_t>(wave.blockAlign * 2);
  wave.bitsPerSample = 16;
}

void Convert24BitTo16Bit(CWaveData& wave) {
  // The buffer holds whole samples only; a trailing partial sample is dropped.
  const size_t count = wave.samples.size() / 3;
  std::vector<uint8_t> out(count * 2);
  for (size_t i = 0; i < count; ++i) {
    out[i * 2] = wave.samples[i * 3 + 1];
    out[i * 2 + 1] = wave.samples[i * 3 + 2];
  }
  wave.samples = std::move(out);
  wave.byteRate = static_cast<uint32_t>(uint64_t{wave.byteRate} * 2 / 3);
  wave.blockAlign = static_cast<uint16_t>(wave.blockAlign * 2 / 3);
  wave.bitsPerSample = 16;
}

bool ResampleWave(CWaveData& wave, uint32_t newRate) {
  if (newRate == wave.sampleRate) return true;
  if (newRate == 0 || wave.sampleRate == 0) return false;
  const double ratio = static_cast<double>(newRate) / wave.sampleRate;
  const double scaled = ratio * static_cast<double>(wave.samples.size());
  if (scaled > static_cast<double>(kMaxWavDataBytes)) return false;
  uint64_t newBytes = static_cast<uint64_t>(scaled);
  newBytes -= newBytes & 1u;

  const uint64_t sourceFrames = wave.samples.size() / 4;
  const uint64_t outFrames = newBytes / 4;
  const uint8_t* src = wave.samples.data();
  std::vector<uint8_t> out(newBytes);  // uncovered bytes stay 0
  for (uint64_t i = 0; i < outFrames; ++i) {
    const double t = static_cast<double>(i) / ratio;
    const auto k = static_cast<uint64_t>(std::floor(t));
    if (k + 1 >= sourceFrames) continue;  // maps onto the last source frame: silence
    const double frac = t - static_cast<double>(k);
    for (int ch = 0; ch < 2; ++ch) {
      const int s0 = static_cast<int16_t>(Le16(src + k * 4 + ch * 2));
      const int s1 = static_cast<int16_t>(Le16(src + (k + 1) * 4 + ch * 2));
      const int value = s0 + static_cast<int>(std::trunc((s1 - s0) * frac));
      PutLe16(&out[i * 4 + ch * 2], static_cast<uint16_t>(value));
    }
  }
  wave.samples = std::move(out);
  wave.sampleRate = newRate;
  wave.byteRate = static_cast<uint32_t>(
      std::min(wave.byteRate * ratio, double{std::numeric_limits<uint32_t>::max()}));
  return true;
}

}  // namespace velorna
