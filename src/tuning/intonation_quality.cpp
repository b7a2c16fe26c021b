#include "tuning/intonation_quality.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>

namespace velorna {

namespace {

constexpr double kDriftWindowSeconds = 10.0;
constexpr double kDriftHopSeconds = 1.0;
constexpr double kPercentile = 0.95;

}  // namespace

IntonationQuality MeasureIntonation(const std::vector<IntonationNote>& notes,
                                    const std::vector<double>& cents) {
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
  IntonationQuality q;
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
  // Windows of ten seconds of the song, one a second, the last ending where the song ends: a
  // window running past either end would hold a few chords only. A shorter song is one window.
  double first = std::numeric_limits<double>::infinity();
  double last = -first;
  for (const IntonationNote& n : notes) {
    if (!(std::isfinite(n.start) && std::isfinite(n.end))) continue;
    first = std::min(first, n.start);
    last = std::max(last, n.end);
  }
  if (!(first < last)) return q;
  const double lastFrom = std::max(first, last - kDriftWindowSeconds);
  const auto windows = static_cast<int64_t>(std::ceil((lastFrom - first) / kDriftHopSeconds)) + 1;
  for (int64_t k = 0; k < windows; ++k) {
    const double from = std::min(first + static_cast<double>(k) * kDriftHopSeconds, lastFrom);
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

}  // namespace velorna
