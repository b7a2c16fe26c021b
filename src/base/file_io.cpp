#include "base/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "base/library_error.h"

namespace velorna {

namespace fs = std::filesystem;

namespace {

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

bool ReadFileExact(Reporter& reporter, const std::string& path, std::span<uint8_t> buffer) {
  File f = OpenForReading(path);
  if (!f) {
    ShowOpenFailed(reporter);
    return false;
  }
  if (ReadUpTo(f.get(), buffer) != buffer.size()) {
    ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneDataTooLarge, msg::kDataTooLarge);
  }
  return true;
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

AtomicFile::AtomicFile(const std::string& path) : target_(path) {
  static std::atomic<unsigned> serial{0};
  const fs::path target = fs::path(path);
  failed_ = true;
  if (target.filename().empty()) return;
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Appended piece by piece: g++ 12 sees a false overlap in the chain of operator+.
    std::string name = ".";
    name.append(target.filename().string()).append(".").append(std::to_string(getpid()));
    name.append(".").append(std::to_string(serial.fetch_add(1))).append(".tmp");
    temp_ = (target.parent_path() / name).string();
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd_ >= 0 || errno != EEXIST) break;
  }
  failed_ = fd_ < 0;
}

AtomicFile::~AtomicFile() {
  Discard();
}

void AtomicFile::Discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(temp_.c_str());
}

bool AtomicFile::Write(std::span<const uint8_t> bytes) {
  while (!failed_ && !bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed_ = true;
    } else {
      bytes = bytes.subspan(static_cast<size_t>(n));
    }
  }
  return !failed_;
}

bool AtomicFile::Commit() {
  if (failed_ || fd_ < 0) {
    Discard();
    return false;
  }
  bool ok = ::fsync(fd_) == 0;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  ok = ok && std::rename(temp_.c_str(), target_.c_str()) == 0;
  failed_ = true;  // the file is no longer ours to write
  if (!ok) {
    ::unlink(temp_.c_str());
    return false;
  }
  // Make the rename itself durable; a failure here does not undo the write.
  const fs::path folder = fs::path(target_).parent_path();
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes) {
  AtomicFile file(path);
  return file.Write(bytes) && file.Commit();
}

}  // namespace velorna
