// Writes a rendering as the AIFF file the conversion reads back: FORM holding COMM first and
// SSND right after it, 16-bit stereo at the rendering's rate, covering the song from frame 0.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/synth_renderer.h"
#include "base/limits.h"

namespace velorna {

// Nothing when the sound is too long for the format's 32-bit sizes.
std::optional<std::vector<uint8_t>> BuildAiffImage(const Rendering& rendering,
                                                   uint32_t sampleRate = kSampleRate);
bool WriteAiffFile(const std::string& path, const Rendering& rendering,
                   uint32_t sampleRate = kSampleRate);

}  // namespace velorna
