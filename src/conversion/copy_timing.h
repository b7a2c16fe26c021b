// The events a copy's rendering gets, without writing the copy to a file: the file-based
// road writes each copy and reads it back, and the writer settles the order of the events
// within a tick, so the same order is settled here.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "audio/mix_accumulator.h"
#include "audio/render_synth.h"
#include "audio/render_timing.h"
#include "base/limits.h"
#include "midi/midi_types.h"

namespace velorna {

// A rendering rings on at most the renderer's tail limit after its last message, while the
// single pass lets a voice ring until the ending cap. A copy therefore holds its tail open:
// a message that changes no sound (TailHolder) as its last, this long after where its own
// sound could end, and it keeps the events up to the ending cap after that point.
inline constexpr int64_t kTailHoldMicros =
    std::max<int64_t>(kEndingCapSeconds - kTailLimitSeconds, 0) * kMicrosecondsPerSecond;
inline constexpr int64_t kEndingCapMicros = kEndingCapSeconds * kMicrosecondsPerSecond;
// Renderings time only what reaches the synthesizer: an RPN deselect, with no data entry
// after it, is heard and changes nothing.
MidiEvent TailHolder(int channel);

// Timed events of a copy in note form, in the order its written file holds them, on the
// sample grid of `sampleRate`. The copy is left in events form. Nothing when the copy is not
// in note form, has no time, or could not be written (no End of Track).
std::optional<std::vector<TimedEvent>> TimeCopyAsWritten(MidiContext& ctx, MidiFormat0Data& copy,
                                                         int sampleRate = kSampleRate);

// Drops the channel-pressure and pitch-bend messages that a later one of the same channel
// replaces before the first note-on. No voice sounds before it, so such a message only sets
// a value the later one overwrites: the rendering stays the same to the bit, and a note
// late in a song with thousands of such messages is not slowed by each of them.
void DropReplacedSetUp(std::vector<TimedEvent>& events);

}  // namespace velorna
