// Writes a rendering as the AIFF file the conversion reads back: FORM holding COMM first and
// SSND right after it, 16-bit stereo at the rendering's rate, covering the song from frame 0.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/synth_renderer.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {

inline constexpr uint32_t kAiffHeaderBytes = 12 + 8 + 18 + 16;  // FORM, COMM, SSND headers
// Sound bytes the format's 32-bit sizes can hold.
inline constexpr uint64_t kMaxAiffSoundBytes = 0xFFFFFFFFull - kAiffHeaderBytes;
// FORM, COMM and the SSND header for `frames` 16-bit stereo frames.
std::array<uint8_t, kAiffHeaderBytes> AiffHeader(int64_t frames, uint32_t sampleRate);

// The file written as the rendering arrives (a RenderSink's blocks), so that its
// memory is one buffer whatever its length; the header's sizes are written by Close().
class AiffStreamWriter {
 public:
  AiffStreamWriter(const std::string& path, uint32_t sampleRate = kSampleRate);

  // Blocks in song order; a gap is written as zeros. False once anything failed or the
  // sound outgrew the format.
  bool Append(int64_t frame, std::span<const int16_t> block);
  // Writes the sizes and puts the file in place. False when any step failed.
  bool Close();

 private:
  bool Put(std::span<const uint8_t> bytes);
  bool Flush();

  AtomicFile file_;
  uint32_t sampleRate_;
  int64_t frames_ = 0;  // written so far, from song frame 0
  bool ok_ = true;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> converted_;  // one block, big-endian
};

}  // namespace velorna
