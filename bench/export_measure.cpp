// What bench/export.sh measures of an exported song:
//   export_measure font OUT.sf2            writes the pure-sine SoundFont
//   export_measure time SONG.mid           seconds to load, and to export each form beyond it
//   export_measure pitch SONG.mid RAW FORM each pitched note of SONG in a rendering of its
//                                          export as FORM (default tuning) against its
//                                          target, the notes the export reported as sharing
//                                          a channel counted apart; FORM `equal`: a
//                                          rendering of SONG itself, equal temperament
//   export_measure onsets SONG.mid OUT.mid every note of SONG starting in its export where
//                                          SONG starts it (seconds through each file's clock)
// Pitch: a note is measured from 30 ms after its start for up to 500 ms (at least 80 ms and
// 40 periods)
// where no other note sounds within two semitones and its channel's bend and modulation
// wheel stay still (the wheel brings vibrato); the others are counted as skipped. It is
// read from both sides of the stereo rendering: a part panned hard to one side (music001's
// channel 4) is nearly absent from the other, where neighbouring tones' leakage moved its
// peak by up to 4.6 cents.
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "conversion/channel_setup.h"
#include "conversion/note_retune.h"
#include "export/midi_export.h"
#include "midi/smf_reader.h"
#include "midi/song_time.h"
#include "support/pitch_measure.h"
#include "support/tone_font.h"
#include "tuning/presets.h"

namespace {

using namespace velorna;
using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int Time(const char* path) {
  SilentReporter quiet;
  MidiContext ctx(quiet);
  const auto start = Clock::now();
  MidiLoader loader = LoadSmf(ctx, path);
  const double load = Since(start);
  std::printf("load %.3f", load);
  for (const ExportForm form : {ExportForm::kBends, ExportForm::kMpe, ExportForm::kMts}) {
    MidiLoader copy = LoadSmf(ctx, path);
    const auto begin = Clock::now();
    const auto bytes = ExportSongBytes(ctx, copy, Tuning{}, ExportOptions{form, 0, false, false});
    if (!bytes) return 1;
    std::printf(" %s %.3f",
                form == ExportForm::kBends ? "bends"
                : form == ExportForm::kMpe ? "mpe"
                                           : "mts",
                Since(begin));
  }
  std::printf("\n");
  return 0;
}

struct Sounding {
  double start;
  double end;
  int key;
  double cents;  // the target with the song's own bend
  int channel;
  bool wheel;     // the modulation wheel (vibrato on every SoundFont) is up
  bool reported;  // the exporter said it shares a channel with another bend
};

// Both sides of interleaved 16-bit stereo summed, frames [first, first + count): a part
// panned hard to one side is nearly absent from the other, where its neighbours' leakage
// would decide its peak.
std::vector<float> BothSides(const std::vector<int16_t>& stereo, size_t first, size_t count) {
  std::vector<float> mix;
  for (size_t i = first; i < first + count && 2 * i + 1 < stereo.size(); ++i)
    mix.push_back(static_cast<float>(stereo[2 * i] + stereo[2 * i + 1]) / 65536.0F);
  return mix;
}

// What the rendering is of: an export in one form (whose notes the exporter reported as
// sharing a channel are counted apart), or the song itself against equal temperament (what
// the measurement alone makes of the song's bends and neighbours).
struct Rendered {
  std::optional<ExportForm> form;
};

std::optional<Rendered> RenderedOf(const char* word) {
  if (std::strcmp(word, "bends") == 0) return Rendered{ExportForm::kBends};
  if (std::strcmp(word, "mpe") == 0) return Rendered{ExportForm::kMpe};
  if (std::strcmp(word, "mts") == 0) return Rendered{ExportForm::kMts};
  if (std::strcmp(word, "equal") == 0) return Rendered{};
  return std::nullopt;
}

// The notes (prepared song events) the export of `form` reports as without a channel.
std::vector<int32_t> ReportedCrowded(const char* songPath, ExportForm form) {
  SilentReporter quiet;
  MidiContext ctx(quiet);
  MidiLoader loader = LoadSmf(ctx, songPath);
  ExportSummary summary;
  (void)ExportSongBytes(ctx, loader, Tuning{}, ExportOptions{form, 0, false, false}, &summary);
  std::sort(summary.crowded.begin(), summary.crowded.end());
  return summary.crowded;
}

int Pitch(const char* songPath, const char* wavPath, const Rendered& rendered) {
  SilentReporter quiet;
  MidiContext ctx(quiet);
  MidiLoader loader = LoadSmf(ctx, songPath);
  PrepareSong(ctx, loader);
  if (!loader.song || !loader.song->track) return 1;
  const auto index = IndexSong(*loader.song);
  if (!index) return 1;
  Tuning tuning;
  if (!rendered.form) tuning.keys = KeyTableFromCents(PresetOffsets(PresetId::kEqual, 0));
  const std::vector<int32_t> crowded =
      rendered.form ? ReportedCrowded(songPath, *rendered.form) : std::vector<int32_t>{};
  std::vector<Sounding> notes;
  std::array<ChannelSetup, kMidiChannels> setups;
  std::array<bool, kMidiChannels> rhythm{};
  std::array<int, kMidiChannels> wheel{};
  std::array<std::vector<double>, kMidiChannels> moves;  // bend and wheel changes, seconds
  rhythm[9] = true;
  int64_t now = 0;
  const auto& events = loader.song->track->events;
  for (size_t i = 0; i < events.size(); ++i) {
    const MidiEvent& e = events[i];
    now += e.delta;
    if (e.channel < 0 || e.channel >= kMidiChannels) continue;
    ChannelSetup& s = setups[static_cast<size_t>(e.channel)];
    if (e.status != st::kNote) {
      s.Apply(e);
      if (e.status == st::kPitchBend || (e.status == st::kControl && e.kind == 1))
        moves[static_cast<size_t>(e.channel)].push_back(index->clock.Seconds(now));
      if (e.status == st::kControl && e.kind == 1) wheel[static_cast<size_t>(e.channel)] = e.value;
      if (s.rhythmMap > 0) rhythm[static_cast<size_t>(e.channel)] = true;
      continue;
    }
    if (rhythm[static_cast<size_t>(e.channel)]) continue;
    const double sens = s.range.Sensitivity() > 0 ? s.range.Sensitivity() : 2;
    const double bend = (s.bend - kCentreBend) * sens * 100 / kCentreBend;
    const int64_t release = ReleaseTick(*index, static_cast<int32_t>(i));
    notes.push_back({index->clock.Seconds(now), index->clock.Seconds(release), e.note,
                     *TargetOf(tuning, static_cast<int32_t>(i), e.note) + bend, e.channel,
                     wheel[static_cast<size_t>(e.channel)] > 0,
                     std::binary_search(crowded.begin(), crowded.end(), static_cast<int32_t>(i))});
  }
  // The rendering as raw 16-bit stereo samples.
  FILE* f = std::fopen(wavPath, "rb");
  if (!f) return 1;
  std::vector<int16_t> samples;
  int16_t block[4096];
  for (size_t n; (n = std::fread(block, 2, 4096, f)) > 0;)
    samples.insert(samples.end(), block, block + n);
  std::fclose(f);
  constexpr double kRate = 44100;
  constexpr double kToneHz = 441;  // the tone font's key 69
  int measured = 0;
  int skipped = 0;
  // The notes the exporter reported apart from the others: their misses are the compromise.
  std::array<int, 2> count{};
  std::array<int, 2> beyond{};
  std::array<double, 2> worst{};
  for (const Sounding& n : notes) {
    const double from = n.start + 0.03;
    const double to = std::min(n.end, n.start + 0.5);
    const double pitch = n.key * 100 + n.cents;
    const bool crowded = std::any_of(notes.begin(), notes.end(), [&](const Sounding& o) {
      return &o != &n && o.start < to + 0.05 && o.end + 0.05 > from &&
             std::fabs(o.key * 100 + o.cents - pitch) < 200;
    });
    const auto& m = moves[static_cast<size_t>(n.channel)];
    const auto move = std::lower_bound(m.begin(), m.end(), n.start);
    const bool moving = n.wheel || (move != m.end() && *move < to);
    // Low notes need a longer look for a cent: at least 40 periods.
    const double periods = (to - from) * kToneHz * std::exp2((n.key - 69) / 12.0);
    if (to - from < 0.08 || periods < 40 || crowded || moving) {
      ++skipped;
      continue;
    }
    const double keyHz = kToneHz * std::exp2((n.key - 69) / 12.0);
    const double aim = keyHz * std::exp2(n.cents / 1200);
    const auto mix = BothSides(samples, static_cast<size_t>(from * kRate),
                               static_cast<size_t>((to - from) * kRate));
    const double got =
        1200 * std::log2(test::PeakFrequency(mix, kRate, aim / 1.03, aim * 1.03) / keyHz);
    const double error = std::fabs(got - n.cents);
    const auto group = static_cast<size_t>(n.reported);
    worst[group] = std::max(worst[group], error);
    ++measured;
    ++count[group];
    // A cent, half a step of range 48, and the window's own error.
    if (error > 1.3) ++beyond[group];
    if (error > 1.3 && std::getenv("EXPORT_MEASURE_SHOW"))
      std::printf("%.3f ch %d key %d want %.2f got %.2f%s\n", n.start, n.channel + 1, n.key,
                  n.cents, got, n.reported ? " (reported)" : "");
  }
  std::printf("notes %zu measured %d skipped %d worst %.2f beyond %d", notes.size(), measured,
              skipped, worst[0], beyond[0]);
  if (rendered.form)
    std::printf("; reported sharing %d measured %d worst %.2f beyond %d",
                static_cast<int>(crowded.size()), count[1], worst[1], beyond[1]);
  std::printf("\n");
  return beyond[0] == 0 ? 0 : 1;
}

// Every note's start in seconds through the file's own tempo map, by key. Read from the
// track chunks alone: an MPE export of a long song outgrows what a loaded song may hold.
std::optional<std::map<int, std::vector<double>>> Onsets(const char* path) {
  SilentReporter quiet;
  MidiContext ctx(quiet);
  const MidiLoader loader = LoadSmf(ctx, path);
  const std::optional<SmfTracks> file = ReadTrackChunks(ctx, loader.fileBytes);
  if (!file) return std::nullopt;
  std::vector<std::pair<int64_t, int32_t>> tempos;
  std::vector<std::pair<int64_t, int>> starts;  // tick, key
  for (const auto& track : file->tracks) {
    int64_t now = 0;
    for (const MidiEvent& e : track->events) {
      now += e.delta;
      if (e.status == st::kMeta && e.kind == meta::kTempo) tempos.emplace_back(now, e.value);
      if (e.status == st::kNoteOn && e.velocity > 0) starts.emplace_back(now, e.note);
    }
  }
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  SongClock clock(file->division);
  for (const auto& [tick, tempo] : tempos) clock.AddTempo(tick, tempo);
  std::map<int, std::vector<double>> onsets;
  for (const auto& [tick, key] : starts)
    onsets[key].push_back(static_cast<double>(clock.Microseconds(tick)) / 1e6);
  for (auto& [key, times] : onsets) std::sort(times.begin(), times.end());
  return onsets;
}

// The exported file's note starts against the song's, key by key in time order: every note
// must be there, and start where the song starts it.
int CompareOnsets(const char* songPath, const char* exportedPath) {
  const auto want = Onsets(songPath);
  const auto got = Onsets(exportedPath);
  if (!want || !got) return 1;
  size_t notes = 0;
  size_t missing = 0;
  double worst = 0;
  for (const auto& [key, times] : *want) {
    const auto found = got->find(key);
    const size_t there = found == got->end() ? 0 : found->second.size();
    if (there != times.size()) missing += times.size() > there ? times.size() - there : 0;
    for (size_t k = 0; k < std::min(there, times.size()); ++k)
      worst = std::max(worst, std::fabs(found->second[k] - times[k]));
    notes += times.size();
  }
  constexpr double kMostSeconds = 0.001;  // a millisecond: no tick of any song is that short
  std::printf("onsets %zu worst %.3f ms missing %zu", notes, worst * 1000, missing);
  return missing == 0 && worst <= kMostSeconds ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "font") == 0)
    return velorna::test::WriteToneFont(argv[2]) ? 0 : 1;
  if (argc == 3 && std::strcmp(argv[1], "time") == 0) return Time(argv[2]);
  if (argc == 5 && std::strcmp(argv[1], "pitch") == 0)
    if (const auto rendered = RenderedOf(argv[4])) return Pitch(argv[2], argv[3], *rendered);
  if (argc == 4 && std::strcmp(argv[1], "onsets") == 0) return CompareOnsets(argv[2], argv[3]);
  std::fprintf(stderr,
               "usage: export_measure font OUT.sf2 | time SONG.mid |"
               " pitch SONG.mid RAW bends|mpe|mts|equal |"
               " onsets SONG.mid EXPORTED.mid\n");
  return 2;
}
