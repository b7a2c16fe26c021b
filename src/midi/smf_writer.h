// Writing a song as a format-0 Standard MIDI File with one track.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

// Returns whether the file was written. The song ends in the state it began in, its
// track rebuilt from the written bytes.
[[nodiscard]] bool WriteSmf(MidiContext& ctx, MidiFormat0Data& song, const std::string& path);
// The same into memory.
[[nodiscard]] bool WriteSmfToMemory(MidiContext& ctx, MidiFormat0Data& song,
                                    std::vector<uint8_t>& out);
// GENE module: 1 on success, 0 (with GENE 0x01000007) on failure.
int WriteSmfFile(Reporter& reporter, const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
