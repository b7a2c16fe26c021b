// A whole rendering as the AIFF file image the conversion once read back: what the AIFF
// tests compare the streamed writer with.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "audio/aiff_writer.h"

namespace velorna {

// Nothing when the sound is too long for the format's 32-bit sizes.
std::optional<std::vector<uint8_t>> BuildAiffImage(const Rendering& rendering,
                                                   uint32_t sampleRate = kSampleRate);

}  // namespace velorna
