// Numbers of the MIDI standard that the song editing and the retuning look for.
#pragma once

#include <cstdint>

namespace velorna {

// Controllers, as MidiEvent::kind of a control change.
namespace cc {
inline constexpr uint32_t kBankSelect = 0;
inline constexpr uint32_t kDataEntryMsb = 6;
inline constexpr uint32_t kBankSelectLsb = 32;
inline constexpr uint32_t kDataEntryLsb = 38;
inline constexpr uint32_t kSustain = 64;
inline constexpr uint32_t kSostenuto = 66;
inline constexpr uint32_t kPortamentoControl = 84;
inline constexpr uint32_t kDataIncrement = 96;
inline constexpr uint32_t kDataDecrement = 97;
inline constexpr uint32_t kNrpnLsb = 98;
inline constexpr uint32_t kNrpnMsb = 99;
inline constexpr uint32_t kRpnLsb = 100;
inline constexpr uint32_t kRpnMsb = 101;
inline constexpr uint32_t kFirstChannelMode = 120;  // 120..127: the channel mode messages
inline constexpr uint32_t kResetAll = 121;
}  // namespace cc

// Registered parameter numbers and values.
namespace rpn {
inline constexpr int kBendRangeMsb = 0;
inline constexpr int kBendRangeLsb = 0;
inline constexpr int kNull = 127;
inline constexpr int kFineTune = 1;
inline constexpr int kCoarseTune = 2;
inline constexpr int kTuningProgram = 3;  // MIDI Tuning Standard: the channel's tuning
inline constexpr int kTuningBank = 4;
// The bend range a synthesizer starts with, in semitones.
inline constexpr int kDefaultBendRange = 2;
}  // namespace rpn

inline constexpr int kPedalDown = 64;  // a pedal value from here up holds
inline constexpr int kCentreBend = 8192;
inline constexpr int kMaxBend = 16383;
inline constexpr int kDataBits = 7;  // bits of one data byte
inline constexpr int kDataMask = 127;
inline constexpr int kLowestKey = 0;
inline constexpr int kHighestKey = 127;
inline constexpr int kMidiChannels = 16;
// A channel message's status byte: its type in the high nibble, its channel in the low one.
inline constexpr uint32_t kStatusTypeMask = 0xF0;
inline constexpr uint32_t kStatusChannelMask = 0x0F;

}  // namespace velorna
