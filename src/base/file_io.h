// File helpers of the library (module GENE). Paths are UTF-8.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/reporter.h"

namespace velorna {

// Zero-filled buffer; reports "メモリが不足しています。" and returns an empty one on failure.
std::vector<uint8_t> GeneAlloc(Reporter& reporter, size_t bytes);

// Reads at most buffer.size() bytes; 0 when the file cannot be opened (after showing the
// path, then GENE 0x01000007).
int64_t ReadFileToBuffer(Reporter& reporter, const std::string& path, std::span<uint8_t> buffer);

// Reads exactly buffer.size() bytes. A short read shows GENE 0x0100000A and still counts
// as a success; a file that cannot be opened shows GENE 0x01000007 and fails.
bool ReadFileExact(Reporter& reporter, const std::string& path, std::span<uint8_t> buffer);

// Size of a regular file; 0 for a folder or a missing file.
int64_t QueryFileSize(Reporter& reporter, const std::string& path);

// Writes bytes to a new file beside `path` and renames it over `path` when complete, so a
// failure leaves what stood there untouched. Returns false (nothing reported) on failure.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
