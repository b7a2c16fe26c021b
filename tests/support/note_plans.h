// A note's plan as the file engine writes it, for tests that read a plan's events.
#pragma once

#include <memory>

#include "conversion/file_engine.h"
#include "conversion/note_plan.h"

namespace velorna::test {

// Note i's plan written as a song; none when it gives no sound or cannot be written.
inline std::unique_ptr<MidiFormat0Data> PlannedCopy(MidiContext& ctx, const SongNoteIndex& index,
                                                    int32_t i, const Tuning& tuning) {
  NotePlanner planner(index, tuning);
  const NotePlan plan = planner.Plan(*ctx.reporter, i);
  return plan.sounds ? SongOfPlan(ctx, index, plan) : nullptr;
}

}  // namespace velorna::test
