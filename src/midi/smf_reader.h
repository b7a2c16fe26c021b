// Reading Standard MIDI Files (format 0 and 1, optional MacBinary header) and preparing
// them into the single-track song in note form that a conversion works on.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "midi/midi_types.h"

namespace velorna {

// Asked for a path containing '*': gets the pattern, returns the chosen file or nothing.
using FileOpenHook = std::function<std::optional<std::string>(const std::string& pattern)>;

[[nodiscard]] MidiLoader LoadSmf(MidiContext& ctx, const std::string& path,
                                 const FileOpenHook& hook = {});
[[nodiscard]] MidiLoader LoadSmfFromBytes(MidiContext& ctx, std::span<const uint8_t> bytes,
                                          const std::string& name = "<memory>");
void PrepareSong(MidiContext& ctx, MidiLoader& loader);

// Fills `track` from the chunk at `pos` of `image` and decodes it; returns the bytes the
// caller advances by.
[[nodiscard]] int64_t ReadTrackChunk(MidiContext& ctx, MidiTrack& track,
                                     std::span<const uint8_t> image, int64_t pos);
// A file's track chunks in events form, in file order, with the header's division: chunks of
// other types are skipped by their length. Nothing without an "MThd" header or a track.
struct SmfTracks {
  int32_t division = 0;
  std::vector<std::unique_ptr<MidiTrack>> tracks;
};
[[nodiscard]] std::optional<SmfTracks> ReadTrackChunks(MidiContext& ctx,
                                                       std::span<const uint8_t> file);

[[nodiscard]] std::unique_ptr<MidiFormat1Data> SplitByChannel(MidiContext& ctx,
                                                              const MidiFormat0Data& song);

}  // namespace velorna
