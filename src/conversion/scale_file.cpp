#include "conversion/scale_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>

namespace velorna {
namespace {

constexpr size_t kCentsOffset = 0;
constexpr size_t kFillerOffset = 48;
constexpr size_t kKeyIndexOffset = 60;
constexpr int kLastKeyIndex = 14;

void PutInt32(uint8_t* at, int32_t value) {
  const auto u = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(u >> (8 * i));
}

int32_t GetInt32(const uint8_t* at) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= static_cast<uint32_t>(at[i]) << (8 * i);
  return static_cast<int32_t>(u);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A new file beside the target, renamed over it once complete: a full disk or a killed
// process never leaves a truncated scale file behind.
bool WriteReplacing(const std::string& path, const uint8_t* data, size_t size) {
  static std::atomic<unsigned> serial{0};
  const std::filesystem::path target(path);
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = (target.parent_path() /
            ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()) + "-" +
             std::to_string(serial.fetch_add(1))))
               .string();
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data, size);
  ok = (::fsync(fd) == 0) && ok;
  ok = (::close(fd) == 0) && ok;
  if (ok) ok = ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::array<uint8_t, kScaleFileBytes> EncodeScaleFile(const ScaleSettings& settings) {
  std::array<uint8_t, kScaleFileBytes> bytes{};
  for (size_t i = 0; i < settings.cents.size(); ++i) {
    PutInt32(&bytes[kCentsOffset + 4 * i], settings.cents[i]);
  }
  std::fill(bytes.begin() + kFillerOffset, bytes.begin() + kKeyIndexOffset, uint8_t{1});
  PutInt32(&bytes[kKeyIndexOffset], settings.keyIndex);
  return bytes;
}

std::optional<ScaleSettings> DecodeScaleFile(const uint8_t* bytes, size_t size) {
  if (bytes == nullptr || size < kScaleFileBytes) return std::nullopt;
  ScaleSettings settings;
  for (size_t i = 0; i < settings.cents.size(); ++i) {
    settings.cents[i] = std::clamp(GetInt32(&bytes[kCentsOffset + 4 * i]), -100, 100);
  }
  // The twelve bytes after the offsets carry nothing.
  const int32_t key = GetInt32(&bytes[kKeyIndexOffset]);
  settings.keyIndex = (key >= -1 && key <= kLastKeyIndex) ? key : -1;
  return settings;
}

bool SaveScaleFile(const std::string& path, const ScaleSettings& settings) {
  const auto bytes = EncodeScaleFile(settings);
  return WriteReplacing(path, bytes.data(), bytes.size());
}

std::optional<ScaleSettings> LoadScaleFile(const std::string& path, ScaleLoadError* error) {
  auto fail = [error](ScaleLoadError e) -> std::optional<ScaleSettings> {
    if (error != nullptr) *error = e;
    return std::nullopt;
  };
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(ScaleLoadError::kCannotOpen);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(ScaleLoadError::kCannotOpen);
  }
  std::array<uint8_t, kScaleFileBytes> bytes{};
  size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  auto settings = DecodeScaleFile(bytes.data(), got);
  if (!settings) return fail(ScaleLoadError::kTooShort);
  if (error != nullptr) *error = ScaleLoadError::kNone;
  return settings;
}

}  // namespace velorna
