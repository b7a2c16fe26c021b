// Measures how pure and how steady three tunings of each song are: equal temperament, fixed
// 5-limit just intonation on the best of the twelve tonics, and adaptive intonation.
//   intonation_measure [--strict] song.mid... [--strict] more.mid...
// Songs after --strict must meet the chorale targets (deviation mean <= 2, p95 <= 6 cents);
// every song must keep adaptive drift <= 10 cents and deviation below fixed just intonation.
// Prints one markdown row per song; exit status 1 when a target is missed.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "conversion/song_loading.h"
#include "tuning/adaptive.h"

namespace {

using namespace velorna;

constexpr double kDriftWindowSeconds = 10.0;
constexpr double kDriftHopSeconds = 1.0;
constexpr double kPercentile = 0.95;
constexpr double kStrictMean = 2.0;
constexpr double kStrictP95 = 6.0;
constexpr double kDriftLimit = 10.0;
struct Quality {
  double mean = 0;  // cents from the nearest just ratio, weighted by time sounding together
  double p95 = 0;
  double drift = 0;  // largest |mean pitch - equal temperament| over any 10 s window
};

Quality Measure(const std::vector<IntonationNote>& notes, const std::vector<double>& cents) {
  std::vector<size_t> order(notes.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return notes[a].start < notes[b].start; });
  std::vector<std::pair<double, double>> deviations;  // (cents, seconds)
  std::vector<size_t> active;
  for (const size_t j : order) {
    const IntonationNote& n = notes[j];
    std::erase_if(active, [&](size_t i) { return notes[i].end <= n.start; });
    for (const size_t i : active) {
      const double overlap = std::min(notes[i].end, n.end) - n.start;
      if (overlap <= 0) continue;
      const size_t low = notes[i].key <= n.key ? i : j;
      const size_t high = low == i ? j : i;
      const int semitones = notes[high].key - notes[low].key;
      const double size = semitones * kCentsPerSemitone + cents[high] - cents[low];
      const double off = size - semitones * kCentsPerSemitone - JustDeviationCents(semitones, size);
      deviations.emplace_back(std::abs(off), overlap);
    }
    active.push_back(j);
  }
  Quality q;
  double total = 0;
  for (const auto& [d, w] : deviations) {
    q.mean += d * w;
    total += w;
  }
  if (total > 0) q.mean /= total;
  std::sort(deviations.begin(), deviations.end());
  double seen = 0;
  for (const auto& [d, w] : deviations) {
    seen += w;
    q.p95 = d;
    if (seen >= kPercentile * total) break;
  }
  double last = 0;
  for (const IntonationNote& n : notes) last = std::max(last, n.end);
  for (double from = 0; from < last; from += kDriftHopSeconds) {
    double sum = 0;
    double weight = 0;
    for (size_t i = 0; i < notes.size(); ++i) {
      const double overlap =
          std::min(notes[i].end, from + kDriftWindowSeconds) - std::max(notes[i].start, from);
      if (overlap <= 0) continue;
      sum += overlap * cents[i];
      weight += overlap;
    }
    if (weight > 0) q.drift = std::max(q.drift, std::abs(sum / weight));
  }
  return q;
}

std::vector<double> FixedJust(const std::vector<IntonationNote>& notes, int tonic) {
  std::vector<double> cents;
  for (const IntonationNote& n : notes) cents.push_back(JustScaleCents(n.key - tonic));
  return cents;
}

const char* kTonics[kPitchClassCount] = {"C",  "C#", "D",  "Eb", "E",  "F",
                                         "F#", "G",  "Ab", "A",  "Bb", "B"};

}  // namespace

int main(int argc, char** argv) {
  std::printf(
      "| song | notes | ET mean | ET p95 | JI tonic | JI mean | JI p95 | JI drift | adaptive mean "
      "| adaptive p95 | adaptive drift | ms |\n");
  std::printf("|---|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|\n");
  bool strict = false;
  bool failed = false;
  for (int a = 1; a < argc; ++a) {
    const std::string path = argv[a];
    if (path == "--strict") {
      strict = true;
      continue;
    }
    RecordingReporter reporter;
    MidiContext ctx(reporter);
    std::unique_ptr<MidiFormat0Data> song;
    int seconds = 0;
    if (!LoadAndPrepareSong(ctx, path, {}, song, seconds)) {
      std::fprintf(stderr, "intonation: cannot load %s\n", path.c_str());
      failed = true;
      continue;
    }
    const SongNotes found = IntonationNotesOfSong(*song, KeyTableFromCents({}));
    const std::vector<IntonationNote>& notes = found.notes;
    const Quality et = Measure(notes, std::vector<double>(notes.size(), 0.0));
    Quality ji;
    int best = 0;
    for (int tonic = 0; tonic < kPitchClassCount; ++tonic) {
      const Quality q = Measure(notes, FixedJust(notes, tonic));
      if (tonic == 0 || q.mean < ji.mean) {
        ji = q;
        best = tonic;
      }
    }
    const auto began = std::chrono::steady_clock::now();
    const std::vector<double> chosen = ChooseAdaptivePitches(notes);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - began;
    const Quality ad = Measure(notes, chosen);
    const bool miss = ad.drift > kDriftLimit || (!notes.empty() && ad.mean >= ji.mean) ||
                      (strict && (ad.mean > kStrictMean || ad.p95 > kStrictP95));
    failed = failed || miss;
    std::printf(
        "| %s%s | %zu | %.1f | %.1f | %s | %.2f | %.1f | %.1f | %.2f | %.1f | %.1f | %.0f |\n",
        std::filesystem::path(path).stem().c_str(), miss ? " (missed)" : "", notes.size(), et.mean,
        et.p95, kTonics[best], ji.mean, ji.p95, ji.drift, ad.mean, ad.p95, ad.drift, took.count());
  }
  return failed ? 1 : 0;
}
