// A short song for hearing a tuning's pitches and intervals through the preview player:
// each pitch class of the middle octave as a held tone, then the major and the minor triad
// on each, one sound per slot. The slots lie so far apart that nothing of one sounds in the
// next, so a seek to a slot plays that sound alone, planned and rendered as a conversion
// plays any note.
#pragma once

#include <cstdint>
#include <vector>

namespace velorna {

enum class AuditionSound { kTone, kMajorTriad, kMinorTriad };

inline constexpr double kAuditionToneSeconds = 1.5;
// The tone, its release and the tails a seek still renders (render_synth's tail limit).
inline constexpr int kAuditionSlotSeconds = 7;
inline constexpr int kAuditionVelocity = 100;

// The song as a Standard MIDI File; `program` is the General MIDI program (0-127) of its
// one channel.
[[nodiscard]] std::vector<uint8_t> AuditionSongBytes(int program);

// Where the sound on `pitchClass` (0 = C) starts in the song, and where it has faded.
struct AuditionSlot {
  int64_t startFrame = 0;
  int64_t endFrame = 0;
};
[[nodiscard]] AuditionSlot AuditionSlotOf(AuditionSound sound, int pitchClass, int sampleRate);

}  // namespace velorna
