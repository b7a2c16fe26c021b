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

// A file written under a fresh name beside `path` and renamed over `path` by Commit(), so a
// failed or abandoned write leaves what stood there untouched. Lets long outputs be written
// in blocks; the temporary file goes away with an uncommitted AtomicFile.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False once creating or any write has failed; later writes then do nothing.
  bool Write(std::span<const uint8_t> bytes);
  // Flushes and renames over the target. False (temporary removed) on any failure.
  bool Commit();
  // The open temporary file, for writers that seek back over what they wrote; -1 once
  // creating it failed.
  int Descriptor() const { return fd_; }

 private:
  void Discard();

  std::string target_;
  std::string temp_;
  int fd_ = -1;
  bool failed_ = false;
};

// Whole contents in one go through AtomicFile. Returns false (nothing reported) on failure.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
