// The tuning the engines render, from the one asked for and the song: every front end and
// engine reaches it through here, so that a note's target has one order of precedence.
#pragma once

#include <vector>

#include "midi/midi_types.h"
#include "tuning/tuning.h"

namespace velorna {

// The target a channel tuned apart gives `key`; none when no such channel tunes it.
[[nodiscard]] KeyTarget ChannelTarget(const std::vector<ChannelKeys>& channels, int channel,
                                      int key);

// `asked` with, in rising precedence: each pitched note's pitch chosen over the song when
// `adaptive` (the caller has checked the keys allow it), the notes of `asked.channels` at
// their channel's keys (a key a channel's tuning leaves unmapped keeps the pitch below), and
// unless `ignoreSongTuning` the notes the song's own MTS data govern at their targets.
[[nodiscard]] Tuning PlayedTuning(const Tuning& asked, const MidiFormat0Data& song, bool adaptive,
                                  bool ignoreSongTuning);

}  // namespace velorna
