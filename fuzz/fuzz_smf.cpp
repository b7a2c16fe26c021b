// MIDI file image → loaded and prepared into the one-track song a conversion works on, its
// playing time measured as the conversion sizes its mix, then written as the conversion
// writes each copy and read back.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>
#include <tuple>
#include <vector>

#include "fuzz_reporter.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "midi/song_time.h"

using namespace velorna;

namespace {

using NoteRow = std::tuple<int64_t, int, int, int, int>;  // tick, channel, key, velocity, length

std::vector<NoteRow> SortedNotes(const MidiTrack& track) {
  std::vector<NoteRow> rows;
  int64_t at = 0;
  for (const MidiEvent& e : track.events) {
    fuzz::Require(e.delta >= 0, "deltas are never negative");
    at += e.delta;
    if (e.status == st::kNote) rows.emplace_back(at, e.channel, e.note, e.velocity, e.duration);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

}  // namespace

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
  MidiFormat0Data& song = *loader.song;
  fuzz::Require(song.track != nullptr, "a prepared song has its track");
  fuzz::Require(song.track->events.size() <= static_cast<size_t>(kMaxEventsPerTrack),
                "the event limit holds");
  SortedNotes(*song.track);
  const int64_t ticks = TrackLengthTicks(ctx, *song.track);
  const double seconds = TicksToSeconds(*song.track, ticks, song.division);
  fuzz::Require(std::isfinite(seconds) && seconds >= 0, "a playing time in seconds");

  // The writer rebuilds the song from the bytes it wrote; those bytes must load again with
  // the same notes.
  std::vector<uint8_t> written;
  if (!WriteSmfToMemory(ctx, song, written)) return 0;
  fuzz::Require(song.track != nullptr && song.state == ts::kNotes, "the song survives writing");
  const std::vector<NoteRow> notes = SortedNotes(*song.track);
  // Written again it may order simultaneous releases differently, but holds the same notes.
  std::vector<uint8_t> again;
  fuzz::Require(WriteSmfToMemory(ctx, song, again), "a written song writes again");
  fuzz::Require(SortedNotes(*song.track) == notes, "writing again keeps the notes");

  fuzz::CheckingReporter rereadReporter;
  MidiContext reread(rereadReporter);
  MidiLoader back = LoadSmfFromBytes(reread, written);
  // Deltas are 32-bit: past 2^31 ticks the reader's split by channel holds a channel's
  // gap at the largest delta, so only shorter songs come back tick for tick.
  if (notes.empty() || TrackLengthTicks(ctx, *song.track) > INT32_MAX) return 0;
  fuzz::Require(back.fileLength != 0 && back.multiTrack != nullptr, "a written song loads");
  PrepareSong(reread, back);
  fuzz::Require(back.song && back.song->track, "a written song prepares");
  fuzz::Require(SortedNotes(*back.song->track) == notes, "notes survive writing and reading");
  return 0;
}
