#include "support/sound_files.h"

#include <cstdlib>
#include <cstring>

#include "support/smf_bytes.h"

namespace velorna::test {

bool MakeSoxSound(const std::filesystem::path& path, int rate, int bits, int channels,
                  double seconds) {
  // Distinct tones per channel so swapped channels would show; 0.9 keeps clear of clipping.
  std::string command = "sox -D -n -r " + std::to_string(rate) + " -b " + std::to_string(bits) +
                        " -c " + std::to_string(channels) + " '" + path.string() + "' synth " +
                        std::to_string(seconds) + " sine 440 sine 1250 vol 0.9 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

std::vector<int32_t> SoxDecode32(const std::filesystem::path& path) {
  const std::filesystem::path raw = path.string() + ".raw";
  const std::string command =
      "sox -D '" + path.string() + "' -t raw -e signed -b 32 -L '" + raw.string() + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  const auto bytes = ReadBytes(raw);
  std::vector<int32_t> samples(bytes.size() / 4);
  std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

std::vector<int16_t> WavSamples(const std::filesystem::path& path) {
  const Bytes b = ReadBytes(path);
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const size_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | size_t{b[at + 7]} << 24;
    if (std::memcmp(&b[at], "data", 4) == 0) {
      std::vector<int16_t> samples(std::min(size, b.size() - at - 8) / 2);
      std::memcpy(samples.data(), &b[at + 8], samples.size() * 2);
      return samples;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

}  // namespace velorna::test
