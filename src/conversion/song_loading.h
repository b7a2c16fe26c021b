// Loading the user's song and preparing it for a conversion.
#pragma once

#include <memory>
#include <string>

#include "midi/midi_types.h"
#include "midi/smf_reader.h"

namespace velorna {

// Loads and prepares the song; `seconds` is its playing time truncated, plus one, and
// `playing`, when given, the playing time itself. False when the file was not loaded (the
// reader has said why).
bool LoadAndPrepareSong(MidiContext& ctx, const std::string& path, const FileOpenHook& hook,
                        std::unique_ptr<MidiFormat0Data>& song, int& seconds,
                        double* playing = nullptr);

}  // namespace velorna
