// Writes the final mix as the sound file its name asks for: the program's own 16-bit WAV, or
// 24-bit and float WAV, FLAC and AIFF through libsndfile, with an optional gain, peak
// normalization or loudness target. The mix is written as it is finished, in song order,
// so no whole-song buffer is needed; its level is measured on the way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "audio/mix_accumulator.h"
#include "audio/mix_sink.h"
#include "base/limits.h"
#include "base/reporter.h"

namespace velorna {

enum class SoundFileType { kWav, kFlac, kAiff };

inline constexpr int kPlainBits = 16;
inline constexpr int kHighBits = 24;
inline constexpr int kFloatBits = 32;  // 32-bit float samples (WAV and AIFF)
// Where --normalize puts the mix's highest sample.
inline constexpr double kNormalizedPeakDb = -1.0;
// The ceiling a loudness target keeps the true peak under unless told otherwise.
inline constexpr double kDefaultTruePeakDb = -1.0;

// How the mix is shaped into samples; the container follows the output's extension.
struct OutputFormat {
  int bits = kPlainBits;   // kPlainBits, kHighBits or kFloatBits
  double gainDb = 0.0;     // applied to the whole mix, after normalizing or the loudness target
  bool normalize = false;  // scale so that the peak lands on kNormalizedPeakDb
  // Scale to this integrated loudness (LUFS), or less where the true peak would pass
  // truePeakDb first. Excludes normalize.
  std::optional<double> loudness{};
  double truePeakDb = kDefaultTruePeakDb;
  bool measureRange = false;  // also measure the loudness range
  // One of kOutputRates: the synthesizer renders at it, and the mix is made at it.
  int sampleRate = kSampleRate;
};

// The type an extension names (".wav", ".flac", ".aiff", ".aif", any case); nullopt for
// any other.
std::optional<SoundFileType> SoundFileTypeForExtension(std::string_view extension);
// The type a path's extension names. An existing device or FIFO named without an extension
// takes WAV; any other name without one names no type.
std::optional<SoundFileType> SoundFileTypeFor(const std::string& path);

// An output written in song order as the mix is finished. Frames past the song's own length
// that are silent are held back and written only when sound follows, so the file ends where
// the sound does (never before the song's own length). A regular output gets its header
// sizes when it is closed; any other (a device, a FIFO) is written through an unnamed
// temporary file and copied in at the close, so it gets the same bytes. --normalize keeps
// the mix in an unnamed temporary file and scales it in a second pass at the close; so does a
// loudness target.
// The output's name is replaced only by a complete Close().
class SoundFileStream : public MixSink {
 public:
  // The output's type comes from `path` (WAV when `plainWav`, whatever the extension), or
  // is `type` where the name cannot tell it (standard output).
  // `minFrames` are always written; frames from `maxFrames` on are dropped. Nullptr when
  // the output cannot be opened or its size is foreseen past the container's limit (the
  // reason has been shown).
  static std::unique_ptr<SoundFileStream> Open(Reporter& reporter, const CWaveData& mixFormat,
                                               const OutputFormat& format, const std::string& path,
                                               int64_t minFrames, int64_t maxFrames,
                                               bool plainWav = false,
                                               std::optional<SoundFileType> type = {});

  // The next song frame this stream takes. Of the mix it takes, a frame counts as silent,
  // to be held back past the song's length, when both its samples round to 0 at 16 bits; a
  // Stop (EndAt) leaves nothing after it, not even silence up to the song's own length.
  virtual int64_t position() const = 0;
  // Writes what is held to the song's own length, the sizes, and puts the file in place.
  virtual bool Close() = 0;
  // The output's level as written; complete once Close() succeeded.
  virtual OutputLevel level() const = 0;
};

// Whether a file of `type` can hold samples of `format` (FLAC holds no float samples).
[[nodiscard]] bool FormatFitsType(const OutputFormat& format, SoundFileType type);

// A frame of the mix that rounds to silence at 16 bits.
[[nodiscard]] bool RoundsToSilence(float left, float right);

}  // namespace velorna
