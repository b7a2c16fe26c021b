// When each event of a song reaches the synthesizer. Every engine times events with these
// functions, so renderings made by different engines line up sample for sample.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/limits.h"
#include "midi/midi_types.h"
#include "midi/song_time.h"

namespace velorna {

// The rate a rendering's samples are used at (the output's rate, on which the song's events
// are placed), and the rate its synthesizer is made at: lower by what the rendering's rate
// adds to every pitch (see RenderRateFor).
struct RenderRates {
  int output = kSampleRate;
  double synth = kSampleRate;
};

// One event as the synthesizer gets it.
struct TimedEvent {
  int64_t songSample = 0;  // floor(µs × rate / 1,000,000) of the event's time
  int64_t blockStart = 0;  // the first block boundary (grid from sample 0) at or after it
  // The complete message: status byte and data bytes, or F0 payload F7.
  std::vector<uint8_t> message;
  int32_t source = -1;  // the song position it comes from, where a plan knows it
};

int64_t SongSampleOfMicroseconds(int64_t microseconds, int sampleRate = kSampleRate);
int64_t BlockStartAtOrAfter(int64_t songSample);

// The message an event is sent as; empty for events that make no sound (meta, disabled,
// incomplete system-exclusive packets).
std::vector<uint8_t> SynthMessageOf(const MidiEvent& event);

// Timed events of tracks in events form, played together, on the sample grid of
// `sampleRate`; a single track keeps its order, several are interleaved by tick, earlier
// tracks first. Nothing for an untimed division.
std::optional<std::vector<TimedEvent>> TimeTrackEvents(std::span<const MidiTrack* const> tracks,
                                                       int32_t division,
                                                       int sampleRate = kSampleRate);
std::optional<std::vector<TimedEvent>> TimeTrackEvents(const MidiTrack& track, int32_t division,
                                                       int sampleRate = kSampleRate);

}  // namespace velorna
