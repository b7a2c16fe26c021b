#include "cli/song_listing.h"

#include <cstdio>
#include <memory>

#include "conversion/note_retune.h"
#include "conversion/scale_file.h"
#include "conversion/song_loading.h"
#include "tuning/tuning.h"

namespace velorna::cli {

namespace {

void PrintEvents(const MidiFormat0Data& song) {
  std::printf("# tick channel status note velocity duration kind value\n");
  int64_t tick = 0;
  for (const MidiEvent& e : song.track->events) {
    tick += e.delta;
    std::printf("%lld %d %u %d %d %d %u %d\n", static_cast<long long>(tick), e.channel, e.status,
                e.note, e.velocity, e.duration, e.kind, e.value);
  }
}

void PrintBends(const MidiFormat0Data& song, const Tuning& tuning) {
  const std::unique_ptr<SongNoteIndex> index = IndexSong(song);
  if (!index) return;
  std::printf("# index tick channel note pitch-class cents sensitivity base-bend bend\n");
  int64_t tick = 0;
  const auto& events = song.track->events;
  for (size_t i = 0; i < events.size(); ++i) {
    const MidiEvent& e = events[i];
    tick += e.delta;
    if (e.status != st::kNote) continue;
    const int pc = ((e.note % kPitchClassCount) + kPitchClassCount) % kPitchClassCount;
    std::printf("%zu %lld %d %d %d ", i, static_cast<long long>(tick), e.channel, e.note, pc);
    if (e.channel == kDrumChannel) {
      std::printf("drum\n");
      continue;
    }
    const NoteRetuning r = DescribeRetuning(*index, static_cast<int32_t>(i), tuning);
    if (r.rhythmPart) {
      std::printf("rhythm\n");
      continue;
    }
    if (r.unmapped) {
      std::printf("unmapped\n");
      continue;
    }
    std::printf("%g %d %d %d\n", r.target, static_cast<int>(r.sensitivity), r.baseBend, r.bend);
  }
}

}  // namespace

bool Inspect(const CliOptions& options, Reporter& reporter) {
  CentTable cents = options.cents.value_or(kPureIntervalCents);
  if (!options.scaleFile.empty()) {
    auto scale = LoadScaleFile(options.scaleFile);
    if (!scale) {
      reporter.ShowText("cannot read the scale file: " + options.scaleFile);
      return false;
    }
    cents = scale->cents;
  }
  MidiContext ctx(reporter);
  std::unique_ptr<MidiFormat0Data> song;
  int seconds = 0;
  if (!LoadAndPrepareSong(ctx, options.inputs[0], {}, song, seconds)) return false;
  if (options.bends) {
    PrintBends(*song, Tuning{KeyTableFromCents(cents), {}});
  } else {
    PrintEvents(*song);
  }
  return true;
}

}  // namespace velorna::cli
