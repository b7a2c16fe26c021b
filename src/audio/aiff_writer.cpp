#include "audio/aiff_writer.h"

#include <algorithm>
#include <cstring>

#include "audio/aiff_data.h"
#include "audio/byte_order.h"
#include "base/file_io.h"

namespace velorna {
namespace {

using audio_bytes::PutBe16;
using audio_bytes::PutBe32;

constexpr uint32_t kCommSize = 18;
constexpr uint32_t kHeaderBytes = kAiffHeaderBytes;
static_assert(kHeaderBytes == 12 + 8 + kCommSize + 16);
constexpr uint64_t kMaxSoundBytes = kMaxAiffSoundBytes;
// What the stream writer gathers before each write.
constexpr size_t kStreamBufferBytes = size_t{1} << 18;

}  // namespace

std::array<uint8_t, kHeaderBytes> AiffHeader(int64_t frames, uint32_t sampleRate) {
  const uint64_t soundBytes = static_cast<uint64_t>(frames) * 4;
  std::array<uint8_t, kHeaderBytes> header{};
  uint8_t* p = header.data();
  std::memcpy(p, "FORM", 4);
  PutBe32(p + 4, static_cast<uint32_t>(kHeaderBytes + soundBytes - 8));
  std::memcpy(p + 8, "AIFF", 4);

  std::memcpy(p + 12, "COMM", 4);
  PutBe32(p + 16, kCommSize);
  PutBe16(p + 20, 2);
  PutBe32(p + 22, static_cast<uint32_t>(frames));
  PutBe16(p + 26, 16);
  const std::array<uint8_t, 10> rate = SampleRateToExtended(sampleRate);
  std::memcpy(p + 28, rate.data(), rate.size());

  std::memcpy(p + 38, "SSND", 4);
  PutBe32(p + 42, static_cast<uint32_t>(8 + soundBytes));
  // offset and block size stay 0
  return header;
}

AiffStreamWriter::AiffStreamWriter(const std::string& path, uint32_t sampleRate)
    : file_(path), sampleRate_(sampleRate) {
  buffer_.reserve(kStreamBufferBytes);
  // Room for the header, filled in by Close().
  const std::array<uint8_t, kHeaderBytes> placeholder{};
  Put(placeholder);
}

bool AiffStreamWriter::Flush() {
  ok_ = ok_ && file_.Write(buffer_);
  buffer_.clear();
  return ok_;
}

bool AiffStreamWriter::Put(std::span<const uint8_t> bytes) {
  while (!bytes.empty() && ok_) {
    const size_t n = std::min(bytes.size(), kStreamBufferBytes - buffer_.size());
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
    bytes = bytes.subspan(n);
    if (buffer_.size() == kStreamBufferBytes) Flush();
  }
  return ok_;
}

bool AiffStreamWriter::Append(int64_t frame, std::span<const int16_t> block) {
  const int64_t gap = std::max<int64_t>(frame - frames_, 0);
  const int64_t blockFrames = static_cast<int64_t>(block.size()) / 2;
  if (static_cast<uint64_t>(frames_ + gap + blockFrames) * 4 > kMaxSoundBytes) ok_ = false;
  const std::array<uint8_t, kStreamBufferBytes / 4> zeros{};
  for (int64_t left = gap * 4; left > 0 && ok_;) {
    const auto n = static_cast<size_t>(std::min<int64_t>(left, zeros.size()));
    Put(std::span(zeros).first(n));
    left -= static_cast<int64_t>(n);
  }
  converted_.resize(block.size() * 2);
  for (size_t i = 0; i < block.size(); ++i) {
    PutBe16(&converted_[i * 2], static_cast<uint16_t>(block[i]));
  }
  Put(converted_);
  frames_ += gap + blockFrames;
  return ok_;
}

bool AiffStreamWriter::Close() {
  if (!Flush()) return false;
  const auto header = AiffHeader(frames_, sampleRate_);
  if (file_.Descriptor() < 0 || WriteAllAt(file_.Descriptor(), header, 0) != 0) return false;
  return file_.Commit();
}

}  // namespace velorna
