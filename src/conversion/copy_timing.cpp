#include "conversion/copy_timing.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "midi/midi_constants.h"
#include "midi/song_edit.h"

namespace velorna {

MidiEvent TailHolder(int channel) {
  return MakeControlChange(channel, cc::kRpnMsb, rpn::kNull);
}

void DropReplacedSetUp(std::vector<TimedEvent>& events) {
  const auto isNoteOn = [](const TimedEvent& e) {
    return e.message.size() >= 3 && (e.message[0] & kStatusTypeMask) == st::kNoteOn &&
           e.message[2] != 0;
  };
  const auto firstNoteOn = std::find_if(events.begin(), events.end(), isNoteOn);
  // Walking back from the note-on, the first pressure or bend of a channel met is the one
  // that counts.
  std::array<bool, 2 * kMidiChannels> seen{};  // the channels' pressure, then their bend
  std::vector<bool> drop(events.size(), false);
  bool any = false;
  for (auto it = std::make_reverse_iterator(firstNoteOn); it != events.rend(); ++it) {
    if (it->message.empty()) continue;
    const uint32_t type = it->message[0] & kStatusTypeMask;
    if (type != st::kChannelPressure && type != st::kPitchBend) continue;
    const size_t slot =
        (type == st::kPitchBend ? kMidiChannels : 0) + (it->message[0] & kStatusChannelMask);
    if (seen[slot]) {
      drop[static_cast<size_t>(events.rend() - it - 1)] = true;
      any = true;
    }
    seen[slot] = true;
  }
  if (!any) return;
  size_t kept = 0;
  for (size_t k = 0; k < events.size(); ++k) {
    if (drop[k]) continue;
    if (kept != k) events[kept] = std::move(events[k]);
    ++kept;
  }
  events.resize(kept);
}

}  // namespace velorna
