#include "support/pitch_measure.h"

#include <cmath>
#include <complex>
#include <numbers>

namespace velorna::test {

namespace {

void Fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const double angle = -2 * std::numbers::pi / static_cast<double>(len);
    const std::complex<double> w(std::cos(angle), std::sin(angle));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> wk(1);
      for (size_t k = 0; k < len / 2; ++k, wk *= w) {
        const auto u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

}  // namespace

double PeakFrequency(std::span<const float> samples, double sampleRate, double lowHz,
                     double highHz) {
  size_t n = 1;
  while (n < samples.size() * 8) n <<= 1;  // zero padding: finer bins to interpolate between
  std::vector<std::complex<double>> a(n);
  const double m = static_cast<double>(samples.size());
  for (size_t i = 0; i < samples.size(); ++i)
    a[i] = samples[i] * (0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / m));
  Fft(a);
  const double binHz = sampleRate / static_cast<double>(n);
  const auto lo = static_cast<size_t>(lowHz / binHz), hi = static_cast<size_t>(highHz / binHz);
  size_t best = lo + 1;
  for (size_t k = lo + 1; k < hi; ++k)
    if (std::abs(a[k]) > std::abs(a[best])) best = k;
  const double y0 = std::log(std::abs(a[best - 1]) + 1e-30),
               y1 = std::log(std::abs(a[best]) + 1e-30),
               y2 = std::log(std::abs(a[best + 1]) + 1e-30);
  const double shift = 0.5 * (y0 - y2) / (y0 - 2 * y1 + y2);
  return (static_cast<double>(best) + shift) * binHz;
}

std::vector<float> LeftChannel(std::span<const int16_t> stereo, size_t first, size_t count) {
  std::vector<float> out;
  out.reserve(count);
  for (size_t i = first; i < first + count && 2 * i < stereo.size(); ++i)
    out.push_back(static_cast<float>(stereo[2 * i]) / 32768.0f);
  return out;
}

}  // namespace velorna::test
