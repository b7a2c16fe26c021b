// A whole mix held in memory written out at once: what the tests and benches compare the
// streamed output with.
#pragma once

#include <string>

#include "audio/mix_accumulator.h"
#include "audio/sound_file_writer.h"

namespace velorna {

// Writes the mix to `path` in the type its extension names. A 16-bit WAV at unity gain is
// exactly what WriteMixAccumulator writes. The file is replaced only once complete; on
// failure the reason has been shown and nothing is left behind.
bool WriteSoundFile(Reporter& reporter, const MixAccumulator& acc, const OutputFormat& format,
                    const std::string& path);

// Writes the accumulator as a 16-bit WAV, every sum saturated to -32768..32767, whatever
// the name's extension. Shows "ファイルが開けませんでした。" and returns false on failure.
bool WriteMixAccumulator(Reporter& reporter, const MixAccumulator& acc, const std::string& path);

}  // namespace velorna
