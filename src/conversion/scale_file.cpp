#include "conversion/scale_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "base/file_io.h"

namespace velorna {
namespace {

constexpr size_t kCentsOffset = 0;
constexpr size_t kFillerOffset = 48;
constexpr size_t kKeyIndexOffset = 60;
constexpr int kLastKeyIndex = 14;
// The offsets a scale file holds, in cents.
constexpr int32_t kLowest = -100;
constexpr int32_t kHighest = 100;

void PutInt32(uint8_t* at, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetInt32(const uint8_t* at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(at[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

}  // namespace

std::array<uint8_t, kScaleFileBytes> EncodeScaleFile(const ScaleSettings& settings) {
  std::array<uint8_t, kScaleFileBytes> bytes{};
  for (size_t i = 0; i < settings.cents.size(); ++i) {
    PutInt32(&bytes[kCentsOffset + 4 * i], static_cast<int32_t>(std::lround(std::clamp<double>(
                                               settings.cents[i], kLowest, kHighest))));
  }
  std::fill(bytes.begin() + kFillerOffset, bytes.begin() + kKeyIndexOffset, uint8_t{1});
  PutInt32(&bytes[kKeyIndexOffset], settings.keyIndex);
  return bytes;
}

std::optional<ScaleSettings> DecodeScaleFile(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kScaleFileBytes) return std::nullopt;
  ScaleSettings settings;
  for (size_t i = 0; i < settings.cents.size(); ++i) {
    settings.cents[i] =
        std::clamp<int32_t>(GetInt32(&bytes[kCentsOffset + 4 * i]), kLowest, kHighest);
  }
  // The twelve bytes after the offsets carry nothing.
  const int32_t key = GetInt32(&bytes[kKeyIndexOffset]);
  settings.keyIndex = (key >= -1 && key <= kLastKeyIndex) ? key : -1;
  return settings;
}

bool SaveScaleFile(const std::string& path, const ScaleSettings& settings) {
  // A new file renamed over the target: a full disk never leaves a truncated scale file.
  const auto bytes = EncodeScaleFile(settings);
  return WriteFileAtomically(path, bytes);
}

std::optional<ScaleSettings> LoadScaleFile(const std::string& path, ScaleLoadError* error) {
  auto fail = [error](ScaleLoadError e) -> std::optional<ScaleSettings> {
    if (error != nullptr) *error = e;
    return std::nullopt;
  };
  // Only the first bytes count; a larger file is read that far, like a pipe.
  const FileContents file = ReadWholeFile(path, kScaleFileBytes);
  if (file.status != ReadStatus::kOk && file.status != ReadStatus::kTooLarge)
    return fail(ScaleLoadError::kCannotOpen);
  auto settings = DecodeScaleFile(file.bytes.data(), file.bytes.size());
  if (!settings) return fail(ScaleLoadError::kTooShort);
  if (error != nullptr) *error = ScaleLoadError::kNone;
  return settings;
}

}  // namespace velorna
