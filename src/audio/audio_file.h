// Whole-file reads and replacing writes for sound files.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velorna {

// The whole file; nullopt when it cannot be opened or read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path);

// Appends bytes to the file being written; false once writing has failed.
using ByteSink = std::function<bool(std::span<const uint8_t>)>;

// Writes what `produce` hands its sink to a new file of a unique name beside `path`, then
// renames it over `path`, so a failure midway leaves what stood there untouched. Producing
// in blocks keeps a second copy of a long sound out of memory. False on failure.
bool ReplaceFileContents(const std::string& path,
                         const std::function<bool(const ByteSink&)>& produce);
bool ReplaceFileContents(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
