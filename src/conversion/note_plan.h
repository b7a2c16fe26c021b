// The one product of the conversion layer: for each rendering (every pitched note, and the
// drum pass), the exact list of what its synthesizer must receive, timed on the output's
// sample grid. Engines only schedule plans; a MIDI file of a plan (the file engine's) holds
// the same events in the same order.
//
// A note's plan holds what applies to the note: its channel's set-up at its start, the
// channel's events and the channel-less ones in its window and as far as its release tail
// can hear them, a pitch bend (and, for a target out of its reach, a key shift) that moves
// it to the tuning's target, and a message that holds its tail open.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "audio/render_timing.h"
#include "conversion/note_retune.h"
#include "midi/synth_order.h"
#include "tuning/tuning.h"

namespace velorna {

struct NotePlan {
  int32_t note = -1;  // position in the prepared track; -1 for the drum pass
  NoteRetuning retuning;
  RenderRates rates;
  // Whether it is rendered at all: a key the tuning leaves unmapped, a note that gives way
  // at its own start and a song without its End of Track give no sound.
  bool sounds = false;
  // What the rendering plays, in note form and song order, each event at its tick: the file
  // engine writes this. `source` is the event's position in the song; -1 for what the plan
  // adds (the retuning bend and its range, the tail holder, a polyphony cut).
  std::vector<TickedEvent> song;
  // Tempo changes after this tick are none of the plan's: its last events lie past them.
  int64_t lastTempoTick = 0;
  // The same events as the synthesizer gets them, in the order of the synth_order rule.
  std::vector<TimedEvent> events;
  int64_t firstBlock = 0;  // where the note starts sounding: nothing of it comes before
  // Where the rendering ends at the latest: its last event plus the voice tail limit.
  int64_t lastBlock = 0;
  // The last sample whose events the release tail still hears.
  int64_t tailHeardUntil = 0;
};

// The plans of a song's notes, made in one sweep: each channel's set-up is followed from
// note to note instead of from the song's start, so a plan costs what it holds, whatever
// its place in the song.
class NotePlanner {
 public:
  // `index` and `tuning` must outlive the planner, unchanged.
  NotePlanner(const SongNoteIndex& index, const Tuning& tuning, int sampleRate = kSampleRate);
  // The plan of note i (status kNote). Notes are asked for in song order. A position that is
  // no note gives a plan that does not sound, after MDTK 0x0D000001.
  NotePlan Plan(Reporter& reporter, int32_t i);

 private:
  // The events of a channel before the sweep's position that still count for a note's
  // start: those a later one of the same kind replaces, with no note to hear them, are gone.
  struct SetUpEvents {
    std::vector<int32_t> kept;              // positions; -1 where one was replaced
    std::array<int32_t, 2 * 128 + 8> last;  // per replaceable kind: its entry in `kept`
    size_t replaced = 0;
    SetUpEvents() { last.fill(-1); }
    void Add(const MidiEvent& e, int32_t at);
  };
  struct ChannelState {
    ChannelSetup setup;
    SoundingWindow pedals{kNever};
    SetUpEvents setUp;
  };
  static constexpr int64_t kNever = INT64_MAX;

  void SweepTo(int32_t i);
  // Visits the positions a plan of channel `ch` is made from, until `visit` says false: the
  // set-up before i, then the channel's and the channel-less events from i on.
  template <class Visit>
  void Feed(int ch, int32_t i, Visit visit) const;

  const SongNoteIndex& index_;
  const Tuning& tuning_;
  int rate_;
  int32_t swept_ = 0;  // events before this position are in `channels_`
  std::array<ChannelState, kMidiChannels> channels_;
  std::vector<int32_t> systemExclusives_;  // the channel-less events that sound
};

// The block where note i's plan starts: where its note-on reaches the synthesizer.
int64_t FirstBlockOf(const SongNoteIndex& index, int32_t i, int sampleRate = kSampleRate);

// The drum pass's plan: the drum channel and the channel-less events as they are, its end
// held open as a note's is, so the drums ring on until the song's ending cap.
NotePlan PlanDrums(const SongNoteIndex& index, int sampleRate = kSampleRate);

}  // namespace velorna
