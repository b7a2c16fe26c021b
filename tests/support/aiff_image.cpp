#include "support/aiff_image.h"

#include <algorithm>

#include "audio/byte_order.h"

namespace velorna {

std::optional<std::vector<uint8_t>> BuildAiffImage(const Rendering& rendering,
                                                   uint32_t sampleRate) {
  const int64_t frames = std::max<int64_t>(rendering.endFrame(), 0);
  const uint64_t soundBytes = static_cast<uint64_t>(frames) * 4;
  if (soundBytes > kMaxAiffSoundBytes) return std::nullopt;

  std::vector<uint8_t> image(kAiffHeaderBytes + soundBytes, 0);
  const auto header = AiffHeader(frames, sampleRate);
  std::copy(header.begin(), header.end(), image.begin());
  uint8_t* sound = image.data() + kAiffHeaderBytes;
  const int64_t first = std::clamp<int64_t>(rendering.startFrame, 0, frames);
  for (int64_t i = 0; i < static_cast<int64_t>(rendering.samples.size()); ++i) {
    const int64_t at = first * 2 + i;
    if (at >= frames * 2) break;
    audio_bytes::PutBe16(sound + at * 2, static_cast<uint16_t>(rendering.samples[i]));
  }
  return image;
}

}  // namespace velorna
