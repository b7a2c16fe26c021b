// File helpers of the library (module GENE). Paths are UTF-8.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/reporter.h"

namespace velorna {

// A descriptor closed with its owner.
struct UniqueFd {
  explicit UniqueFd(int f = -1) : fd(f) {}
  ~UniqueFd() {
    if (fd >= 0) ::close(fd);
  }
  UniqueFd(UniqueFd&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      if (fd >= 0) ::close(fd);
      fd = std::exchange(other.fd, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int fd;
};

// Writes all of `bytes`; 0, or the errno value of the write that failed.
int WriteAll(int fd, std::span<const uint8_t> bytes);

// The same at `offset`, leaving the file position alone; reading past the end is EIO.
int ReadAllAt(int fd, std::span<uint8_t> bytes, int64_t offset);
int WriteAllAt(int fd, std::span<const uint8_t> bytes, int64_t offset);

// Reserves room for `bytes` bytes of `fd` without changing its size or contents; 0, or the
// errno value of why there is none (ENOSPC where the file system cannot reserve and has
// too little free).
[[nodiscard]] int ReserveRoom(int fd, int64_t bytes);

// "path: the system's text for `error`", the line that follows a message about a file.
[[nodiscard]] std::string PathAndCause(const std::string& path, int error);

// $TMPDIR, else /tmp: where scratch files are made.
[[nodiscard]] std::string ScratchFolder();

// A private file for reading and writing in $TMPDIR (else /tmp) that has no name, so that
// nothing of it outlives the process, however it ends. fd is -1 (errno set) on failure.
UniqueFd OpenScratchFile();

// Zero-filled buffer; reports "メモリが不足しています。" and returns an empty one on failure.
std::vector<uint8_t> GeneAlloc(Reporter& reporter, size_t bytes);

// Reads at most buffer.size() bytes; 0 when the file cannot be opened (after showing the
// path, then GENE 0x01000007).
int64_t ReadFileToBuffer(Reporter& reporter, const std::string& path, std::span<uint8_t> buffer);

enum class ReadStatus { kOk, kCannotOpen, kTooLarge, kReadFailed, kOutOfMemory, kStopped };

struct FileContents {
  ReadStatus status = ReadStatus::kCannotOpen;
  std::vector<uint8_t> bytes;  // kTooLarge: the first maxBytes bytes
};

// Reads a regular file, a pipe or a FIFO to its end, reporting nothing. Without `stop`, a
// FIFO nobody writes to reads as empty; with it, the read waits for the FIFO's writer until
// `stop` is set (kStopped). A folder cannot be opened; more than maxBytes bytes are kTooLarge.
FileContents ReadWholeFile(const std::string& path, size_t maxBytes,
                           const std::atomic<int>* stop = nullptr);

// Size of a regular file; 0 for a folder or a missing file.
int64_t QueryFileSize(Reporter& reporter, const std::string& path);

// An output written as what stands at its name (see LocateOutput; symbolic links followed):
// - nothing, or a file: written to a hidden file beside it and renamed over it by Commit(),
//   carrying the old file's mode and owner over; a failed or abandoned write leaves what
//   stood there untouched;
// - a file with other names (hard links), whose owner this user cannot give the new one, or
//   in a folder this user may not write: written beside it in the same way (or in a file
//   without a name), then copied into the file itself by Commit() once the room for the
//   copy is reserved, so that every name sees the new contents, the owner and mode stay,
//   and a full disk leaves the old contents whole;
// - a device, a FIFO or a socket: written in place, never replaced; a FIFO that nobody
//   reads fails at once instead of waiting for a reader; "-" is standard output.
// A file this user may not write is refused. Lets long outputs be written in blocks.
class AtomicFile {
 public:
  explicit AtomicFile(const std::string& path);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // False once opening or any write has failed; later writes then do nothing.
  bool Write(std::span<const uint8_t> bytes);
  // Flushes and puts the contents in place. False (temporary removed) on any failure.
  bool Commit();
  // The open temporary file, for writers that seek back over what they wrote; -1 once
  // creating it failed.
  int Descriptor() const { return fd_; }
  // Written in place as a stream (a device, a FIFO, standard output): only in order.
  bool streamed() const { return way_ == Way::kInPlace; }
  // Why opening, writing or committing failed (an errno value); 0 while all went well.
  int error() const { return error_; }

 private:
  enum class Way { kRename, kCopyIn, kInPlace };

  bool Fail(int error);
  int CopyIntoTarget();  // 0, or the errno value of what failed
  void Discard();

  std::string target_;
  std::string temp_;
  Way way_ = Way::kRename;
  int fd_ = -1;
  bool failed_ = false;
  int error_ = 0;
};

// Whole contents in one go through AtomicFile. Returns false (nothing reported) on failure.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes);

}  // namespace velorna
