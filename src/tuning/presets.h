// Historical and just tunings laid on any tonic, as twelve offsets from equal temperament.
#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "tuning/tuning.h"

namespace velorna {

enum class PresetId {
  kEqual,
  kJust,
  kPythagorean,
  kMeantoneQuarter,
  kMeantoneSixth,
  kWerckmeister3,
  kKirnberger3,
  kVallotti,
  kYoung,
};
inline constexpr int kPresetCount = 9;

struct PresetInfo {
  PresetId id;
  const char* name;         // the command line's spelling
  const char* displayName;  // the dialog's
  const char* source;       // where its definition comes from
};

const std::array<PresetInfo, kPresetCount>& Presets();
const PresetInfo& PresetInfoOf(PresetId id);
// By name, in any case ("just", "Just").
std::optional<PresetId> FindPreset(std::string_view name);

// Cents of each scale degree above the tonic (degree 0 is 0).
CentTable PresetDegreeCents(PresetId id);
// Offsets from equal temperament per pitch class C..B with the preset laid on `tonicPitchClass`:
// degree d sounds on pitch class (tonic + d) % 12, and the tonic itself keeps its
// equal-tempered pitch, so its offset is 0.
CentTable PresetOffsets(PresetId id, int tonicPitchClass);

// The key selector's entries, Cb..C# around the circle of fifths, C at index 7.
inline constexpr int kTonicCount = 15;
inline constexpr int kDefaultTonicIndex = 7;
inline constexpr std::array<const char*, kTonicCount> kTonicNames{
    "Cb", "Gb", "Db", "Ab", "Eb", "Bb", "F", "C", "G", "D", "A", "E", "B", "F#", "C#"};
// Pitch class 0..11 (C = 0) of a key selector entry.
int TonicPitchClass(int tonicIndex);
// Semitones from C to the nearest key of that pitch class: -5..+6.
int NearestTonicShift(int tonicPitchClass);
// Index into kTonicNames, in any case ("f#", "bb", "Bb").
std::optional<int> FindTonic(std::string_view name);

// A table given on C moved to another tonic: pitch class (tonic + d) % 12 takes the offset
// of pitch class d.
CentTable TransposeOffsets(const CentTable& onC, int tonicPitchClass);

}  // namespace velorna
