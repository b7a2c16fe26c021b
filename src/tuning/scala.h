// Scala scale (.scl) and keyboard mapping (.kbm) files: read into a key table, written
// back from one. Errors are values naming the line, so the front ends say what is wrong.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tuning/tuning.h"

namespace velorna {

// Bounds that keep a hostile file cheap to read.
inline constexpr size_t kMaxScalaFileBytes = 1 << 20;
inline constexpr size_t kMaxScalaLineBytes = 4096;
inline constexpr int kMaxScaleNotes = 1024;
// Either way from 1/1: room for the whole keyboard and more.
inline constexpr double kMaxPitchCents = 20 * kCentsPerOctave;
inline constexpr int kMaxKeyboardMapSize = 1024;
inline constexpr int kMaxMapDegree = 100000;
inline constexpr double kMinReferenceHz = 0.01;
inline constexpr double kMaxReferenceHz = 1e6;
// Longest piece of a bad line quoted back in an error.
inline constexpr size_t kMaxErrorDetailBytes = 40;

enum class ScalaErrorKind {
  kNone,
  kCannotOpen,
  kNotRegularFile,
  kFileTooLarge,
  kNotText,
  kLineTooLong,
  kMissingDescription,
  kMissingCount,
  kBadCount,
  kTooManyNotes,
  kMissingPitch,
  kBadPitch,
  kNonPositiveRatio,
  kPitchOutOfRange,
  kExtraLine,
  kBadPeriod,
  kMissingField,     // .kbm: a header field is missing
  kBadField,         // .kbm: a header field is not a number
  kFieldOutOfRange,  // .kbm: a header field is out of its range
  kBadMapEntry,
  kTooManyMapEntries,
  kReferenceUnmapped,
  kBlankEntry,  // a blank line among a scale's pitches or a mapping's entries
};

struct ScalaError {
  ScalaErrorKind kind = ScalaErrorKind::kNone;
  int line = 0;        // 1-based; 0 for the file as a whole
  std::string detail;  // the offending text or the field concerned
};

// Pitches of degrees 1..n in cents above 1/1; the last is the period.
struct Scale {
  std::string description;
  std::vector<double> cents;
};

struct KeyboardMap {
  int mapSize = 0;  // 0: linear, one degree per key
  int firstKey = 0;
  int lastKey = kKeyCount - 1;
  int middleKey = 60;  // plays degree 0 (mapping entry 0)
  int referenceKey = 60;
  double referenceHz = 0;  // frequency of referenceKey
  int periodDegree = 0;    // degree one map repetition moves by; 0: the scale's size
  std::vector<std::optional<int>> mapping;  // entries past its end are unmapped
};

template <typename T>
struct ScalaRead {
  std::optional<T> value;
  ScalaError error;  // kind kNone when value is set
};

[[nodiscard]] ScalaRead<Scale> ParseScl(std::string_view text);
[[nodiscard]] ScalaRead<KeyboardMap> ParseKbm(std::string_view text);
// Regular files of at most kMaxScalaFileBytes; never blocks on a FIFO.
[[nodiscard]] ScalaRead<Scale> LoadScl(const std::string& path);
[[nodiscard]] ScalaRead<KeyboardMap> LoadKbm(const std::string& path);

// Degree 0 on key 60 at its equal-tempered pitch, one degree per key.
KeyboardMap DefaultKeyboardMap();
// The mapping moved by `semitones` keys, every pitch with it by as many equal-tempered
// semitones: the same tuning played from another key.
KeyboardMap TransposeKeyboardMap(const KeyboardMap& map, int semitones);
// Targets at A4 = 440 Hz (the map's reference frequency is absolute). Keys outside the
// map's first..last keep their equal-tempered pitch; keys mapped to "x" are unmapped.
KeyTable KeyTableFromScala(const Scale& scale, const KeyboardMap& map);

// A scale and mapping that read back to the same targets. Nullopt when no key is mapped, or
// when the targets lie beyond what the files may hold (kMaxPitchCents, the reference
// frequency's range).
struct ScalaFiles {
  Scale scale;
  KeyboardMap map;
};
[[nodiscard]] std::optional<ScalaFiles> ScalaFromKeyTable(const KeyTable& keys,
                                                          std::string description);
// Twelve offsets on a tonic as a twelve-note octave scale, degree 0 on the tonic nearest C4;
// with a reference pitch, moved so that A4 sounds at it.
ScalaFiles ScalaFromOffsets(const CentTable& offsets, int tonicPitchClass,
                            std::optional<double> a4Hz, std::string description);
std::string WriteScl(const Scale& scale);
std::string WriteKbm(const KeyboardMap& map);

// What the user is shown, in Japanese, naming the file and the line.
std::string ScalaErrorText(const ScalaError& error, const std::string& fileName);

}  // namespace velorna
