#include "audio/audio_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <new>
#include <random>

namespace velorna {

std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff length = in.tellg();
  if (length < 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  try {
    bytes.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), length)) return std::nullopt;
  return bytes;
}

namespace {

// Opens a fresh file beside `path`; O_EXCL makes the name ours alone.
int CreateUniqueSibling(const std::string& path, std::string& tempPath) {
  static std::atomic<uint32_t> counter{0};
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".%d-%u-%08x.tmp", static_cast<int>(getpid()),
                  counter.fetch_add(1), static_cast<unsigned>(seed()));
    tempPath = path + suffix;
    const int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(int fd, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes = bytes.subspan(static_cast<size_t>(n));
  }
  return true;
}

}  // namespace

bool ReplaceFileContents(const std::string& path,
                         const std::function<bool(const ByteSink&)>& produce) {
  std::string tempPath;
  const int fd = CreateUniqueSibling(path, tempPath);
  if (fd < 0) return false;
  const bool written =
      produce([fd](std::span<const uint8_t> bytes) { return WriteAll(fd, bytes); });
  const bool closed = close(fd) == 0;
  if (!written || !closed || std::rename(tempPath.c_str(), path.c_str()) != 0) {
    std::remove(tempPath.c_str());
    return false;
  }
  return true;
}

bool ReplaceFileContents(const std::string& path, std::span<const uint8_t> bytes) {
  return ReplaceFileContents(path, [bytes](const ByteSink& sink) { return sink(bytes); });
}

}  // namespace velorna
