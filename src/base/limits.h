// The fixed limits of the MIDI library and the audio side, in one place.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace velorna {

inline constexpr int32_t kTrackCapacity = 0x60000;                 // bytes of one track image
inline constexpr int32_t kSongCapacity = 0x60000;                  // bytes of one song image
inline constexpr int32_t kMaxEventsPerTrack = kTrackCapacity / 3;  // 131,072
inline constexpr int64_t kMaxSmfFileBytes = 0xEFFFF;               // largest file LoadSmf accepts
inline constexpr int kMaxFormat1Tracks = 64;                       // room in a format-1 song
inline constexpr int kSplitTrackCount = 17;                        // format 0 split by channel
inline constexpr int32_t kEventDataWarnSize = 256;                 // larger event data warns
inline constexpr int kEncodeReserve = 256;                         // room kept at a chunk's end
inline constexpr int kMaxTrackNameBytes = 127;  // longer joined names: "long name"
inline constexpr int kDefaultTempo = 500000;    // microseconds per quarter note
inline constexpr int64_t kMicrosecondsPerSecond = 1'000'000;
inline constexpr int kDrumChannel = 9;
inline constexpr int kNoChannel = 255;

inline constexpr int kSampleRate = 44100;  // the default output rate
// The rates an output may be rendered at: the synthesizer accepts up to the highest.
inline constexpr std::array<int, 3> kOutputRates = {kSampleRate, 48000, 96000};
constexpr bool IsOutputRate(int hz) {
  return std::find(kOutputRates.begin(), kOutputRates.end(), hz) != kOutputRates.end();
}
inline constexpr int kChannels = 2;
inline constexpr int kBlockFrames = 64;                           // synthesizer block, in frames
inline constexpr uint64_t kMaxWavDataBytes = 0xFFFFFFFFull - 36;  // RIFF size field limit

}  // namespace velorna
