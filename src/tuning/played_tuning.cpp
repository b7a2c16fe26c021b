#include "tuning/played_tuning.h"

#include "midi/midi_constants.h"
#include "tuning/adaptive.h"
#include "tuning/song_tuning.h"

namespace velorna {

KeyTarget ChannelTarget(const std::vector<ChannelKeys>& channels, int channel, int key) {
  if (key < 0 || key >= kKeyCount) return std::nullopt;
  KeyTarget target;
  // The last one given for a channel counts, as options do.
  for (const ChannelKeys& c : channels) {
    if (c.channel == channel) target = c.keys[static_cast<size_t>(key)];
  }
  return target;
}

Tuning PlayedTuning(const Tuning& asked, const MidiFormat0Data& song, bool adaptive,
                    bool ignoreSongTuning) {
  Tuning played = adaptive ? AdaptiveTuning(song, asked.keys) : asked;
  played.channels.clear();
  if (!asked.channels.empty() && song.track) {
    // Every note's entry is its target once `notes` covers it: the others keep theirs.
    const auto& events = song.track->events;
    std::vector<KeyTarget> notes(events.size());
    for (size_t i = 0; i < events.size(); ++i) {
      if (events[i].status != st::kNote) continue;
      const KeyTarget own = ChannelTarget(asked.channels, events[i].channel, events[i].note);
      notes[i] = own ? own : TargetOf(played, static_cast<int32_t>(i), events[i].note);
    }
    played.notes = std::move(notes);
  }
  return ignoreSongTuning ? played : WithSongTuning(played, song);
}

}  // namespace velorna
