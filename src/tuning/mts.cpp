#include "tuning/mts.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace velorna {
namespace {

constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
constexpr uint8_t kNonRealTime = 0x7E;
constexpr uint8_t kRealTime = 0x7F;
constexpr uint8_t kTuningStandard = 0x08;
constexpr uint8_t kNoChange = 0x7F;
constexpr int kTopWord = kKeyCount * kMtsFractionSteps - 2;  // 7F 7F 7E: 7F 7F 7F is "no change"

}  // namespace

MtsPitch EncodeMtsPitch(double absoluteCents) {
  const double steps = std::round(absoluteCents / kCentsPerSemitone * kMtsFractionSteps);
  const auto word = static_cast<int>(std::clamp(steps, 0.0, static_cast<double>(kTopWord)));
  const int fraction = word % kMtsFractionSteps;
  return {static_cast<uint8_t>(word / kMtsFractionSteps), static_cast<uint8_t>(fraction >> 7),
          static_cast<uint8_t>(fraction & 0x7F)};
}

std::optional<double> DecodeMtsPitch(std::span<const uint8_t, 3> word) {
  if (word[0] == kNoChange && word[1] == kNoChange && word[2] == kNoChange) return std::nullopt;
  const int fraction = ((word[1] & 0x7F) << 7) | (word[2] & 0x7F);
  return (word[0] & 0x7F) * kCentsPerSemitone + fraction * kCentsPerSemitone / kMtsFractionSteps;
}

SysExBytes MtsBulkDump(int program, const KeyTable& keys) {
  SysExBytes out{kSysExStart,     kNonRealTime,   kMtsAllDevices,
                 kTuningStandard, mts::kBulkDump, static_cast<uint8_t>(program & 0x7F)};
  constexpr std::string_view kName = "Velorna";
  for (int i = 0; i < mts::kNameBytes; ++i)
    out.push_back(i < static_cast<int>(kName.size()) ? static_cast<uint8_t>(kName[i]) : ' ');
  for (int key = 0; key < kKeyCount; ++key) {
    const KeyTarget& target = keys[static_cast<size_t>(key)];
    const MtsPitch word = EncodeMtsPitch(AbsoluteCents(key, target.value_or(0.0)));
    out.insert(out.end(), word.begin(), word.end());
  }
  // The checksum is the exclusive or of the bytes after F0, kept to seven bits.
  uint8_t sum = 0;
  for (size_t i = 1; i < out.size(); ++i) sum ^= out[i];
  out.push_back(sum & 0x7F);
  out.push_back(kSysExEnd);
  return out;
}

namespace {

constexpr int kKeysPerChange = 64;  // the count byte holds up to 127

SysExBytes NoteChanges(int program, int firstKey, int count, const KeyTable* keys, double single) {
  SysExBytes out{kSysExStart,
                 kRealTime,
                 kMtsAllDevices,
                 kTuningStandard,
                 mts::kSingleNote,
                 static_cast<uint8_t>(program & 0x7F),
                 static_cast<uint8_t>(count)};
  for (int key = firstKey; key < firstKey + count; ++key) {
    const double cents =
        keys ? AbsoluteCents(key, (*keys)[static_cast<size_t>(key)].value_or(0.0)) : single;
    const MtsPitch word = EncodeMtsPitch(cents);
    out.push_back(static_cast<uint8_t>(key & 0x7F));
    out.insert(out.end(), word.begin(), word.end());
  }
  out.push_back(kSysExEnd);
  return out;
}

}  // namespace

SysExBytes MtsSingleNoteChange(int program, int key, double absoluteCents) {
  return NoteChanges(program, key, 1, nullptr, absoluteCents);
}

std::vector<SysExBytes> MtsAllKeysChange(int program, const KeyTable& keys) {
  std::vector<SysExBytes> out;
  for (int first = 0; first < kKeyCount; first += kKeysPerChange)
    out.push_back(NoteChanges(program, first, kKeysPerChange, &keys, 0));
  return out;
}

}  // namespace velorna
