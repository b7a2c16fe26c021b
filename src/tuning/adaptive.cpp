#include "tuning/adaptive.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "base/limits.h"
#include "midi/event_data.h"
#include "midi/midi_constants.h"
#include "midi/song_time.h"
#include "tuning/presets.h"

namespace velorna {

namespace {

constexpr double kMaxVelocity = 127.0;
// Longer than any song the mix accepts; notes beyond keep their nominal pitch.
constexpr double kMaxSongSeconds = 1e5;
// Further from equal temperament than any tuning goes: such a note is left as it is.
constexpr double kMaxNominalCents = 1e4;
// A chosen pitch never leaves its nominal one by more than this, whatever the input.
constexpr double kMaxShiftCents = 50.0;
// Conjugate gradient stops when no note would move by more than this, or after so many steps.
constexpr double kSolveToleranceCents = 1e-2;
// Passes before the last only aim and weigh the pairs: they need less.
constexpr double kRoughToleranceCents = 1e-1;
constexpr int kMaxSolveIterations = 4000;
// A compound interval counts less by this per octave it spans.
constexpr double kOctaveDecay = 1.0;
// How firmly the last solve holds the pairs that came almost pure.
constexpr float kLockFactor = 100.0F;
// Discords closer than this (cent-seconds) are a tie.
constexpr double kSameDiscord = 1e-2;

// Seconds, sevenths and the tritone are weak and may go either way: the method aims them at
// whichever ratio the chord around them makes nearest.
const IntervalTable kJustIntervals{{
    {{{{1, 1}}}, 1, 1.0},              // unison and octaves
    {{{{16, 15}}}, 1, 0.2},            // minor second
    {{{{9, 8}, {10, 9}}}, 2, 0.3},     // major second
    {{{{6, 5}}}, 1, 0.65},             // minor third
    {{{{5, 4}}}, 1, 0.7},              // major third
    {{{{4, 3}}}, 1, 0.85},             // fourth
    {{{{45, 32}, {64, 45}}}, 2, 0.2},  // tritone
    {{{{3, 2}}}, 1, 0.9},              // fifth
    {{{{8, 5}}}, 1, 0.7},              // minor sixth
    {{{{5, 3}}}, 1, 0.65},             // major sixth
    {{{{16, 9}, {9, 5}}}, 2, 0.3},     // minor seventh
    {{{{15, 8}}}, 1, 0.2},             // major seventh
}};

double RatioCents(const JustRatio& r) {
  return kCentsPerOctave * std::log2(static_cast<double>(r.numerator) / r.denominator);
}

int ClassOf(int semitones) {
  return ((semitones % kPitchClassCount) + kPitchClassCount) % kPitchClassCount;
}

double Loudness(int velocity) {
  return std::clamp(velocity, 0, static_cast<int>(kMaxVelocity)) / kMaxVelocity;
}

bool Usable(const IntonationNote& n) {
  return std::abs(n.start) <= kMaxSongSeconds && std::abs(n.end) <= kMaxSongSeconds &&
         n.end > n.start && n.key >= 0 && n.key < kKeyCount &&
         std::abs(n.nominal) <= kMaxNominalCents;
}

// x[high] - x[low] should be `target`, with this weight. Harmonic edges join notes sounding
// together; the others join successive notes of one voice.
struct Edge {
  int32_t low = 0;
  int32_t high = 0;
  float strength = 0;  // the pair's weight as the music gives it
  float weight = 0;    // as this pass uses it
  float target = 0;
  float nominalStep = 0;  // a voice's step as the nominal pitches make it
  int16_t semitones = 0;
  bool harmonic = false;
};
static_assert(sizeof(Edge) <= 28, "memory per note");

// Windows whose weighted mean of (x - nominal) is held at zero: members in one flat list.
struct Windows {
  std::vector<int32_t> start;  // offsets into `note`/`share`, one past the end last
  std::vector<int32_t> note;
  std::vector<float> share;
  std::vector<double> total;
  std::vector<double> target;  // the mean this pass holds each window at
};

struct Problem {
  std::vector<Edge> edges;
  Windows windows;
  std::vector<double> pull;  // towards `pullTarget`, per note
  std::vector<double> pullTarget;
  std::vector<double> diagonal;
  std::vector<bool> free;
  std::vector<bool> chordal;  // sounds with some other note
};

std::vector<int32_t> ByStart(const std::vector<IntonationNote>& notes) {
  std::vector<int32_t> order;
  for (size_t i = 0; i < notes.size(); ++i) {
    if (Usable(notes[i])) order.push_back(static_cast<int32_t>(i));
  }
  std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
    const IntonationNote& x = notes[static_cast<size_t>(a)];
    const IntonationNote& y = notes[static_cast<size_t>(b)];
    if (x.start != y.start) return x.start < y.start;
    return x.key < y.key;
  });
  return order;
}

Edge HarmonicEdge(const std::vector<IntonationNote>& notes, int32_t a, int32_t b, double weight) {
  const bool aLow = notes[static_cast<size_t>(a)].key <= notes[static_cast<size_t>(b)].key;
  Edge e;
  e.low = aLow ? a : b;
  e.high = aLow ? b : a;
  e.semitones = static_cast<int16_t>(notes[static_cast<size_t>(e.high)].key -
                                     notes[static_cast<size_t>(e.low)].key);
  e.harmonic = true;
  e.strength = e.weight = static_cast<float>(weight);
  return e;
}

// Every pair that sounds together long enough, at most `maxPartnersPerNote` of them per
// arriving note, strongest first.
void AddHarmonicEdges(const std::vector<IntonationNote>& notes, const std::vector<int32_t>& order,
                      const AdaptiveOptions& options, std::vector<Edge>& edges) {
  std::vector<int32_t> active;
  std::vector<std::pair<double, int32_t>> candidates;
  for (const int32_t j : order) {
    const IntonationNote& n = notes[static_cast<size_t>(j)];
    std::erase_if(active, [&](int32_t i) {
      return notes[static_cast<size_t>(i)].end - n.start <= options.minOverlapSeconds;
    });
    candidates.clear();
    for (const int32_t i : active) {
      const IntonationNote& m = notes[static_cast<size_t>(i)];
      const double overlap = std::min(m.end, n.end) - n.start;
      if (overlap <= options.minOverlapSeconds) continue;
      const int semitones = std::abs(n.key - m.key);
      const double weight = overlap * Loudness(n.velocity) * Loudness(m.velocity) *
                            kJustIntervals[static_cast<size_t>(ClassOf(semitones))].consonance /
                            (1.0 + kOctaveDecay * (semitones / kPitchClassCount));
      if (weight > 0) candidates.emplace_back(-weight, i);
    }
    const size_t keep =
        std::min(candidates.size(), static_cast<size_t>(std::max(options.maxPartnersPerNote, 0)));
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<ptrdiff_t>(keep),
                      candidates.end());
    for (size_t c = 0; c < keep; ++c) {
      edges.push_back(HarmonicEdge(notes, candidates[c].second, j, -candidates[c].first));
    }
    active.push_back(j);
  }
}

// Each note to the note of its voice that ended just before it, nearest in key: a step of a
// melody, or a common tone struck again.
void AddVoiceEdges(const std::vector<IntonationNote>& notes, const std::vector<int32_t>& order,
                   const AdaptiveOptions& options, std::vector<Edge>& edges) {
  std::vector<int32_t> byEnd = order;
  std::stable_sort(byEnd.begin(), byEnd.end(), [&](int32_t a, int32_t b) {
    const IntonationNote& x = notes[static_cast<size_t>(a)];
    const IntonationNote& y = notes[static_cast<size_t>(b)];
    if (x.voice != y.voice) return x.voice < y.voice;
    return x.end < y.end;
  });
  for (const int32_t j : order) {
    const IntonationNote& n = notes[static_cast<size_t>(j)];
    const double earliest = n.start - options.voiceGapSeconds;
    auto it = std::lower_bound(byEnd.begin(), byEnd.end(), j, [&](int32_t a, int32_t) {
      const IntonationNote& x = notes[static_cast<size_t>(a)];
      return x.voice < n.voice || (x.voice == n.voice && x.end < earliest);
    });
    int32_t best = -1;
    for (; it != byEnd.end(); ++it) {
      const IntonationNote& m = notes[static_cast<size_t>(*it)];
      if (m.voice != n.voice || m.end > n.start + options.minOverlapSeconds) break;
      if (*it == j || m.start >= n.start) continue;
      const int distance = std::abs(m.key - n.key);
      if (best < 0 || distance <= std::abs(notes[static_cast<size_t>(best)].key - n.key)) {
        best = *it;  // ties go to the latest to end
      }
    }
    if (best < 0) continue;
    Edge e;
    e.low = best;
    e.high = j;
    e.strength = e.weight = static_cast<float>(options.voiceWeight * Loudness(n.velocity) *
                                               Loudness(notes[static_cast<size_t>(best)].velocity));
    e.nominalStep = e.target =
        static_cast<float>(n.nominal - notes[static_cast<size_t>(best)].nominal);
    if (e.weight > 0) edges.push_back(e);
  }
}

// Window k spans [k * hop, k * hop + length), hop half the length, so every moment lies in
// two windows. Built in two passes (count, then fill) so memory is exactly what is kept.
Windows AnchorWindows(const std::vector<IntonationNote>& notes, const std::vector<int32_t>& order,
                      const AdaptiveOptions& options) {
  Windows w;
  w.start.push_back(0);
  if (order.empty()) return w;
  const double length = std::max(options.anchorWindowSeconds, options.minOverlapSeconds);
  const double hop = length / 2;
  double first = notes[static_cast<size_t>(order.front())].start;
  double last = first;
  for (const int32_t i : order) last = std::max(last, notes[static_cast<size_t>(i)].end);
  const auto base = static_cast<int64_t>(std::floor(first / hop)) - 1;
  const auto count = static_cast<size_t>(static_cast<int64_t>(std::ceil(last / hop)) - base + 1);
  auto range = [&](const IntonationNote& n) {
    const auto from = static_cast<int64_t>(std::floor((n.start - length) / hop)) + 1 - base;
    const auto to = static_cast<int64_t>(std::ceil(n.end / hop)) - base;  // one past the last
    return std::pair<size_t, size_t>(static_cast<size_t>(std::max<int64_t>(from, 0)),
                                     static_cast<size_t>(std::min<int64_t>(to, count)));
  };
  std::vector<int32_t> fill(count + 1, 0);
  for (const int32_t i : order) {
    const auto [from, to] = range(notes[static_cast<size_t>(i)]);
    for (size_t k = from; k < to; ++k) ++fill[k + 1];
  }
  std::partial_sum(fill.begin(), fill.end(), fill.begin());
  w.start = fill;
  w.note.resize(static_cast<size_t>(fill.back()));
  w.share.resize(w.note.size());
  w.total.assign(count, 0.0);
  w.target.assign(count, 0.0);
  for (const int32_t i : order) {
    const IntonationNote& n = notes[static_cast<size_t>(i)];
    const auto [from, to] = range(n);
    for (size_t k = from; k < to; ++k) {
      const double windowStart = static_cast<double>(static_cast<int64_t>(k) + base) * hop;
      const double overlap =
          std::max(0.0, std::min(n.end, windowStart + length) - std::max(n.start, windowStart));
      const auto at = static_cast<size_t>(fill[k]++);
      w.note[at] = i;
      w.share[at] = static_cast<float>(overlap * Loudness(n.velocity));
      w.total[k] += w.share[at];
    }
  }
  return w;
}

// Aims each pair at the just size nearest to how it now sounds and, after the first pass,
// eases the pairs that stay far from it: iteratively reweighted least squares towards the
// least absolute deviation, so a conflict lands on few intervals instead of tempering many.
void ReaimEdges(const std::vector<double>& x, const AdaptiveOptions& options, bool reweight,
                std::vector<Edge>& edges) {
  for (Edge& e : edges) {
    const double played = x[static_cast<size_t>(e.high)] - x[static_cast<size_t>(e.low)];
    if (!e.harmonic) {
      e.target = static_cast<float>(std::clamp(played, e.nominalStep - options.voiceToleranceCents,
                                               e.nominalStep + options.voiceToleranceCents));
      continue;
    }
    const double target = JustDeviationCents(e.semitones, e.semitones * kCentsPerSemitone + played);
    e.target = static_cast<float>(target);
    e.weight = e.strength;
    if (!reweight) continue;
    const double miss = std::abs(played - target);
    e.weight = static_cast<float>(e.strength * std::min(1.0, options.robustCents / miss));
  }
}

// The weak terms hold what they guard within a tolerance and push only beyond it: each pass
// aims a window's mean and a chordal note's pull at where they are, clamped to the tolerance.
// Inside it they only steady the solve, so they never bend a chord that is already pure.
void Retarget(const std::vector<IntonationNote>& notes, const std::vector<double>& x,
              const AdaptiveOptions& options, Problem& p) {
  Windows& w = p.windows;
  for (size_t k = 0; k + 1 < w.start.size(); ++k) {
    if (w.total[k] <= 0) continue;
    double sum = 0;
    for (auto m = static_cast<size_t>(w.start[k]); m < static_cast<size_t>(w.start[k + 1]); ++m) {
      const auto i = static_cast<size_t>(w.note[m]);
      sum += w.share[m] * (x[i] - notes[i].nominal);
    }
    w.target[k] =
        std::clamp(sum / w.total[k], -options.anchorToleranceCents, options.anchorToleranceCents);
  }
  for (size_t i = 0; i < x.size(); ++i) {
    p.pullTarget[i] = p.chordal[i] || !Usable(notes[i]) ? x[i] : notes[i].nominal;
  }
}

// y = A x, A the energy's Hessian; `freeOnly` leaves out the rows of the fixed notes.
void Multiply(const Problem& p, const AdaptiveOptions& options, const std::vector<double>& x,
              std::vector<double>& y, bool freeOnly) {
  for (size_t i = 0; i < x.size(); ++i) y[i] = p.pull[i] * x[i];
  for (const Edge& e : p.edges) {
    const double d = e.weight * (x[static_cast<size_t>(e.high)] - x[static_cast<size_t>(e.low)]);
    y[static_cast<size_t>(e.high)] += d;
    y[static_cast<size_t>(e.low)] -= d;
  }
  const Windows& w = p.windows;
  for (size_t k = 0; k + 1 < w.start.size(); ++k) {
    const auto from = static_cast<size_t>(w.start[k]);
    const auto to = static_cast<size_t>(w.start[k + 1]);
    double sum = 0;
    for (size_t m = from; m < to; ++m) sum += w.share[m] * x[static_cast<size_t>(w.note[m])];
    if (w.total[k] <= 0) continue;
    const double scale = options.anchorWeight * sum / w.total[k];
    for (size_t m = from; m < to; ++m) y[static_cast<size_t>(w.note[m])] += scale * w.share[m];
  }
  if (!freeOnly) return;
  for (size_t i = 0; i < x.size(); ++i) {
    if (!p.free[i]) y[i] = 0;
  }
}

// b of A x = b: the targets of every term, before the fixed notes move to its right side.
std::vector<double> RightSide(const Problem& p, const std::vector<IntonationNote>& notes,
                              const AdaptiveOptions& options) {
  std::vector<double> b(notes.size());
  for (size_t i = 0; i < notes.size(); ++i) b[i] = p.pull[i] * p.pullTarget[i];
  for (const Edge& e : p.edges) {
    b[static_cast<size_t>(e.high)] += e.weight * e.target;
    b[static_cast<size_t>(e.low)] -= e.weight * e.target;
  }
  const Windows& w = p.windows;
  for (size_t k = 0; k + 1 < w.start.size(); ++k) {
    double sum = 0;
    for (auto m = static_cast<size_t>(w.start[k]); m < static_cast<size_t>(w.start[k + 1]); ++m)
      sum += w.share[m] * notes[static_cast<size_t>(w.note[m])].nominal;
    if (w.total[k] <= 0) continue;
    const double scale = options.anchorWeight * (sum / w.total[k] + w.target[k]);
    for (auto m = static_cast<size_t>(w.start[k]); m < static_cast<size_t>(w.start[k + 1]); ++m)
      b[static_cast<size_t>(w.note[m])] += scale * w.share[m];
  }
  return b;
}

std::vector<double> Diagonal(const Problem& p, const AdaptiveOptions& options) {
  std::vector<double> d = p.pull;
  for (const Edge& e : p.edges) {
    d[static_cast<size_t>(e.high)] += e.weight;
    d[static_cast<size_t>(e.low)] += e.weight;
  }
  const Windows& w = p.windows;
  for (size_t k = 0; k + 1 < w.start.size(); ++k) {
    if (w.total[k] <= 0) continue;
    for (auto m = static_cast<size_t>(w.start[k]); m < static_cast<size_t>(w.start[k + 1]); ++m)
      d[static_cast<size_t>(w.note[m])] +=
          options.anchorWeight * w.share[m] * w.share[m] / w.total[k];
  }
  return d;
}

// The preconditioner, and which notes the solve may move.
void SetDiagonal(const std::vector<IntonationNote>& notes, Problem& p,
                 const AdaptiveOptions& options) {
  p.diagonal = Diagonal(p, options);
  p.free.assign(notes.size(), false);
  for (size_t i = 0; i < notes.size(); ++i) {
    p.free[i] = Usable(notes[i]) && !notes[i].fixed && p.diagonal[i] > 0;
    if (!p.free[i]) p.diagonal[i] = 1;  // never divides
  }
}

double Dot(const std::vector<double>& a, const std::vector<double>& b) {
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += a[i] * b[i];
  return sum;
}

// Jacobi-preconditioned conjugate gradient from `x`; the fixed notes keep their values.
void Solve(const Problem& p, const std::vector<IntonationNote>& notes,
           const AdaptiveOptions& options, double tolerance, std::vector<double>& x) {
  const size_t n = x.size();
  std::vector<double> r = RightSide(p, notes, options);
  std::vector<double> ax(n);
  // Fixed notes have no residual, so no search direction moves them; what they pull on the
  // free notes enters through this first product.
  Multiply(p, options, x, ax, false);
  for (size_t i = 0; i < n; ++i) r[i] = p.free[i] ? r[i] - ax[i] : 0;
  std::vector<double> z(n), dir(n), q(n);
  for (size_t i = 0; i < n; ++i) z[i] = r[i] / p.diagonal[i];
  dir = z;
  double rz = Dot(r, z);
  for (int it = 0; it < kMaxSolveIterations; ++it) {
    double largest = 0;
    for (size_t i = 0; i < n; ++i) largest = std::max(largest, std::abs(z[i]));
    if (!(largest > tolerance)) break;
    Multiply(p, options, dir, q, true);
    const double dq = Dot(dir, q);
    if (!(dq > 0)) break;
    const double alpha = rz / dq;
    for (size_t i = 0; i < n; ++i) {
      x[i] += alpha * dir[i];
      r[i] -= alpha * q[i];
      z[i] = r[i] / p.diagonal[i];
    }
    const double next = Dot(r, z);
    const double beta = next / rz;
    rz = next;
    for (size_t i = 0; i < n; ++i) dir[i] = z[i] + beta * dir[i];
  }
}

// The passes: aim (and from the second on, or from the first when the start is already a
// tuning worth keeping, weigh) the pairs, then solve.
void Refine(const std::vector<IntonationNote>& notes, const AdaptiveOptions& options,
            bool weighFirst, Problem& p, std::vector<double>& x) {
  const int passes = std::max(options.passes, 1);
  for (int pass = 0; pass < passes; ++pass) {
    ReaimEdges(x, options, weighFirst || pass > 0, p.edges);
    Retarget(notes, x, options, p);
    SetDiagonal(notes, p, options);
    Solve(p, notes, options, pass + 1 == passes ? kSolveToleranceCents : kRoughToleranceCents, x);
  }
  // The reweighted passes leave pairs that are almost pure a little off, pulled by the weak
  // terms and the others: one more solve holds those that came within `lockCents` at their
  // just size, so the conflicts stay on the few pairs that cannot be pure.
  for (Edge& e : p.edges) {
    if (!e.harmonic) continue;
    const double played = x[static_cast<size_t>(e.high)] - x[static_cast<size_t>(e.low)];
    if (std::abs(played - e.target) < options.lockCents) e.weight *= kLockFactor;
  }
  Retarget(notes, x, options, p);
  SetDiagonal(notes, p, options);
  Solve(p, notes, options, kSolveToleranceCents, x);
}

// How far the pairs are from pure, cent-seconds: what the result is judged by. The pairs'
// weights decide where a conflict goes; this decides which of two tunings is purer.
double Discord(const std::vector<IntonationNote>& notes, const std::vector<Edge>& edges,
               const std::vector<double>& x) {
  double sum = 0;
  for (const Edge& e : edges) {
    if (!e.harmonic) continue;
    const IntonationNote& a = notes[static_cast<size_t>(e.low)];
    const IntonationNote& b = notes[static_cast<size_t>(e.high)];
    const double overlap = std::min(a.end, b.end) - std::max(a.start, b.start);
    const double played = x[static_cast<size_t>(e.high)] - x[static_cast<size_t>(e.low)];
    sum += overlap * std::abs(played - JustDeviationCents(
                                           e.semitones, e.semitones * kCentsPerSemitone + played));
  }
  return sum;
}

// The free notes on the fixed just scale whose tonic leaves the least discord.
std::vector<double> JustStart(const std::vector<IntonationNote>& notes, const Problem& p,
                              const std::vector<double>& nominal) {
  std::vector<double> best;
  double least = 0;
  for (int tonic = 0; tonic < kPitchClassCount; ++tonic) {
    std::vector<double> y = nominal;
    for (size_t i = 0; i < y.size(); ++i) {
      if (p.free[i] && p.chordal[i]) y[i] += JustScaleCents(notes[i].key - tonic);
    }
    const double discord = Discord(notes, p.edges, y);
    if (best.empty() || discord < least) {
      best.swap(y);
      least = discord;
    }
  }
  return best;
}

}  // namespace

double JustScaleCents(int degree) {
  const int d = ClassOf(degree);
  return PresetDegreeCents(PresetId::kJust)[static_cast<size_t>(d)] - d * kCentsPerSemitone;
}

double JustDeviationCents(int semitones, double sizeCents) {
  const IntervalClass& c = kJustIntervals[static_cast<size_t>(ClassOf(semitones))];
  const double tempered = ClassOf(semitones) * kCentsPerSemitone;
  const double played = sizeCents - (semitones - ClassOf(semitones)) * kCentsPerSemitone;
  double best = RatioCents(c.ratios[0]) - tempered;
  for (int k = 1; k < c.ratioCount; ++k) {
    const double deviation = RatioCents(c.ratios[static_cast<size_t>(k)]) - tempered;
    if (std::abs(played - tempered - deviation) < std::abs(played - tempered - best)) {
      best = deviation;
    }
  }
  return best;
}

std::vector<double> ChooseAdaptivePitches(const std::vector<IntonationNote>& notes,
                                          const AdaptiveOptions& options) {
  const size_t n = notes.size();
  std::vector<double> nominal(n);
  for (size_t i = 0; i < n; ++i) {
    nominal[i] = std::isfinite(notes[i].nominal) ? notes[i].nominal : 0.0;
    if (notes[i].fixed && std::isfinite(*notes[i].fixed)) nominal[i] = *notes[i].fixed;
  }
  const std::vector<int32_t> order = ByStart(notes);
  Problem p;
  AddHarmonicEdges(notes, order, options, p.edges);
  AddVoiceEdges(notes, order, options, p.edges);
  p.windows = AnchorWindows(notes, order, options);
  p.pull.assign(n, 0.0);
  p.pullTarget = nominal;
  p.chordal.assign(n, false);
  for (const Edge& e : p.edges) {
    if (!e.harmonic) continue;
    p.chordal[static_cast<size_t>(e.low)] = true;
    p.chordal[static_cast<size_t>(e.high)] = true;
  }
  for (const int32_t i : order) {
    const IntonationNote& note = notes[static_cast<size_t>(i)];
    p.pull[static_cast<size_t>(i)] =
        options.nominalWeight * (note.end - note.start) * Loudness(note.velocity);
  }
  // Two starts, since the reweighting finds the nearest good tuning rather than the best:
  // the least-squares one (right for music that moves between keys) and the song's best
  // fixed just scale (right for music that stays in one). The less discordant result wins.
  std::vector<double> x = nominal;
  Refine(notes, options, false, p, x);
  std::vector<double> y = JustStart(notes, p, nominal);
  Refine(notes, options, true, p, y);
  // A tie goes to the first, which keeps the mean at the reference.
  if (Discord(notes, p.edges, y) < Discord(notes, p.edges, x) - kSameDiscord) x.swap(y);
  for (size_t i = 0; i < n; ++i) {
    if (!p.free[i]) {
      x[i] = nominal[i];
      continue;
    }
    const double own = notes[i].nominal;
    x[i] = std::isfinite(x[i]) ? std::clamp(x[i], own - kMaxShiftCents, own + kMaxShiftCents) : own;
  }
  return x;
}

SongNotes IntonationNotesOfSong(const MidiFormat0Data& song, const KeyTable& keys) {
  SongNotes out;
  if (!song.track) return out;
  const MidiTrack& track = *song.track;
  const SongClock clock = SongClock::OfTrack(track, song.division);
  // A rhythm part's notes are drum sounds the conversion never bends: they pull on nothing.
  std::array<int, kMidiChannels> rhythmMap{};
  int64_t tick = 0;
  for (int32_t i = 0; i < track.count(); ++i) {
    const MidiEvent& e = track.events[static_cast<size_t>(i)];
    tick += e.delta;
    if (const std::optional<int> map = RhythmMapOf(e);
        map && e.channel >= 0 && e.channel < kMidiChannels) {
      rhythmMap[static_cast<size_t>(e.channel)] = *map;
    }
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    if (e.channel >= 0 && e.channel < kMidiChannels && rhythmMap[static_cast<size_t>(e.channel)])
      continue;
    if (e.note < 0 || e.note >= kKeyCount) continue;
    const KeyTarget target = keys[static_cast<size_t>(e.note)];
    if (!target) continue;
    IntonationNote n;
    n.start = clock.Seconds(tick);
    n.end = clock.Seconds(tick + std::max(e.duration, 0));
    n.key = e.note;
    n.velocity = e.velocity;
    n.voice = e.channel;
    n.nominal = *target;
    out.notes.push_back(n);
    out.eventIndex.push_back(i);
  }
  return out;
}

bool IsTwelveToneOctave(const KeyTable& keys) {
  // Far below what a tuning means, far above a double's noise.
  constexpr double kSameCents = 1e-6;
  for (size_t key = 0; key + kPitchClassCount < keys.size(); ++key) {
    const KeyTarget& low = keys[key];
    const KeyTarget& high = keys[key + kPitchClassCount];
    if (low && high && std::fabs(*high - *low) > kSameCents) return false;
  }
  return true;
}

Tuning AdaptiveTuning(const MidiFormat0Data& song, const KeyTable& keys,
                      const AdaptiveOptions& options) {
  Tuning tuning;
  tuning.keys = keys;
  if (!song.track) return tuning;
  const SongNotes songNotes = IntonationNotesOfSong(song, keys);
  const std::vector<double> pitches = ChooseAdaptivePitches(songNotes.notes, options);
  // Every event falls back to its key's target; the pitched notes get their own.
  tuning.notes.resize(song.track->events.size());
  for (size_t i = 0; i < song.track->events.size(); ++i) {
    const int key = song.track->events[i].note;
    if (key >= 0 && key < kKeyCount) tuning.notes[i] = keys[static_cast<size_t>(key)];
  }
  for (size_t k = 0; k < pitches.size(); ++k) {
    tuning.notes[static_cast<size_t>(songNotes.eventIndex[k])] = pitches[k];
  }
  return tuning;
}

}  // namespace velorna
