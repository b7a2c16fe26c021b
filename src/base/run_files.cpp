#include "base/run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>

namespace velorna {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kFilePrefix = ".velorna-";
constexpr std::string_view kFileSuffix = ".tmp";
constexpr std::string_view kFolderPrefix = "velorna-";
constexpr size_t kHostTagDigits = 8;

// Eight hex digits of the host name's FNV-1a hash: short, and the same in every run.
const std::string& HostTag() {
  static const std::string tag = [] {
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    uint32_t hash = 2166136261u;
    for (const char* c = host; *c != '\0'; ++c) {
      hash = (hash ^ static_cast<uint8_t>(*c)) * 16777619u;
    }
    char text[kHostTagDigits + 1];
    std::snprintf(text, sizeof text, "%08x", hash);
    return std::string(text);
  }();
  return tag;
}

// "<pid>-<host>-" of this run.
std::string RunTag() {
  return std::to_string(getpid()) + "-" + HostTag() + "-";
}

// The process id of a run of this host whose name starts with `prefix`, else nothing.
std::optional<pid_t> RunOfName(std::string_view name, std::string_view prefix) {
  if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
  name.remove_prefix(prefix.size());
  const size_t dash = name.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash > 9) return std::nullopt;
  pid_t pid = 0;
  for (char c : name.substr(0, dash)) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + (c - '0');
  }
  name.remove_prefix(dash + 1);
  if (name.substr(0, kHostTagDigits) != HostTag() || name.substr(kHostTagDigits, 1) != "-")
    return std::nullopt;
  return pid;
}

bool IsDeadRun(pid_t pid) {
  return pid > 0 && pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH;
}

// Calls `visit` with the name of each entry of `folder` that is a leftover of a dead run:
// named with `prefix`, of the wanted type, owned by this user.
void ForEachDeadRunEntry(const std::string& folder, std::string_view prefix, bool folders,
                         const std::function<void(int dirFd, const char* name)>& visit) {
  const int dirFd = ::open(folder.empty() ? "." : folder.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return;
  DIR* dir = fdopendir(dirFd);
  if (dir == nullptr) {
    ::close(dirFd);
    return;
  }
  const uid_t me = geteuid();
  while (const dirent* entry = readdir(dir)) {
    const auto pid = RunOfName(entry->d_name, prefix);
    if (!pid || !IsDeadRun(*pid)) continue;
    struct stat st {};
    if (fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != me) continue;
    if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)) visit(dirFd, entry->d_name);
  }
  closedir(dir);
}

// The files directly inside; a run folder holds nothing else.
void RemoveFolderAt(int parentFd, const char* name) {
  const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    if (DIR* dir = fdopendir(fd)) {
      while (const dirent* entry = readdir(dir)) {
        const std::string_view n = entry->d_name;
        if (n != "." && n != "..") ::unlinkat(fd, entry->d_name, 0);
      }
      closedir(dir);
    } else {
      ::close(fd);
    }
  }
  ::unlinkat(parentFd, name, AT_REMOVEDIR);
}

void RemovePath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    RemoveFolderAt(AT_FDCWD, path.c_str());
  } else {
    ::unlink(path.c_str());
  }
}

std::mutex& TemporariesMutex() {
  static std::mutex mutex;
  return mutex;
}

std::set<std::string>& Temporaries() {
  static std::set<std::string> paths;
  return paths;
}

std::string TempRoot() {
  std::error_code ec;
  const fs::path temp = fs::temp_directory_path(ec);
  return ec ? "/tmp" : temp.string();
}

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 character.
std::string CutBetweenCharacters(const std::string& text, size_t bytes) {
  if (text.size() <= bytes) return text;
  size_t end = bytes;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::string TemporaryNameFor(const std::string& name, unsigned serial) {
  const std::string head = std::string(kFilePrefix) + RunTag() + std::to_string(serial) + "-";
  const size_t room = kMaxNameBytes - head.size() - kFileSuffix.size();
  return head + CutBetweenCharacters(name, room) + std::string(kFileSuffix);
}

void RemoveDeadRunFiles(const std::string& folder) {
  ForEachDeadRunEntry(folder, kFilePrefix, false,
                      [](int dirFd, const char* name) { ::unlinkat(dirFd, name, 0); });
}

std::string MakeRunFolder() {
  const std::string root = TempRoot();
  ForEachDeadRunEntry(root, kFolderPrefix, true, RemoveFolderAt);
  std::string pattern =
      (fs::path(root) / (std::string(kFolderPrefix) + RunTag() + "XXXXXX")).string();
  TemporariesLock lock = LockTemporaries();
  if (mkdtemp(pattern.data()) == nullptr) return {};
  RecordTemporary(lock, pattern);
  return pattern;
}

void RemoveRunFolder(const std::string& folder) {
  if (folder.empty()) return;
  TemporariesLock lock = LockTemporaries();
  RemoveFolderAt(AT_FDCWD, folder.c_str());
  ForgetTemporary(lock, folder);
}

TemporariesLock LockTemporaries() {
  return TemporariesLock(TemporariesMutex());
}

void RecordTemporary(const TemporariesLock&, const std::string& path) {
  Temporaries().insert(path);
}

void ForgetTemporary(const TemporariesLock&, const std::string& path) {
  Temporaries().erase(path);
}

void RemoveTemporariesAndExit(int status) {
  // Held until the end: nothing is made, renamed or copied any more.
  TemporariesMutex().lock();
  // Other threads still run: one may put a file into a folder while it is being emptied,
  // which keeps the folder. Emptying again catches it; once the folder is gone nothing can
  // be put there any more.
  constexpr int kAttempts = 200;
  constexpr timespec kPause{0, 1000000};  // 1 ms
  for (const std::string& path : Temporaries()) {
    struct stat st {};
    for (int attempt = 0; attempt < kAttempts && ::lstat(path.c_str(), &st) == 0; ++attempt) {
      RemovePath(path);
      if (::lstat(path.c_str(), &st) == 0) ::nanosleep(&kPause, nullptr);
    }
  }
  _exit(status);
}

}  // namespace velorna
