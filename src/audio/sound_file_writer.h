// Writes the final mix as the sound file its name asks for: the program's own 16-bit WAV, or
// 24-bit WAV, FLAC and AIFF through libsndfile, with an optional gain or peak normalization.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "audio/mix_accumulator.h"
#include "base/limits.h"
#include "base/reporter.h"

namespace velorna {

enum class SoundFileType { kWav, kFlac, kAiff };

inline constexpr int kPlainBits = 16;
inline constexpr int kHighBits = 24;
// Where --normalize puts the mix's highest sample.
inline constexpr double kNormalizedPeakDb = -1.0;

// How the mix is shaped into samples; the container follows the output's extension.
struct OutputFormat {
  int bits = kPlainBits;   // kPlainBits or kHighBits
  double gainDb = 0.0;     // applied to the whole mix, after normalizing
  bool normalize = false;  // scale so that the peak lands on kNormalizedPeakDb
  // One of kOutputRates: the synthesizer renders at it, and the mix is made at it.
  int sampleRate = kSampleRate;
};

// The type an extension names (".wav", ".flac", ".aiff", ".aif", any case); nullopt for
// any other.
std::optional<SoundFileType> SoundFileTypeForExtension(std::string_view extension);
// The type a path's extension names. An existing device or FIFO named without an extension
// takes WAV; any other name without one names no type.
std::optional<SoundFileType> SoundFileTypeFor(const std::string& path);

// Writes the mix to `path` in the type its extension names. A 16-bit WAV at unity gain is
// exactly what WriteMixAccumulator writes. The file is replaced only once complete; on
// failure the reason has been shown and nothing is left behind.
bool WriteSoundFile(Reporter& reporter, const MixAccumulator& acc, const OutputFormat& format,
                    const std::string& path);

}  // namespace velorna
