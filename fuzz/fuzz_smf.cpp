// MIDI file image → loaded and prepared into the one-track song a conversion works on,
// and its playing time measured as the conversion sizes its mix.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz_reporter.h"
#include "midi/smf_reader.h"
#include "midi/song_time.h"

using namespace velorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckingReporter reporter;
  MidiContext ctx(reporter);
  MidiLoader loader = LoadSmfFromBytes(ctx, std::span<const uint8_t>(data, size));
  if (loader.fileLength == 0 || !loader.multiTrack) {
    fuzz::Require(reporter.count > 0, "a failed load says why");
    return 0;
  }
  PrepareSong(ctx, loader);
  if (!loader.song) return 0;
  const MidiFormat0Data& song = *loader.song;
  fuzz::Require(song.track != nullptr, "a prepared song has its track");
  fuzz::Require(song.track->events.size() <= static_cast<size_t>(kMaxEventsPerTrack),
                "the event limit holds");
  const int64_t ticks = TrackLengthTicks(ctx, *song.track);
  const double seconds = TicksToSeconds(*song.track, ticks, song.division);
  fuzz::Require(std::isfinite(seconds) && seconds >= 0, "a playing time in seconds");
  return 0;
}
