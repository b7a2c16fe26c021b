// WAV file image → read, brought to 44100 Hz 16-bit stereo and added into a one-second mix.
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio/mix_accumulator.h"
#include "fuzz_reporter.h"

using namespace velorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckingReporter reporter;
  CWaveData wave = ReadWaveImage(reporter, std::span<const uint8_t>(data, size));
  if (wave.samples.empty()) return 0;
  auto acc = CreateMixAccumulator(reporter, 1);
  fuzz::Require(acc.has_value(), "a one-second accumulator");
  const size_t frames = FrameCount(*acc);
  const bool added = MixWaveData(reporter, *acc, std::move(wave));
  fuzz::Require(added || reporter.count > 0, "a refused rendering is reported");
  fuzz::Require(FrameCount(*acc) == frames, "the mix keeps its length");
  return 0;
}
