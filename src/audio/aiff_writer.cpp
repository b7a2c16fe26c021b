#include "audio/aiff_writer.h"

#include <algorithm>
#include <cstring>

#include "audio/aiff_data.h"
#include "audio/byte_order.h"
#include "base/file_io.h"

namespace velorna {
namespace {

using audio_bytes::PutBe16;
using audio_bytes::PutBe32;

constexpr uint32_t kCommSize = 18;
constexpr uint32_t kHeaderBytes = 12 + 8 + kCommSize + 16;  // FORM, COMM, SSND headers

}  // namespace

std::optional<std::vector<uint8_t>> BuildAiffImage(const Rendering& rendering,
                                                   uint32_t sampleRate) {
  const int64_t frames = std::max<int64_t>(rendering.endFrame(), 0);
  const uint64_t soundBytes = static_cast<uint64_t>(frames) * 4;
  if (soundBytes > 0xFFFFFFFFull - kHeaderBytes) return std::nullopt;

  std::vector<uint8_t> image(kHeaderBytes + soundBytes, 0);
  uint8_t* p = image.data();
  std::memcpy(p, "FORM", 4);
  PutBe32(p + 4, static_cast<uint32_t>(image.size() - 8));
  std::memcpy(p + 8, "AIFF", 4);

  std::memcpy(p + 12, "COMM", 4);
  PutBe32(p + 16, kCommSize);
  PutBe16(p + 20, 2);
  PutBe32(p + 22, static_cast<uint32_t>(frames));
  PutBe16(p + 26, 16);
  const std::array<uint8_t, 10> rate = SampleRateToExtended(sampleRate);
  std::memcpy(p + 28, rate.data(), rate.size());

  std::memcpy(p + 38, "SSND", 4);
  PutBe32(p + 42, static_cast<uint32_t>(8 + soundBytes));
  // offset and block size stay 0
  uint8_t* sound = p + kHeaderBytes;
  const int64_t first = std::clamp<int64_t>(rendering.startFrame, 0, frames);
  for (int64_t i = 0; i < static_cast<int64_t>(rendering.samples.size()); ++i) {
    const int64_t at = first * 2 + i;
    if (at >= frames * 2) break;
    PutBe16(sound + at * 2, static_cast<uint16_t>(rendering.samples[i]));
  }
  return image;
}

bool WriteAiffFile(const std::string& path, const Rendering& rendering, uint32_t sampleRate) {
  const auto image = BuildAiffImage(rendering, sampleRate);
  return image && WriteFileAtomically(path, *image);
}

}  // namespace velorna
