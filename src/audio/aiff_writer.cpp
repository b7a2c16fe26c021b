#include "audio/aiff_writer.h"

#include <algorithm>
#include <cstring>

#include "base/file_io.h"

namespace velorna {
namespace {

constexpr uint32_t kCommSize = 18;
constexpr uint32_t kHeaderBytes = 12 + 8 + kCommSize + 16;  // FORM, COMM, SSND headers

void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

}  // namespace

std::optional<std::vector<uint8_t>> BuildAiffImage(const Rendering& rendering) {
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
  // 44100 as an 80-bit extended number: exponent 0x400E, mantissa AC 44 00 ...
  const uint8_t rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  std::memcpy(p + 28, rate, sizeof rate);

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

bool WriteAiffFile(const std::string& path, const Rendering& rendering) {
  const auto image = BuildAiffImage(rendering);
  return image && WriteFileAtomically(path, *image);
}

}  // namespace velorna
