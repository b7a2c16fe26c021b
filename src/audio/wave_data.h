// The program's one sound type: PCM samples in memory with the fields of a RIFF/WAVE
// header, the 44-byte header every WAV file is written with, and in-place conversions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/reporter.h"

namespace velorna {

inline constexpr size_t kWaveHeaderBytes = 44;
inline constexpr uint16_t kWaveFormatPcm = 1;
inline constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

struct CWaveData {
  std::array<char, 4> riffId{};  // as read; writers emit the constants
  uint32_t riffSize = 0;
  std::array<char, 4> waveId{};
  std::array<char, 4> fmtId{};
  uint32_t fmtSize = 0;
  uint16_t formatTag = 0;  // an extensible PCM file reads as 1
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  std::array<char, 4> dataId{};
  uint32_t dataSize = 0;
  // Interleaved frames, left before right; sampleBytes is samples.size().
  std::vector<uint8_t> samples;
};

inline uint64_t SampleBytes(const CWaveData& wave) {
  return wave.samples.size();
}

// The header for `sampleBytes` bytes of sound in wave's format (its own samples are not
// looked at). sampleBytes must not exceed kMaxWavDataBytes.
std::array<uint8_t, kWaveHeaderBytes> MakeWaveHeader(const CWaveData& format, uint64_t sampleBytes);

// Reads a WAV file image held in memory. On failure the record has no samples and the
// reason has been shown.
CWaveData ReadWaveImage(Reporter& reporter, std::span<const uint8_t> image);

// Reads a WAV file. On failure the record has no samples and the reason has been shown.
CWaveData ReadWaveFile(Reporter& reporter, const std::string& path);

// Where a WAV file's sound lies: its format (no samples; dataSize set) and the sound's
// offset in the file.
struct WaveFileSound {
  CWaveData format;
  uint64_t offset = 0;
};
// Reads only the file's start. Nothing when that read would report anything, or the file
// is not a regular one: ReadWaveFile then reads it and says why.
std::optional<WaveFileSound> LocateWaveSound(const std::string& path);

// Writes header and samples; shows "ファイルが開けませんでした。" (or the size message) and
// returns false when nothing was written.
bool WriteWaveFile(Reporter& reporter, const std::string& path, const CWaveData& wave);

// In-place conversions. Mono to stereo repeats each sample of the record's depth.
void ConvertMonoToStereo(CWaveData& wave);
void Convert8BitTo16Bit(CWaveData& wave);
void Convert24BitTo16Bit(CWaveData& wave);

// Linear interpolation of 16-bit stereo data to newRate. False (record unchanged) when
// either rate is 0 or the result would not fit a WAV file.
bool ResampleWave(CWaveData& wave, uint32_t newRate);

}  // namespace velorna
