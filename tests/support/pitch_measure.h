// Pitch measurement for tests: the strongest frequency in a stretch of samples.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace velorna::test {

// Frequency in Hz of the strongest spectral peak between lowHz and highHz, refined by
// parabolic interpolation of the log magnitude of a Hann-windowed, zero-padded FFT.
double PeakFrequency(std::span<const float> samples, double sampleRate, double lowHz,
                     double highHz);

// Left channel of interleaved 16-bit stereo as floats, frames [first, first + count).
std::vector<float> LeftChannel(std::span<const int16_t> stereo, size_t first, size_t count);

}  // namespace velorna::test
