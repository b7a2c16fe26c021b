// AIFF file image → the sound in WAV form, as each rendering is converted.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/aiff_data.h"
#include "fuzz_reporter.h"

using namespace velorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::CheckingReporter reporter;
  const CAiffData aiff(reporter, std::vector<uint8_t>(data, data + size));
  CWaveData wave;
  if (!AiffToWaveData(reporter, aiff, wave)) {
    fuzz::Require(reporter.count > 0, "a refused AIFF file is reported");
    return 0;
  }
  fuzz::Require(wave.blockAlign > 0 && wave.samples.size() % wave.blockAlign == 0,
                "whole frames only");
  fuzz::Require(wave.byteRate == uint64_t{wave.blockAlign} * wave.sampleRate,
                "the byte rate of the frame size");
  fuzz::Require(wave.samples.size() <= size, "no more sound than the file holds");
  const auto header = MakeWaveHeader(wave, SampleBytes(wave));
  fuzz::Require(header[0] == 'R' && header[8] == 'W', "a WAV header");
  return 0;
}
