// What a plan's rendering needs besides its events: how long its tail is held open, and
// which of its set-up messages no voice can hear.
#pragma once

#include <algorithm>
#include <cstdint>
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

// Drops the channel-pressure and pitch-bend messages that a later one of the same channel
// replaces before the first note-on. No voice sounds before it, so such a message only sets
// a value the later one overwrites: the rendering stays the same to the bit, and a note
// late in a song with thousands of such messages is not slowed by each of them.
void DropReplacedSetUp(std::vector<TimedEvent>& events);

}  // namespace velorna
