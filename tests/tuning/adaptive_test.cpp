#include "tuning/adaptive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <random>

#include "support/song_builder.h"
#include "tuning/intonation_quality.h"

namespace velorna {
namespace {

constexpr double kPureTolerance = 0.1;
constexpr double kDriftLimit = 10.0;

IntonationNote At(double start, double end, int key, int voice = 0) {
  IntonationNote n;
  n.start = start;
  n.end = end;
  n.key = key;
  n.velocity = 100;
  n.voice = voice;
  return n;
}

double IntervalCents(const std::vector<IntonationNote>& notes, const std::vector<double>& x,
                     size_t low, size_t high) {
  return (notes[high].key - notes[low].key) * kCentsPerSemitone + x[high] - x[low];
}

double Cents(double ratio) {
  return kCentsPerOctave * std::log2(ratio);
}

// Four voices, one chord a second: C-E-G-C, A-E-A-C, D-F-A-D... in close position, each
// voice moving to the nearest tone so that common tones are struck again.
std::vector<IntonationNote> CommaPump(int rounds) {
  const int chords[4][4] = {{48, 64, 67, 72}, {45, 64, 69, 72}, {50, 65, 69, 74}, {43, 62, 67, 71}};
  std::vector<IntonationNote> notes;
  double t = 0;
  for (int r = 0; r < rounds; ++r) {
    for (const auto& chord : chords) {
      for (int v = 0; v < 4; ++v) notes.push_back(At(t, t + 1, chord[v], v));
      t += 1;
    }
  }
  for (int v = 0; v < 4; ++v) notes.push_back(At(t, t + 2, chords[0][v], v));
  return notes;
}

// The same with every common tone held into the next chord: one note, one pitch, so pure
// chords round the loop would fall a comma each time.
std::vector<IntonationNote> Held(const std::vector<IntonationNote>& struck) {
  std::vector<IntonationNote> held;
  for (const IntonationNote& n : struck) {
    auto same = std::find_if(held.rbegin(), held.rend(),
                             [&](const IntonationNote& h) { return h.voice == n.voice; });
    if (same != held.rend() && same->key == n.key && same->end == n.start) {
      same->end = n.end;
    } else {
      held.push_back(n);
    }
  }
  return held;
}

TEST(AdaptiveIntonation, ChordsComePure) {
  // A major triad alone is 4:5:6.
  const std::vector<IntonationNote> triad{At(0, 2, 60), At(0, 2, 64), At(0, 2, 67)};
  const std::vector<double> x = ChooseAdaptivePitches(triad);
  EXPECT_NEAR(IntervalCents(triad, x, 0, 1), Cents(5.0 / 4), kPureTolerance);
  EXPECT_NEAR(IntervalCents(triad, x, 1, 2), Cents(6.0 / 5), kPureTolerance);
  EXPECT_NEAR(IntervalCents(triad, x, 0, 2), Cents(3.0 / 2), kPureTolerance);
  // Alone, it sits at the reference: its mean pitch is equal temperament's.
  EXPECT_NEAR((x[0] + x[1] + x[2]) / 3, 0.0, kPureTolerance);

  // A held C under C major and then A minor keeps one pitch by construction, and both
  // chords are pure against it: the comma goes into the voices that move.
  const std::vector<IntonationNote> held{At(0, 2, 48), At(0, 1, 64), At(0, 1, 67), At(1, 2, 64),
                                         At(1, 2, 69)};
  const std::vector<double> y = ChooseAdaptivePitches(held);
  EXPECT_NEAR(IntervalCents(held, y, 0, 1), Cents(5.0 / 2), kPureTolerance);
  EXPECT_NEAR(IntervalCents(held, y, 0, 2), Cents(3.0), kPureTolerance);
  EXPECT_NEAR(IntervalCents(held, y, 0, 4), Cents(10.0 / 3), kPureTolerance);
  EXPECT_NEAR(IntervalCents(held, y, 3, 4), Cents(4.0 / 3), kPureTolerance);
}

TEST(AdaptiveIntonation, CommaPumpDoesNotDrift) {
  constexpr int kRounds = 8;
  const std::vector<IntonationNote> notes = CommaPump(kRounds);
  const std::vector<double> x = ChooseAdaptivePitches(notes);
  EXPECT_LT(MeasureIntonation(notes, x).drift, kDriftLimit);
  const std::vector<IntonationNote> held = Held(notes);
  ASSERT_LT(held.size(), notes.size());
  EXPECT_LT(MeasureIntonation(held, ChooseAdaptivePitches(held)).drift, kDriftLimit);
  // Struck again, the common tones take up the comma, and every chord's fifths and thirds stay
  // close to pure (the comma is spread over the steps).
  for (size_t c = 0; c < notes.size(); c += 4) {
    for (size_t a = c; a < c + 4; ++a) {
      for (size_t b = a + 1; b < c + 4; ++b) {
        const double size = IntervalCents(notes, x, a, b);
        const double deviation = size - (notes[b].key - notes[a].key) * kCentsPerSemitone;
        EXPECT_NEAR(deviation, JustDeviationCents(notes[b].key - notes[a].key, size), 2.0);
      }
    }
  }
}

// Random progressions of a major key's chords (vii and V7 among them), four voices moving to
// the nearest chord tone, common tones held or struck again. Summed, adaptive is far purer
// than the fixed scale on each progression's best tonic; on one it may lose a third of a cent
// (the consonance weights spare a fifth at a tritone's cost, the plain count does not).
TEST(AdaptiveIntonation, ProgressionsComePurerThanTheBestFixedScale) {
  const std::vector<std::vector<int>> chords{{0, 4, 7},  {2, 5, 9}, {4, 7, 11}, {5, 9, 0},
                                             {7, 11, 2}, {9, 0, 4}, {11, 2, 5}, {7, 11, 2, 5}};
  constexpr std::array<int, 4> kHome{42, 49, 58, 66};  // the lowest key each voice may take
  std::mt19937 random(1706);
  double adaptiveTotal = 0;
  double fixedTotal = 0;
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<IntonationNote> notes;
    std::array<int, 4> last{-1, -1, -1, -1};  // each voice's sounding note
    const auto key = static_cast<int>(random() % kPitchClassCount);
    const auto count = 8 + static_cast<int>(random() % 24);
    for (int c = 0; c < count; ++c) {
      const std::vector<int>& chord = chords[random() % chords.size()];
      for (size_t v = 0; v < kHome.size(); ++v) {
        const int pc = (chord[v == 0 ? 0 : v % chord.size()] + key - kHome[v] + 24) % 12;
        const int prev = last[v] < 0 ? kHome[v] + 6 : notes[static_cast<size_t>(last[v])].key;
        int k = kHome[v] + pc;  // or an octave up, when nearer
        if (pc < 6 && std::abs(k + 12 - prev) < std::abs(k - prev)) k += 12;
        if (last[v] >= 0 && prev == k && random() % 2 == 0) {
          notes[static_cast<size_t>(last[v])].end = c + 1;
        } else {
          last[v] = static_cast<int>(notes.size());
          notes.push_back(At(c, c + 1, k, static_cast<int>(v)));
        }
      }
    }
    const IntonationQuality adaptive = MeasureIntonation(notes, ChooseAdaptivePitches(notes));
    IntonationQuality fixed;
    for (int tonic = 0; tonic < kPitchClassCount; ++tonic) {
      std::vector<double> cents;
      for (const IntonationNote& n : notes) cents.push_back(JustScaleCents(n.key - tonic));
      const IntonationQuality q = MeasureIntonation(notes, cents);
      if (tonic == 0 || q.mean < fixed.mean) fixed = q;
    }
    EXPECT_LE(adaptive.mean, fixed.mean + 0.33) << "trial " << trial;
    EXPECT_LT(adaptive.drift, kDriftLimit) << "trial " << trial;
    adaptiveTotal += adaptive.mean;
    fixedTotal += fixed.mean;
  }
  EXPECT_LT(adaptiveTotal, 0.6 * fixedTotal);
}

TEST(AdaptiveIntonation, RandomTexturesGiveBoundedRepeatablePitches) {
  std::mt19937 random(22);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<IntonationNote> notes;
    const int count = 1 + static_cast<int>(random() % 300);
    for (int i = 0; i < count; ++i) {
      const double start = (random() % 6000) / 100.0;
      IntonationNote n = At(start, start + (random() % 800) / 100.0, 21 + random() % 88,
                            static_cast<int>(random() % 16));
      n.velocity = static_cast<int>(random() % 128);
      n.nominal = static_cast<double>(random() % 41) - 20;
      if (random() % 10 == 0) n.fixed = n.nominal;
      notes.push_back(n);
    }
    // Notes no song has: they keep their nominal pitch and disturb nothing.
    IntonationNote nan = At(std::nan(""), 1, 60);
    IntonationNote backwards = At(3, 2, 60);
    IntonationNote endless = At(0, 1e300, 60);
    IntonationNote offKeyboard = At(0, 1, 1000);
    for (IntonationNote* n : {&nan, &backwards, &endless, &offKeyboard}) {
      n->nominal = 7;
      notes.push_back(*n);
    }
    const std::vector<double> x = ChooseAdaptivePitches(notes);
    const std::vector<double> again = ChooseAdaptivePitches(notes);
    ASSERT_EQ(x.size(), notes.size());
    EXPECT_EQ(std::memcmp(x.data(), again.data(), x.size() * sizeof(double)), 0);
    // An octave higher everywhere is the same problem, solved to the same bits.
    std::vector<IntonationNote> up = notes;
    for (IntonationNote& n : up) n.key += kPitchClassCount;
    const std::vector<double> upX = ChooseAdaptivePitches(up);
    EXPECT_EQ(std::memcmp(x.data(), upX.data(), x.size() * sizeof(double)), 0);
    for (size_t i = x.size() - 4; i < x.size(); ++i) EXPECT_EQ(x[i], 7.0);
    for (size_t i = 0; i < x.size(); ++i) {
      ASSERT_TRUE(std::isfinite(x[i]));
      EXPECT_LE(std::abs(x[i] - notes[i].nominal), 50.0);
      if (notes[i].fixed) {
        EXPECT_EQ(x[i], *notes[i].fixed);
      }
    }
  }
}

TEST(AdaptiveIntonation, SongNotesFollowTheTempoAndLeaveDrumsAlone) {
  // 480 ticks a quarter; the tempo halves the second beat's length. Channel 3 becomes a GS
  // rhythm part after its first note: its later note is a drum sound, like channel 10's.
  auto song = test::MakeSong(
      {test::Note(0, 0, 60, 960), test::Note(0, 0, 64, 960), test::Note(0, 0, 67, 960),
       test::Note(0, 2, 55, 960), test::RhythmPart(0, 2, 1), test::Note(0, 2, 62, 960),
       test::Tempo(480, 250000), test::Note(0, 9, 38, 240), test::EndOfTrack(480)});
  const KeyTable keys = KeyTableFromCents({});
  const SongNotes found = IntonationNotesOfSong(*song, keys);
  ASSERT_EQ(found.notes.size(), 4u);
  EXPECT_DOUBLE_EQ(found.notes[0].end, 0.75);
  EXPECT_EQ(found.eventIndex.back(), 3);
  const Tuning tuning = AdaptiveTuning(*song, keys);
  ASSERT_EQ(tuning.notes.size(), song->track->events.size());
  EXPECT_NEAR(*tuning.notes[1] - *tuning.notes[0], Cents(5.0 / 4) - 400, kPureTolerance);
  EXPECT_NEAR(*tuning.notes[0] - *tuning.notes[3], Cents(4.0 / 3) - 500, kPureTolerance);
  EXPECT_EQ(*tuning.notes[5], 0.0);  // the rhythm part's and the drum's notes keep their
  EXPECT_EQ(*tuning.notes[7], 0.0);  // keys' targets
}

}  // namespace
}  // namespace velorna
