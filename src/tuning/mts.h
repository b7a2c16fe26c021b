// The MIDI Tuning Standard's pitch words and messages: what a tuning becomes when a
// synthesizer is told it, and what a song that tells one asks for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "tuning/tuning.h"

namespace velorna {

// Three data bytes: the semitone below the pitch (key number), then 14 bits of a semitone
// above it. 7F 7F 7F means "no change".
using MtsPitch = std::array<uint8_t, 3>;
// The message forms (the byte after sub-ID 08) and the bulk dump's name length.
namespace mts {
inline constexpr uint8_t kBulkDump = 0x01;
inline constexpr uint8_t kSingleNote = 0x02;
inline constexpr uint8_t kBankBulkDump = 0x04;
inline constexpr uint8_t kBankSingleNote = 0x07;
inline constexpr uint8_t kOctaveOneByte = 0x08;
inline constexpr uint8_t kOctaveTwoBytes = 0x09;
inline constexpr int kNameBytes = 16;
}  // namespace mts
inline constexpr int kMtsFractionSteps = 1 << 14;
inline constexpr uint8_t kMtsAllDevices = 0x7F;

// Pitch in cents above key 0's equal-tempered pitch (key * 100 + offset), to the nearest
// step; held within what the word can say. Nothing for "no change".
MtsPitch EncodeMtsPitch(double absoluteCents);
std::optional<double> DecodeMtsPitch(std::span<const uint8_t, 3> word);

// Absolute cents of `key` sounding at `target`.
inline double AbsoluteCents(int key, double target) {
  return key * kCentsPerSemitone + target;
}

// System exclusive messages as a track holds them: F0, the body, F7 (no length field).
using SysExBytes = std::vector<uint8_t>;

// Non-real-time bulk dump (08 01) of tuning program `program`: every key's pitch from `keys`
// (an unmapped key keeps its equal-tempered pitch).
SysExBytes MtsBulkDump(int program, const KeyTable& keys);
// Real-time single-note tuning change (08 02) of one key of `program`.
SysExBytes MtsSingleNoteChange(int program, int key, double absoluteCents);
// The same for every key of `keys` (an unmapped key at its equal-tempered pitch), in as few
// messages as the count byte allows: receivers that take no bulk dump (FluidSynth) learn
// the tuning from these.
std::vector<SysExBytes> MtsAllKeysChange(int program, const KeyTable& keys);

}  // namespace velorna
