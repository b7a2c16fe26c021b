// Sound fixtures made at test time with sox, and sox's own decoding to compare against.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velorna::test {

// Writes a short two-tone sound (one tone per channel) in the format the extension names.
// Returns false when sox fails.
bool MakeSoxSound(const std::filesystem::path& path, int rate, int bits, int channels,
                  double seconds = 0.05);

// The file's samples as sox decodes them, 32-bit signed, interleaved.
std::vector<int32_t> SoxDecode32(const std::filesystem::path& path);

// The samples of a WAV file's data chunk as 16-bit values, read directly; empty when it has
// none.
std::vector<int16_t> WavSamples(const std::filesystem::path& path);

}  // namespace velorna::test
