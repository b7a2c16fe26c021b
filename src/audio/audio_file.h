// Whole-file reads and replacing writes for sound files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velorna {

// The whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

// Writes bytes to a new file of a unique name beside `path`, then renames it over `path`,
// so a failure midway leaves what stood there untouched. False on failure.
bool ReplaceFileContents(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
