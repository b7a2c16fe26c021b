// Scale files: twelve cent offsets and the key selector's index in 64 bytes. The file
// holds whole cents: offsets are rounded when saved.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "tuning/tuning.h"

namespace velorna {

struct ScaleSettings {
  CentTable cents{};
  int32_t keyIndex = 7;  // -1: nothing selected
};

inline constexpr size_t kScaleFileBytes = 64;

std::array<uint8_t, kScaleFileBytes> EncodeScaleFile(const ScaleSettings& settings);
// Offsets clamped to -100..100; nullopt for data shorter than 64 bytes.
std::optional<ScaleSettings> DecodeScaleFile(const uint8_t* bytes, size_t size);
// Written to a new file renamed over the target, so a failed save leaves no truncated file.
bool SaveScaleFile(const std::string& path, const ScaleSettings& settings);
enum class ScaleLoadError { kNone, kCannotOpen, kTooShort };
std::optional<ScaleSettings> LoadScaleFile(const std::string& path,
                                           ScaleLoadError* error = nullptr);

}  // namespace velorna
