#include "support/whole_mix.h"

namespace velorna {

bool WriteSoundFile(Reporter& reporter, const MixAccumulator& acc, const OutputFormat& format,
                    const std::string& path) {
  const auto frames = static_cast<int64_t>(FrameCount(acc));
  const auto stream = SoundFileStream::Open(reporter, acc.format, format, path, frames, frames);
  return stream && stream->Put(SumsAsMix(acc.sum)) && stream->Close();
}

bool WriteMixAccumulator(Reporter& reporter, const MixAccumulator& acc, const std::string& path) {
  const auto frames = static_cast<int64_t>(FrameCount(acc));
  const auto stream = SoundFileStream::Open(reporter, acc.format, {}, path, frames, frames, true);
  return stream && stream->Put(SumsAsMix(acc.sum)) && stream->Close();
}

}  // namespace velorna
