#include "audio/aiff_data.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>

#include <fcntl.h>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
#include "audio/wave_data.h"
#include "base/file_io.h"
#include "base/limits.h"

namespace velorna {

using audio_bytes::Be16;
using audio_bytes::Be32;

constexpr int kExtendedBias = 16383;  // of an 80-bit extended number's exponent

CAiffChunk::CAiffChunk(std::span<const uint8_t> chunk) {
  std::memcpy(id.data(), chunk.data(), 4);
  size = Be32(chunk.data() + 4);
  data.assign(chunk.begin() + 8, chunk.begin() + 8 + size);
}

bool CAiffChunk::Is(std::string_view name) const {
  return std::memcmp(id.data(), name.data(), 4) == 0;
}

uint32_t ExtendedToSampleRate(std::span<const uint8_t, 10> extended) {
  if (extended[0] & 0x80) return 0;  // negative
  const int exponent = Be16(extended.data()) & 0x7FFF;
  const uint64_t mantissa = (uint64_t{Be32(extended.data() + 2)} << 32) | Be32(extended.data() + 6);
  // value = mantissa × 2^(exponent - bias - 63); the integer part is a right shift.
  const int shift = kExtendedBias + 63 - exponent;
  if (shift <= 0 || shift >= 64) return 0;
  const uint64_t hz = mantissa >> shift;
  return hz >= 1 && hz <= 768000 ? static_cast<uint32_t>(hz) : 0;
}

std::array<uint8_t, 10> SampleRateToExtended(uint32_t hz) {
  std::array<uint8_t, 10> extended{};
  if (hz == 0) return extended;  // zero: all bits clear
  // The mantissa holds the value with its highest set bit at the top (no hidden bit).
  const int top = std::bit_width(hz) - 1;
  const uint64_t mantissa = uint64_t{hz} << (63 - top);
  audio_bytes::PutBe16(extended.data(), static_cast<uint16_t>(kExtendedBias + top));
  audio_bytes::PutBe32(extended.data() + 2, static_cast<uint32_t>(mantissa >> 32));
  audio_bytes::PutBe32(extended.data() + 6, static_cast<uint32_t>(mantissa));
  return extended;
}

CCommonChunk::CCommonChunk(std::span<const uint8_t> chunk) : CAiffChunk(chunk) {
  if (data.size() < 18) return;  // fields stay 0 and the chunk is refused
  numChannels = Be16(&data[0]);
  numSampleFrames = Be32(&data[2]);
  sampleSize = Be16(&data[6]);
  sampleRate = ExtendedToSampleRate(std::span<const uint8_t, 10>(&data[8], 10));
}

CSoundDataChunk::CSoundDataChunk(std::span<const uint8_t> chunk) : CAiffChunk(chunk) {
  if (data.size() < 8) return;
  offset = Be32(&data[0]);
  blockSize = Be32(&data[4]);
  soundLength = size - 8;
}

std::span<const uint8_t> CSoundDataChunk::SoundBytes() const {
  if (soundLength == 0) return {};
  return std::span<const uint8_t>(data).subspan(8, soundLength);
}

CFormChunk::CFormChunk(Reporter& reporter, std::span<const uint8_t> chunk) : CAiffChunk(chunk) {
  if (!Is("FORM")) reporter.ShowText(audio_msg::kAiffError);
  if (data.size() < 4 || std::memcmp(data.data(), "AIFF", 4) != 0) {
    reporter.ShowText(audio_msg::kAiffError);
  }
  const AiffChunkPlaces places = FindAiffChunks(data.size(), [&](uint64_t at) {
    std::array<uint8_t, 8> header{};
    std::memcpy(header.data(), &data[at], header.size());
    return header;
  });
  const auto sub = [&](const AiffChunkPlace& place) {
    return std::span<const uint8_t>(data).subspan(place.start, 8 + place.length);
  };
  if (places.common) common = std::make_unique<CCommonChunk>(sub(*places.common));
  if (places.sound) soundData = std::make_unique<CSoundDataChunk>(sub(*places.sound));
  if (!common || !soundData) reporter.ShowText(audio_msg::kAiffError);
}

AiffChunkPlaces FindAiffChunks(uint64_t formDataSize,
                               const std::function<std::array<uint8_t, 8>(uint64_t)>& header) {
  // Tools put COMT, MARK, INST and others around COMM and SSND: look both up by id.
  AiffChunkPlaces places;
  uint64_t position = 4;
  while (position + 8 <= formDataSize && !(places.common && places.sound)) {
    const std::array<uint8_t, 8> h = header(position);
    const uint64_t length = Be32(&h[4]);
    if (formDataSize - position - 8 < length) break;
    if (!places.common && std::memcmp(h.data(), "COMM", 4) == 0) {
      places.common = AiffChunkPlace{position, length};
    } else if (!places.sound && std::memcmp(h.data(), "SSND", 4) == 0) {
      places.sound = AiffChunkPlace{position, length};
    }
    position += 8 + length + (length & 1);  // odd sizes are padded
  }
  return places;
}

CAiffData::CAiffData(Reporter& reporter, const std::string& path) {
  const int64_t length = QueryFileSize(reporter, path);
  std::vector<uint8_t> bytes = GeneAlloc(reporter, static_cast<size_t>(length));
  if (bytes.size() != static_cast<size_t>(length)) return;  // shown by GeneAlloc
  // A missing file reads as nothing here; ReadFileToBuffer has shown why.
  const int64_t got = ReadFileToBuffer(reporter, path, bytes);
  if (got == 0 && !std::filesystem::is_regular_file(std::filesystem::path(path))) return;
  bytes.resize(static_cast<size_t>(got));
  Parse(reporter, std::move(bytes));
}

CAiffData::CAiffData(Reporter& reporter, std::vector<uint8_t> fileImage) {
  Parse(reporter, std::move(fileImage));
}

void CAiffData::Parse(Reporter& reporter, std::vector<uint8_t> fileImage) {
  image = std::move(fileImage);
  fileLength = image.size();
  const uint64_t formLength = image.size() >= 8 ? Be32(&image[4]) : 0;
  if (image.size() < 8 || image.size() - 8 < formLength) {
    reporter.ShowText(audio_msg::kAiffError);
    return;
  }
  form =
      std::make_unique<CFormChunk>(reporter, std::span<const uint8_t>(image).first(8 + formLength));
}

namespace {

// AIFF samples are big-endian and 8-bit ones signed; WAV wants little-endian and unsigned.
void CopyAsWaveSamples(std::span<const uint8_t> in, uint16_t bits, std::span<uint8_t> out) {
  switch (bits) {
    case 8:
      for (size_t i = 0; i < out.size(); ++i) out[i] = in[i] ^ 0x80;
      break;
    case 16:
      for (size_t i = 0; i + 1 < out.size(); i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
      }
      break;
    case 24:
      for (size_t i = 0; i + 2 < out.size(); i += 3) {
        out[i] = in[i + 2];
        out[i + 1] = in[i + 1];
        out[i + 2] = in[i];
      }
      break;
    default:
      std::copy_n(in.begin(), out.size(), out.begin());
  }
}

}  // namespace

namespace {

// The WAV format of a read COMM (its blockAlign the frame size); nothing (reported) when the file
// holds no usable sound.
std::optional<CWaveData> AiffWaveFormat(Reporter& reporter, const CCommonChunk& common,
                                        uint64_t soundChunkSize) {
  const uint16_t bits = common.sampleSize;
  const uint16_t channels = common.numChannels;
  if (channels == 0 || bits < 8 || soundChunkSize < 8) {
    reporter.ShowText(audio_msg::kAiffError);
    return std::nullopt;
  }
  const uint64_t sampleWidth = (bits + 7u) / 8u;
  const uint64_t frameBytes = sampleWidth * channels;
  // The WAV header keeps the frame size in 16 bits and the byte rate in 32.
  if (frameBytes > 0xFFFF || frameBytes * common.sampleRate > 0xFFFFFFFFu) {
    reporter.ShowText(audio_msg::kAiffError);
    return std::nullopt;
  }
  CWaveData wave;
  wave.formatTag = kWaveFormatPcm;
  wave.channels = channels;
  wave.sampleRate = common.sampleRate;
  wave.byteRate = static_cast<uint32_t>(frameBytes * common.sampleRate);
  wave.blockAlign = static_cast<uint16_t>(frameBytes);
  wave.bitsPerSample = bits;
  return wave;
}

// What the converter reads at once.
constexpr uint64_t kConvertPieceBytes = uint64_t{1} << 20;
// The start of a file that holds its FORM header and, in the program's own files, COMM.
constexpr size_t kAiffHeadBytes = 4096;

// Reads `bytes` at `offset` of the file; false when they are not all there.
bool ReadAt(int fd, std::span<uint8_t> bytes, uint64_t offset) {
  return ReadAllAt(fd, bytes, static_cast<int64_t>(offset)) == 0;
}

}  // namespace

bool AiffToWaveData(Reporter& reporter, const CAiffData& aiff, CWaveData& wave) {
  if (!aiff.form || !aiff.form->common || !aiff.form->soundData) return false;
  auto format = AiffWaveFormat(reporter, *aiff.form->common, aiff.form->soundData->data.size());
  if (!format) return false;
  const auto sound = aiff.form->soundData->SoundBytes();
  const uint64_t frames = sound.size() / format->blockAlign;  // an incomplete last frame is dropped
  wave = std::move(*format);
  wave.samples.resize(frames * wave.blockAlign);
  CopyAsWaveSamples(sound, wave.bitsPerSample, wave.samples);
  return true;
}

bool ConvertAiffToWave(Reporter& reporter, const std::string& aiffPath,
                       const std::string& wavePath) {
  try {
    // The head is read as the whole file used to be, with the same reports; the sound is
    // then copied in pieces, so that an hour of it never sits in memory.
    const int64_t length = QueryFileSize(reporter, aiffPath);
    std::vector<uint8_t> head(
        static_cast<size_t>(std::min<int64_t>(std::max<int64_t>(length, 0), kAiffHeadBytes)));
    const int64_t got = ReadFileToBuffer(reporter, aiffPath, head);
    if (got == 0 && !std::filesystem::is_regular_file(std::filesystem::path(aiffPath)))
      return false;
    const uint64_t fileLength =
        length > got ? static_cast<uint64_t>(length) : static_cast<uint64_t>(got);
    const uint64_t formLength = got >= 8 ? Be32(&head[4]) : 0;
    if (got < 8 || fileLength - 8 < formLength) {
      reporter.ShowText(audio_msg::kAiffError);
      return false;
    }
    const UniqueFd file(::open(aiffPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    if (std::memcmp(head.data(), "FORM", 4) != 0) reporter.ShowText(audio_msg::kAiffError);
    if (formLength < 4 || std::memcmp(&head[8], "AIFF", 4) != 0) {
      reporter.ShowText(audio_msg::kAiffError);
    }
    // Offsets below are within the form's data, which starts at byte 8.
    bool readOk = true;
    const auto readData = [&](std::span<uint8_t> bytes, uint64_t at) {
      readOk = readOk && ReadAt(file.fd, bytes, 8 + at);
      return readOk;
    };
    const AiffChunkPlaces places = FindAiffChunks(formLength, [&](uint64_t at) {
      std::array<uint8_t, 8> h{};
      // A header that could not be read claims the most room, which ends the walk.
      if (!readData(h, at)) std::fill(h.begin() + 4, h.end(), uint8_t{0xFF});
      return h;
    });
    if (!places.common || !places.sound) {
      reporter.ShowText(audio_msg::kAiffError);
      return false;
    }
    std::vector<uint8_t> commBytes(8 + places.common->length);
    readData(commBytes, places.common->start);
    if (!readOk) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    const CCommonChunk common(commBytes);
    const auto format = AiffWaveFormat(reporter, common, places.sound->length);
    if (!format) return false;
    const uint64_t soundStart = places.sound->start + 16;
    const uint64_t frameBytes = format->blockAlign;
    const uint64_t soundBytes = (places.sound->length - 8) / frameBytes * frameBytes;
    if (soundBytes > kMaxWavDataBytes) {
      reporter.ShowText(audio_msg::kTooLarge);
      return false;
    }

    AtomicFile out(wavePath);
    out.Write(MakeWaveHeader(*format, soundBytes));
    // Whole frames per piece, so that no sample is split.
    const uint64_t pieceBytes = std::max<uint64_t>(kConvertPieceBytes / frameBytes, 1) * frameBytes;
    std::vector<uint8_t> in(static_cast<size_t>(std::min(pieceBytes, soundBytes)));
    std::vector<uint8_t> converted(in.size());
    for (uint64_t done = 0; done < soundBytes && readOk;) {
      const auto n = static_cast<size_t>(std::min(pieceBytes, soundBytes - done));
      const auto source = std::span(in).first(n);
      const auto target = std::span(converted).first(n);
      if (!readData(source, soundStart + done)) break;
      CopyAsWaveSamples(source, format->bitsPerSample, target);
      out.Write(target);
      done += n;
    }
    if (!readOk || !out.Commit()) {
      reporter.ShowText(audio_msg::kCannotOpen);
      return false;
    }
    return true;
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return false;
  }
}

}  // namespace velorna
