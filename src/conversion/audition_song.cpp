#include "conversion/audition_song.h"

#include <algorithm>
#include <array>

namespace velorna {

namespace {

constexpr int kPitchClasses = 12;
constexpr int kMiddleC = 60;
constexpr int kTicksPerBeat = 480;
constexpr int kMicrosecondsPerBeat = 500000;  // 120 beats a minute: two beats a second
constexpr int kTicksPerSecond = kTicksPerBeat * 1000000 / kMicrosecondsPerBeat;
// Where a sound's slot ends after it has stopped: its release, not yet the next slot.
constexpr double kAuditionFadeSeconds = 1.0;

constexpr std::array<std::array<int, 3>, 2> kTriads = {{{0, 4, 7}, {0, 3, 7}}};

void PutNumber(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutDelta(std::vector<uint8_t>& out, uint32_t ticks) {
  constexpr int kBits = 7;
  constexpr uint8_t kMore = 0x80;
  std::array<uint8_t, 5> groups{};
  int n = 0;
  do {
    groups[static_cast<size_t>(n++)] = static_cast<uint8_t>(ticks & 0x7F);
    ticks >>= kBits;
  } while (ticks != 0);
  while (n > 1) out.push_back(groups[static_cast<size_t>(--n)] | kMore);
  out.push_back(groups[0]);
}

int SlotIndex(AuditionSound sound, int pitchClass) {
  return static_cast<int>(sound) * kPitchClasses + pitchClass;
}

}  // namespace

std::vector<uint8_t> AuditionSongBytes(int program) {
  constexpr uint8_t kNoteOn = 0x90, kNoteOff = 0x80, kProgram = 0xC0;
  std::vector<uint8_t> track;
  const auto meta = [&](uint8_t type, std::vector<uint8_t> data) {
    PutDelta(track, 0);
    track.insert(track.end(), {0xFF, type, static_cast<uint8_t>(data.size())});
    track.insert(track.end(), data.begin(), data.end());
  };
  std::vector<uint8_t> tempo;
  PutNumber(tempo, kMicrosecondsPerBeat, 3);
  meta(0x51, tempo);
  PutDelta(track, 0);
  track.insert(track.end(), {kProgram, static_cast<uint8_t>(std::clamp(program, 0, 127))});
  const uint32_t slotTicks = kAuditionSlotSeconds * kTicksPerSecond;
  const auto toneTicks = static_cast<uint32_t>(kAuditionToneSeconds * kTicksPerSecond);
  uint32_t last = 0;
  for (const AuditionSound sound :
       {AuditionSound::kTone, AuditionSound::kMajorTriad, AuditionSound::kMinorTriad}) {
    for (int pc = 0; pc < kPitchClasses; ++pc) {
      std::vector<int> keys{kMiddleC + pc};
      if (sound != AuditionSound::kTone) {
        const auto& triad = kTriads[sound == AuditionSound::kMajorTriad ? 0 : 1];
        keys.assign({kMiddleC + pc + triad[0], kMiddleC + pc + triad[1], kMiddleC + pc + triad[2]});
      }
      const uint32_t start = static_cast<uint32_t>(SlotIndex(sound, pc)) * slotTicks;
      for (const uint8_t status : {kNoteOn, kNoteOff}) {
        const uint32_t at = status == kNoteOn ? start : start + toneTicks;
        for (const int key : keys) {
          PutDelta(track, at - last);
          last = at;
          track.insert(track.end(),
                       {status, static_cast<uint8_t>(key),
                        static_cast<uint8_t>(status == kNoteOn ? kAuditionVelocity : 0)});
        }
      }
    }
  }
  // The end lies a slot past the last sound, so its release is part of the song.
  PutDelta(track, slotTicks - toneTicks);
  track.insert(track.end(), {0xFF, 0x2F, 0x00});

  std::vector<uint8_t> smf{'M', 'T', 'h', 'd'};
  PutNumber(smf, 6, 4);
  PutNumber(smf, 0, 2);  // format 0
  PutNumber(smf, 1, 2);  // one track
  PutNumber(smf, kTicksPerBeat, 2);
  smf.insert(smf.end(), {'M', 'T', 'r', 'k'});
  PutNumber(smf, static_cast<uint32_t>(track.size()), 4);
  smf.insert(smf.end(), track.begin(), track.end());
  return smf;
}

AuditionSlot AuditionSlotOf(AuditionSound sound, int pitchClass, int sampleRate) {
  const int64_t start = int64_t{SlotIndex(sound, std::clamp(pitchClass, 0, kPitchClasses - 1))} *
                        kAuditionSlotSeconds * sampleRate;
  return {start,
          start + static_cast<int64_t>((kAuditionToneSeconds + kAuditionFadeSeconds) * sampleRate)};
}

}  // namespace velorna
