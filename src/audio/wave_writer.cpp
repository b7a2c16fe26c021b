#include <cstring>
#include <new>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
#include "audio/wave_data.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {

using audio_bytes::PutLe16;
using audio_bytes::PutLe32;

std::array<uint8_t, kWaveHeaderBytes> MakeWaveHeader(const CWaveData& format,
                                                     uint64_t sampleBytes) {
  std::array<uint8_t, kWaveHeaderBytes> h{};
  const auto bytes = static_cast<uint32_t>(sampleBytes);
  std::memcpy(&h[0], "RIFF", 4);
  PutLe32(&h[4], bytes + 36);
  std::memcpy(&h[8], "WAVE", 4);
  std::memcpy(&h[12], "fmt ", 4);
  PutLe32(&h[16], 16);
  PutLe16(&h[20], format.formatTag);
  PutLe16(&h[22], format.channels);
  PutLe32(&h[24], format.sampleRate);
  PutLe32(&h[28], format.byteRate);
  PutLe16(&h[32], format.blockAlign);
  PutLe16(&h[34], format.bitsPerSample);
  std::memcpy(&h[36], "data", 4);
  PutLe32(&h[40], bytes);
  return h;
}

bool WriteWaveFile(Reporter& reporter, const std::string& path, const CWaveData& wave) {
  if (SampleBytes(wave) > kMaxWavDataBytes) {
    reporter.ShowText(audio_msg::kTooLarge);
    return false;
  }
  std::vector<uint8_t> image;
  try {
    image.resize(kWaveHeaderBytes + wave.samples.size());
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return false;
  }
  const auto header = MakeWaveHeader(wave, SampleBytes(wave));
  std::memcpy(image.data(), header.data(), header.size());
  if (!wave.samples.empty()) {
    std::memcpy(image.data() + kWaveHeaderBytes, wave.samples.data(), wave.samples.size());
  }
  if (!WriteFileAtomically(path, image)) {
    reporter.ShowText(audio_msg::kCannotOpen);
    return false;
  }
  return true;
}

}  // namespace velorna
