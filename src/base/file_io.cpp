#include "base/file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "base/library_error.h"
#include "base/output_target.h"
#include "base/run_files.h"

namespace velorna {

namespace fs = std::filesystem;

namespace {

constexpr mode_t kNewFileMode = 0666;  // less the umask, as every new file
constexpr mode_t kPrivateMode = 0600;
constexpr mode_t kModeBits = 07777;
constexpr int kNameAttempts = 100;
constexpr size_t kCopyBlockBytes = 1 << 16;
constexpr size_t kReadBlockBytes = 1 << 16;
constexpr int64_t kStatBlockBytes = 512;  // the unit of st_blocks
constexpr int kFifoPollMilliseconds = 100;

// Opens without waiting for the other end of a FIFO, then blocks as usual on reads and
// writes. -1 (errno set) on failure.
int OpenWithoutWaiting(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const int status = ::fcntl(fd, F_GETFL);
  if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File OpenForReading(const std::string& path) {
  std::error_code ec;
  // fopen happily "opens" a folder on Linux; it is no file to read.
  if (fs::is_directory(fs::path(path), ec)) return nullptr;
  return File(std::fopen(path.c_str(), "rb"));
}

size_t ReadUpTo(std::FILE* f, std::span<uint8_t> buffer) {
  size_t total = 0;
  while (total < buffer.size()) {
    const size_t got = std::fread(buffer.data() + total, 1, buffer.size() - total, f);
    if (got == 0) break;
    total += got;
  }
  return total;
}

void ShowOpenFailed(Reporter& reporter) {
  ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneFileOpen, msg::kFileOpenFailed);
}

}  // namespace

namespace {

// Repeats a read or write, `step(bytes, offset)`, until all of `bytes` is done, across
// interruptions and short counts; 0, or the errno value of the step that failed.
template <typename Byte, typename Step>
int TransferAll(std::span<Byte> bytes, int64_t offset, Step step) {
  while (!bytes.empty()) {
    const ssize_t n = step(bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;
    bytes = bytes.subspan(static_cast<size_t>(n));
    offset += n;
  }
  return 0;
}

}  // namespace

int ReserveRoom(int fd, int64_t bytes) {
  if (bytes <= 0) return 0;
  // Kept at the file's size: the old contents stay whole until they are overwritten.
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) == 0) return 0;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  // A file system that cannot reserve: the free room, counting what the file holds already.
  struct stat st {};
  struct statvfs fsStatus {};
  if (::fstat(fd, &st) != 0 || ::fstatvfs(fd, &fsStatus) != 0) return errno;
  const int64_t have = int64_t{st.st_blocks} * kStatBlockBytes;
  const auto free =
      static_cast<int64_t>(fsStatus.f_bavail) * static_cast<int64_t>(fsStatus.f_frsize);
  return bytes - have > free ? ENOSPC : 0;
}

int WriteAll(int fd, std::span<const uint8_t> bytes) {
  return TransferAll(bytes, 0, [fd](std::span<const uint8_t> b, off_t) {
    return ::write(fd, b.data(), b.size());
  });
}

int ReadAllAt(int fd, std::span<uint8_t> bytes, int64_t offset) {
  return TransferAll(bytes, offset, [fd](std::span<uint8_t> b, off_t at) {
    return ::pread(fd, b.data(), b.size(), at);
  });
}

int WriteAllAt(int fd, std::span<const uint8_t> bytes, int64_t offset) {
  return TransferAll(bytes, offset, [fd](std::span<const uint8_t> b, off_t at) {
    return ::pwrite(fd, b.data(), b.size(), at);
  });
}

std::string PathAndCause(const std::string& path, int error) {
  return path + ": " + std::strerror(error != 0 ? error : EIO);
}

std::string ScratchFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder != '\0' ? folder : "/tmp";
}

UniqueFd OpenScratchFile() {
  const std::string dir = ScratchFolder();
  UniqueFd file(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, kPrivateMode));
  if (file.fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return file;
  // File systems without unnamed files: a name removed at once.
  std::string name = (fs::path(dir) / "velorna-scratch-XXXXXX").string();
  UniqueFd named(::mkostemp(name.data(), O_CLOEXEC));
  if (named.fd >= 0) ::unlink(name.c_str());
  return named;
}

std::vector<uint8_t> GeneAlloc(Reporter& reporter, size_t bytes) {
  try {
    return std::vector<uint8_t>(bytes);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
  ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneOutOfMemory, msg::kOutOfMemory);
  return {};
}

int64_t ReadFileToBuffer(Reporter& reporter, const std::string& path, std::span<uint8_t> buffer) {
  File f = OpenForReading(path);
  if (!f) {
    reporter.ShowText(path);
    ShowOpenFailed(reporter);
    return 0;
  }
  return static_cast<int64_t>(ReadUpTo(f.get(), buffer));
}

int64_t QueryFileSize(Reporter& reporter, const std::string& path) {
  std::error_code ec;
  const fs::path p = fs::path(path);
  if (!fs::is_regular_file(p, ec)) return 0;
  const uintmax_t size = fs::file_size(p, ec);
  if (ec) return 0;
  // The size stays whole: cut to 32 bits, a 4 GiB + 100 byte file would pass for 100 bytes.
  if (size > 0xFFFFFFFFu) {
    ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneFileSize, msg::kFileSizeError);
  }
  return static_cast<int64_t>(size);
}

FileContents ReadWholeFile(const std::string& path, size_t maxBytes, const std::atomic<int>* stop) {
  FileContents contents;
  const UniqueFd file(OpenWithoutWaiting(path, O_RDONLY));
  struct stat st {};
  if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || S_ISDIR(st.st_mode)) return contents;
  // Until a writer has come a FIFO shows neither data nor its end: polled in short waits,
  // so that a Stop is seen.
  if (S_ISFIFO(st.st_mode) && stop != nullptr) {
    pollfd waiting{file.fd, POLLIN, 0};
    while (::poll(&waiting, 1, kFifoPollMilliseconds) == 0 ||
           (waiting.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
      if (stop->load() != 0) {
        contents.status = ReadStatus::kStopped;
        return contents;
      }
    }
  }
  std::vector<uint8_t>& bytes = contents.bytes;
  size_t have = 0;
  try {
    if (S_ISREG(st.st_mode)) bytes.reserve(std::min(static_cast<size_t>(st.st_size), maxBytes) + 1);
    // One byte past the limit tells a file that is too large.
    while (have <= maxBytes) {
      bytes.resize(have + std::min(kReadBlockBytes, maxBytes + 1 - have));
      const ssize_t n = ::read(file.fd, bytes.data() + have, bytes.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        contents.status = ReadStatus::kReadFailed;
        bytes.clear();
        return contents;
      }
      if (n == 0) break;
      have += static_cast<size_t>(n);
    }
  } catch (const std::bad_alloc&) {
    contents.status = ReadStatus::kOutOfMemory;
    bytes = {};
    return contents;
  }
  bytes.resize(std::min(have, maxBytes));
  contents.status = have > maxBytes ? ReadStatus::kTooLarge : ReadStatus::kOk;
  return contents;
}

AtomicFile::AtomicFile(const std::string& path) {
  const OutputPlace place = LocateOutput(path);
  target_ = place.path;
  if (place.error != 0) {
    Fail(place.error);
    return;
  }
  if (target_ == kStandardOutput) {
    way_ = Way::kInPlace;
    fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) Fail(errno);
    return;
  }
  if (place.exists && !S_ISREG(place.status.st_mode)) {
    way_ = Way::kInPlace;
    fd_ = OpenWithoutWaiting(target_, O_WRONLY | O_NOCTTY);
    if (fd_ < 0) Fail(errno);
    return;
  }
  if (place.exists && !place.folderWritable) {
    // No replacement can be made beside it: written in a file without a name, and copied in
    // once complete and the room for it reserved.
    way_ = Way::kCopyIn;
    UniqueFd scratch = OpenScratchFile();
    fd_ = std::exchange(scratch.fd, -1);
    if (fd_ < 0) Fail(errno);
    return;
  }
  const fs::path target(target_);
  RemoveDeadRunFiles(target.parent_path().string());
  static std::atomic<unsigned> serial{0};
  // Private until the old file's owner and mode are carried over.
  const mode_t mode = place.exists ? kPrivateMode : kNewFileMode;
  {
    TemporariesLock lock = LockTemporaries();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = TemporaryNameFor(target.filename().string(), serial.fetch_add(1));
      temp_ = (target.parent_path() / name).string();
      fd_ = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
      if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
      temp_.clear();
      Fail(errno);
      return;
    }
    RecordTemporary(lock, temp_);
  }
  if (place.exists) {
    const struct stat& old = place.status;
    const bool carried = old.st_nlink == 1 && ::fchown(fd_, old.st_uid, old.st_gid) == 0 &&
                         ::fchmod(fd_, old.st_mode & kModeBits) == 0;
    if (!carried) way_ = Way::kCopyIn;
  }
}

AtomicFile::~AtomicFile() {
  Discard();
}

bool AtomicFile::Fail(int error) {
  failed_ = true;
  if (error_ == 0) error_ = error != 0 ? error : EIO;
  return false;
}

void AtomicFile::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (temp_.empty()) return;
  TemporariesLock lock = LockTemporaries();
  ::unlink(temp_.c_str());
  ForgetTemporary(lock, temp_);
  temp_.clear();
}

bool AtomicFile::Write(std::span<const uint8_t> bytes) {
  if (failed_) return false;
  const int error = WriteAll(fd_, bytes);
  return error == 0 || Fail(error);
}

int AtomicFile::CopyIntoTarget() {
  struct stat from {};
  if (::fstat(fd_, &from) != 0) return errno;
  const UniqueFd to(::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
  if (to.fd < 0) return errno;
  // The old contents are overwritten only once the room for the new is reserved: a disk that
  // fills up during the copy would leave neither.
  if (const int error = ReserveRoom(to.fd, from.st_size)) return error;
  std::vector<uint8_t> block(kCopyBlockBytes);
  for (off_t at = 0; at < from.st_size;) {
    const auto n = static_cast<size_t>(std::min<off_t>(from.st_size - at, kCopyBlockBytes));
    const auto part = std::span(block).first(n);
    if (const int error = ReadAllAt(fd_, part, at)) return error;
    if (const int error = WriteAllAt(to.fd, part, at)) return error;
    at += static_cast<off_t>(n);
  }
  if (::ftruncate(to.fd, from.st_size) != 0 || ::fsync(to.fd) != 0) return errno;
  return 0;
}

bool AtomicFile::Commit() {
  if (failed_ || fd_ < 0) {
    Discard();
    return Fail(error_);
  }
  int error = 0;
  // Pipes and many devices cannot be synced; what they have taken is theirs.
  if (::fsync(fd_) != 0 && !(way_ == Way::kInPlace && errno == EINVAL)) error = errno;
  if (error == 0 && way_ == Way::kCopyIn) {
    // Under the lock, so that a run ended by a signal sees the old or the new contents.
    TemporariesLock lock = LockTemporaries();
    error = CopyIntoTarget();
  }
  if (::close(fd_) != 0 && error == 0) error = errno;
  fd_ = -1;
  if (error == 0 && way_ == Way::kRename) {
    TemporariesLock lock = LockTemporaries();
    if (std::rename(temp_.c_str(), target_.c_str()) == 0) {
      ForgetTemporary(lock, temp_);
      temp_.clear();
    } else {
      error = errno;
    }
  }
  Discard();
  if (error != 0) return Fail(error);
  failed_ = true;  // the file is no longer ours to write
  if (way_ == Way::kRename) {
    // Make the rename itself durable; a failure here does not undo the write.
    const fs::path folder = fs::path(target_).parent_path();
    const UniqueFd dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.fd >= 0) ::fsync(dir.fd);
  }
  return true;
}
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  AtomicFile file(path);
  return file.Write(bytes) && file.Commit();
}

}  // namespace velorna
