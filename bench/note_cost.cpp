// What preparing one note's rendering costs (its plan made from the song index, its events
// timed as the fast engine renders them), per note, for the notes of a song's first minute and
// for every note of the song: a cost that grows with the song's length shows as a higher
// figure for the whole song.
//
// usage: note_cost [SONG.mid]   (default: music001, 29 minutes)
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "conversion/note_plan.h"
#include "conversion/song_loading.h"
#include "midi/song_time.h"
#include "tuning/tuning.h"

namespace {

using namespace velorna;

constexpr int64_t kFirstMinuteMicros = 60 * kMicrosecondsPerSecond;

struct Cost {
  int notes = 0;
  int64_t events = 0;  // the plans' events: what a plan's cost should follow
  double seconds = 0;
};

// Prepares each listed note as the fast engine does.
Cost Prepare(const SongNoteIndex& index, const std::vector<int32_t>& notes, const Tuning& tuning) {
  SilentReporter silent;
  const auto start = std::chrono::steady_clock::now();
  NotePlanner planner(index, tuning);
  Cost cost;
  for (const int32_t i : notes) {
    const NotePlan plan = planner.Plan(silent, i);
    if (!plan.sounds) continue;
    ++cost.notes;
    cost.events += static_cast<int64_t>(plan.song.size());
  }
  cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return cost;
}

void Print(const char* label, const Cost& cost) {
  const double notes = cost.notes > 0 ? cost.notes : 1;
  std::printf("%-14s %7d notes  %9.1f µs per note  %7.1f events per plan\n", label, cost.notes,
              cost.seconds * 1e6 / notes, static_cast<double>(cost.events) / notes);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string path = argc > 1 ? argv[1] : "/usr/share/planetblupi/music/music001.mid";
  SilentReporter silent;
  MidiContext ctx(silent);
  std::unique_ptr<MidiFormat0Data> song;
  int seconds = 0;
  if (!LoadAndPrepareSong(ctx, path, {}, song, seconds)) {
    std::fprintf(stderr, "cannot load %s\n", path.c_str());
    return 1;
  }
  const std::unique_ptr<SongNoteIndex> index = IndexSong(*song);
  if (!index) return 1;
  std::vector<int32_t> firstMinute, whole;
  const auto& events = song->track->events;
  for (size_t k = 0; k < events.size(); ++k) {
    if (events[k].status != st::kNote || events[k].channel == kDrumChannel) continue;
    whole.push_back(static_cast<int32_t>(k));
    if (index->clock.Microseconds(index->times[k]) < kFirstMinuteMicros)
      firstMinute.push_back(static_cast<int32_t>(k));
  }
  const Tuning tuning{KeyTableFromCents(kPureIntervalCents), {}};
  std::printf("%s: %d s\n", path.c_str(), seconds);
  Print("first minute", Prepare(*index, firstMinute, tuning));
  Print("whole song", Prepare(*index, whole, tuning));
  return 0;
}
