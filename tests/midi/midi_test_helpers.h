// Decoding chunks built as bytes, and reading back what was reported.
#pragma once

#include <cstdint>
#include <vector>

#include "base/reporter.h"
#include "midi/midi_types.h"
#include "midi/track_decoder.h"
#include "support/smf_bytes.h"

namespace velorna::test {

// A reporter and the per-load context that goes with it.
struct Load {
  RecordingReporter reporter;
  MidiContext ctx{reporter};

  MidiTrack Decode(const Bytes& chunk) {
    MidiTrack track;
    DecodeTrackBytes(ctx, track, chunk);
    return track;
  }
  MidiTrack Decode(const TrackBytes& events) { return Decode(events.Chunk()); }

  std::vector<uint32_t> Codes() const {
    std::vector<uint32_t> codes;
    for (const Report& r : reporter.reports()) codes.push_back(r.code.value_or(0xFFFFFFFF));
    return codes;
  }
};

inline std::vector<uint8_t> DataOf(const MidiEvent& e) {
  return std::vector<uint8_t>(e.data.begin(), e.data.begin() + e.size);
}

inline std::vector<int64_t> Times(const MidiTrack& track) {
  std::vector<int64_t> times;
  int64_t t = 0;
  for (const MidiEvent& e : track.events) times.push_back(t += e.delta);
  return times;
}

}  // namespace velorna::test
