// What a tuning is, whatever produced it: a target pitch for every MIDI key, and optionally
// one chosen for each note of a song. Scale files, presets, Scala files, adaptive
// intonation, the command line and the dialog all speak this; the engines render it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace velorna {

inline constexpr int kPitchClassCount = 12;
inline constexpr int kKeyCount = 128;
inline constexpr int kA4Key = 69;
inline constexpr double kStandardA4Hz = 440.0;
inline constexpr double kCentsPerSemitone = 100.0;
inline constexpr double kCentsPerOctave = 1200.0;

// Twelve offsets in cents from equal temperament, C..B: the form the dialog, the command
// line and scale files speak.
using CentTable = std::array<double, kPitchClassCount>;
// Pure intervals above C: 1/1 16/15 9/8 6/5 5/4 4/3 45/32 3/2 8/5 5/3 9/5 15/8, to whole cents.
inline constexpr CentTable kPureIntervalCents{0, 12, 4, 16, -14, -2, -10, 2, 14, -16, 18, -12};

// Where a key sounds: cents from that key's own equal-tempered pitch at A4 = 440 Hz.
// No value: the tuning leaves the key unmapped, and its notes silent.
using KeyTarget = std::optional<double>;
using KeyTable = std::array<KeyTarget, kKeyCount>;

// Cents a reference pitch moves every key by: 1200 * log2(a4Hz / 440).
double ReferenceShiftCents(double a4Hz);
// Every octave alike from twelve offsets, moved by the reference pitch.
KeyTable KeyTableFromCents(const CentTable& cents, double a4Hz = kStandardA4Hz);
// Frequency of `key` sounding `cents` from its equal-tempered pitch at A4 = 440 Hz.
double KeyFrequencyHz(int key, double cents);

// A channel tuned apart from the rest: its notes sound at these keys' targets.
struct ChannelKeys {
  int channel = 0;  // 0-15
  KeyTable keys{};
};

// The tuning a conversion renders. A note sounds at its key's target unless the tuning chose
// a pitch for that note itself; `notes` is then indexed by the note's event index in the
// prepared song's note track (entries of other events are ignored).
struct Tuning {
  KeyTable keys = KeyTableFromCents(kPureIntervalCents);
  std::vector<KeyTarget> notes;
  // As asked, before PlayedTuning turns them into `notes`; the engines read only `notes`.
  std::vector<ChannelKeys> channels{};
};

KeyTarget TargetOf(const Tuning& tuning, int32_t eventIndex, int key);

}  // namespace velorna
