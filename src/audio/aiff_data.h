// AIFF files as delivered by the synthesizer: a FORM chunk holding COMM and SSND, read into
// a small tree of chunk objects and rewritten as a WAV file.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/wave_data.h"
#include "base/reporter.h"

namespace velorna {

class CAiffChunk {
 public:
  virtual ~CAiffChunk() = default;

  bool Is(std::string_view name) const;

  uint32_t size = 0;          // data length, from the big-endian header field
  std::vector<uint8_t> data;  // copy of the chunk's data
  std::array<char, 4> id{};

 protected:
  // `chunk` is the 8-byte header plus all `size` data bytes.
  explicit CAiffChunk(std::span<const uint8_t> chunk);
};

class CCommonChunk : public CAiffChunk {
 public:
  explicit CCommonChunk(std::span<const uint8_t> chunk);

  uint16_t numChannels = 0;
  uint32_t numSampleFrames = 0;
  uint16_t sampleSize = 0;  // bits per sample
  uint32_t sampleRate = 0;  // whole Hz; 0 when missing or outside 1..768000
};

class CSoundDataChunk : public CAiffChunk {
 public:
  explicit CSoundDataChunk(std::span<const uint8_t> chunk);

  // The sound begins right after offset and blockSize.
  std::span<const uint8_t> SoundBytes() const;

  uint32_t offset = 0;
  uint32_t blockSize = 0;
  uint32_t soundLength = 0;  // size - 8; 0 for a chunk too short to hold the two fields
};

class CFormChunk : public CAiffChunk {
 public:
  // Finds COMM and SSND by id; either stays null when missing or when the walk meets a
  // chunk running past the form's end ("Aiff Error" is shown then).
  CFormChunk(Reporter& reporter, std::span<const uint8_t> chunk);

  std::unique_ptr<CCommonChunk> common;
  std::unique_ptr<CSoundDataChunk> soundData;
};

class CAiffData {
 public:
  CAiffData(Reporter& reporter, const std::string& path);
  // The same reading of a file image already in memory.
  CAiffData(Reporter& reporter, std::vector<uint8_t> fileImage);

  uint64_t fileLength = 0;
  std::vector<uint8_t> image;
  std::unique_ptr<CFormChunk> form;  // null when the file could not be read or is too short

 private:
  void Parse(Reporter& reporter, std::vector<uint8_t> fileImage);
};

// A chunk within a FORM's data: where its 8-byte header starts, and its data's length.
struct AiffChunkPlace {
  uint64_t start = 0;
  uint64_t length = 0;
};
struct AiffChunkPlaces {
  std::optional<AiffChunkPlace> common;  // COMM
  std::optional<AiffChunkPlace> sound;   // SSND
};

// Walks the chunks of a FORM's data of `formDataSize` bytes (after the "AIFF" type), reading
// each chunk header through `header(offset)`; a chunk running past the end stops the walk.
AiffChunkPlaces FindAiffChunks(uint64_t formDataSize,
                               const std::function<std::array<uint8_t, 8>(uint64_t)>& header);

// Whole Hz of an 80-bit IEEE extended value, truncated; 0 outside 1..768000.
uint32_t ExtendedToSampleRate(std::span<const uint8_t, 10> extended);
// A whole number of Hz (at least 1) as the 80-bit extended value COMM holds.
std::array<uint8_t, 10> SampleRateToExtended(uint32_t hz);

// The sound of a read AIFF file in WAV form: 16-bit and 24-bit samples byte-swapped, 8-bit
// ones re-biased to unsigned. False (reported) when the file holds no usable sound.
bool AiffToWaveData(Reporter& reporter, const CAiffData& aiff, CWaveData& wave);

// Rewrites an AIFF file as a WAV file in the program's header layout: 16-bit and 24-bit
// samples byte-swapped, 8-bit ones re-biased to unsigned. The sound is copied in pieces,
// whatever its length. False when nothing was written.
bool ConvertAiffToWave(Reporter& reporter, const std::string& aiffPath,
                       const std::string& wavePath);

}  // namespace velorna
