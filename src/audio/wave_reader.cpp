#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "audio/audio_messages.h"
#include "audio/byte_order.h"
#include "audio/wave_data.h"
#include "base/file_io.h"

namespace velorna {
namespace {

using audio_bytes::Le16;
using audio_bytes::Le32;

struct ChunkHeader {
  uint64_t start = 0;  // offset of the id
  std::array<char, 4> id{};
  uint32_t size = 0;
  bool complete = false;  // the data lies within the image

  bool Is(std::string_view name) const { return std::memcmp(id.data(), name.data(), 4) == 0; }
  uint64_t DataStart() const { return start + 8; }
  // RIFF pads odd-sized chunks with one byte.
  uint64_t Next() const { return start + 8 + size + (size & 1u); }
};

// Walks the headers in `image`, the start of a file of `total` bytes (at least the image).
class ChunkWalk {
 public:
  ChunkWalk(std::span<const uint8_t> image, uint64_t total) : image_(image), total_(total) {}

  std::optional<ChunkHeader> At(uint64_t pos) const {
    if (pos > image_.size() || image_.size() - pos < 8) return std::nullopt;
    ChunkHeader c;
    c.start = pos;
    std::memcpy(c.id.data(), image_.data() + pos, 4);
    c.size = Le32(image_.data() + pos + 4);
    c.complete = total_ - pos - 8 >= c.size;
    return c;
  }
  // The chunk's data lies within the image, not only within the file.
  bool Held(const ChunkHeader& c) const { return image_.size() - c.DataStart() >= c.size; }

  bool IdAt(uint64_t pos, std::string_view name) const {
    return pos <= image_.size() && image_.size() - pos >= 4 &&
           std::memcmp(image_.data() + pos, name.data(), 4) == 0;
  }

 private:
  std::span<const uint8_t> image_;
  uint64_t total_ = 0;
};

// Ids are shown as read, with anything unprintable masked so the message stays valid text.
std::string ShownId(const std::array<char, 4>& id) {
  std::string text(id.begin(), id.end());
  for (char& ch : text) {
    if (ch < 0x20 || ch > 0x7E) ch = '?';
  }
  return text;
}

void ShowTagReport(Reporter& reporter, const std::string& id) {
  reporter.ShowText(audio_msg::kUnknownTag + " [" + id + "]");
}

// The standard GUID tail that follows the format code in an extensible subformat.
constexpr uint8_t kSubformatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

void ReadFormat(const uint8_t* data, uint32_t size, CWaveData& wave) {
  wave.formatTag = Le16(data);
  wave.channels = Le16(data + 2);
  wave.sampleRate = Le32(data + 4);
  wave.byteRate = Le32(data + 8);
  wave.blockAlign = Le16(data + 12);
  wave.bitsPerSample = Le16(data + 14);
  // Extensible files (sox writes 24-bit so) carry the real format code in their subformat.
  if (wave.formatTag == kWaveFormatExtensible && size >= 40 &&
      std::memcmp(data + 26, kSubformatGuidTail, sizeof kSubformatGuidTail) == 0) {
    wave.formatTag = Le16(data + 24);
  }
}

constexpr std::string_view kSkippedIds[] = {"PAD ", "bext", "minf", "elm1", "vphd", "sav1",
                                            "pad ", "elmo", "regn", "ovwf", "umid"};

bool IsSkippedId(const ChunkHeader& c) {
  return std::any_of(std::begin(kSkippedIds), std::end(kSkippedIds),
                     [&](std::string_view id) { return c.Is(id); });
}

// With `soundOffset`, `image` is the start of a file of `total` bytes: the sound is not read
// but its offset given, and a chunk before it that the image does not hold fails the read.
CWaveData ParseWave(Reporter& reporter, std::span<const uint8_t> image, uint64_t total,
                    uint64_t* soundOffset = nullptr) {
  CWaveData wave;
  const ChunkWalk walk(image, total);
  if (!walk.IdAt(0, "RIFF")) {
    ShowTagReport(reporter, "RIFF");
    return wave;
  }
  std::memcpy(wave.riffId.data(), image.data(), 4);
  if (image.size() >= 8) wave.riffSize = Le32(image.data() + 4);
  if (!walk.IdAt(8, "WAVE")) {
    ShowTagReport(reporter, "WAVE");
    return wave;
  }
  std::memcpy(wave.waveId.data(), image.data() + 8, 4);

  auto broken = [&] {
    reporter.ShowText(audio_msg::kBrokenWave);
    return CWaveData{};
  };
  uint64_t pos = 12;
  auto skipIf = [&](std::string_view id) {
    const auto c = walk.At(pos);
    if (!c || !c->Is(id)) return true;
    if (!c->complete) return false;
    pos = c->Next();
    return true;
  };
  for (std::string_view id : {"PAD ", "bext", "minf", "elm1"}) {
    if (!skipIf(id)) return broken();
  }

  const auto fmt = walk.At(pos);
  if (!fmt || !fmt->Is("fmt ")) {
    ShowTagReport(reporter, "fmt ");
    return wave;
  }
  if (!fmt->complete || fmt->size < 16) return broken();
  if (!walk.Held(*fmt)) return CWaveData{};
  wave.fmtId = fmt->id;
  wave.fmtSize = fmt->size;
  ReadFormat(image.data() + fmt->DataStart(), fmt->size, wave);
  pos = fmt->Next();

  if (const auto fact = walk.At(pos); fact && fact->Is("fact")) {
    if (fact->size != 4) {
      ShowTagReport(reporter, "fact");
      return CWaveData{};
    }
    if (!fact->complete) return broken();
    pos = fact->Next();
  }
  for (auto c = walk.At(pos); c && IsSkippedId(*c); c = walk.At(pos)) {
    if (!c->complete) return broken();
    pos = c->Next();
  }
  for (auto c = walk.At(pos);; c = walk.At(pos)) {
    if (!c || !c->complete) return broken();
    if (c->Is("data")) {
      wave.dataId = c->id;
      wave.dataSize = c->size;
      if (soundOffset != nullptr) {
        *soundOffset = c->DataStart();
        return wave;
      }
      const auto* begin = image.data() + c->DataStart();
      wave.samples.assign(begin, begin + c->size);
      return wave;
    }
    ShowTagReport(reporter, ShownId(c->id));
    pos = c->Next();
  }
}

enum class WholeRead { kOk, kNoFile, kNoMemory };

// The whole file, its length taken from the end as it is opened. A folder is no file.
WholeRead ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::path(path), ec)) return WholeRead::kNoFile;
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return WholeRead::kNoFile;
  const std::streamoff length = in.tellg();
  if (length < 0) return WholeRead::kNoFile;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    return WholeRead::kNoMemory;
  } catch (const std::length_error&) {
    return WholeRead::kNoMemory;
  }
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), length)) return WholeRead::kNoFile;
  return WholeRead::kOk;
}

}  // namespace

CWaveData ReadWaveImage(Reporter& reporter, std::span<const uint8_t> image) {
  try {
    return ParseWave(reporter, image, image.size());
  } catch (const std::bad_alloc&) {
    reporter.ShowText(audio_msg::kOutOfMemory);
    return {};
  }
}

CWaveData ReadWaveFile(Reporter& reporter, const std::string& path) {
  std::vector<uint8_t> image;
  switch (ReadWholeFile(path, image)) {
    case WholeRead::kOk:
      return ReadWaveImage(reporter, image);
    case WholeRead::kNoFile:
      reporter.ShowText(audio_msg::kFileNotFound);
      return {};
    case WholeRead::kNoMemory:
      reporter.ShowText(audio_msg::kOutOfMemory);
      return {};
  }
  return {};
}

std::optional<WaveFileSound> LocateWaveSound(const std::string& path) {
  // The program's own renderings have a 44-byte header; a little more room costs nothing.
  constexpr size_t kHeadBytes = 4096;
  const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const auto total = static_cast<uint64_t>(info.st_size);
  std::vector<uint8_t> head(static_cast<size_t>(std::min<uint64_t>(total, kHeadBytes)));
  if (ReadAllAt(file.fd, head, 0) != 0) return std::nullopt;
  // Anything the read would report sends the caller to the whole read, which reports it.
  RecordingReporter reports;
  WaveFileSound sound;
  sound.format = ParseWave(reports, head, total, &sound.offset);
  if (!reports.reports().empty() || sound.offset == 0) return std::nullopt;
  return sound;
}

}  // namespace velorna
