// The reference engine: every plan is written as a format-0 MIDI file (through the SMF
// writer) in a private folder of its own, read back, rendered with the program's effects
// and mixed one by one, so that it checks the writer and the reader against the plans.
#pragma once

#include <memory>

#include "conversion/note_plan.h"
#include "conversion/render_engine.h"

namespace velorna {

// The song a plan is written as: its events in note form with the song's tempo changes it
// lies in. None when the events do not fit a track (the cap's message has been shown).
std::unique_ptr<MidiFormat0Data> SongOfPlan(MidiContext& ctx, const SongNoteIndex& index,
                                            const NotePlan& plan);

std::unique_ptr<RenderEngine> MakeFileEngine();

}  // namespace velorna
