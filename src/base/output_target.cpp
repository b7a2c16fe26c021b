#include "base/output_target.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace velorna {

namespace fs = std::filesystem;

namespace {

// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinksFollowed = 40;

std::string FolderOf(const std::string& path) {
  const fs::path folder = fs::path(path).parent_path();
  return folder.empty() ? "." : folder.string();
}

// The name a chain of symbolic links ends at; the last one may point at nothing yet.
std::string FollowLinks(const std::string& path, int& error) {
  std::string current = path;
  for (int hop = 0; hop < kMaxLinksFollowed; ++hop) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n < 0 || static_cast<size_t>(n) >= target.size()) {
      error = n < 0 ? errno : ENAMETOOLONG;
      return current;
    }
    target.resize(static_cast<size_t>(n));
    current = target.front() == '/' ? target : (fs::path(FolderOf(current)) / target).string();
  }
  error = ELOOP;
  return current;
}

int AccessError(const std::string& path, int mode) {
  return ::faccessat(AT_FDCWD, path.c_str(), mode, AT_EACCESS) == 0 ? 0 : errno;
}

}  // namespace

OutputPlace LocateOutput(const std::string& output) {
  OutputPlace place;
  if (output.empty()) {
    place.error = ENOENT;
    return place;
  }
  if (output == kStandardOutput) {
    place.path = output;
    place.exists = ::fstat(STDOUT_FILENO, &place.status) == 0;
    const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
    if (!place.exists || flags == -1) {
      place.error = EBADF;
    } else if ((flags & O_ACCMODE) == O_RDONLY) {
      place.error = EBADF;
    }
    return place;
  }
  struct stat direct {};
  if (::stat(output.c_str(), &direct) == 0 && !S_ISREG(direct.st_mode) &&
      !S_ISDIR(direct.st_mode)) {
    place.path = output;
    place.exists = true;
    place.status = direct;
    place.error = AccessError(output, W_OK);
    return place;
  }
  place.path = FollowLinks(output, place.error);
  if (place.error != 0) return place;
  if (::stat(place.path.c_str(), &place.status) != 0) {
    place.error = errno == ENOENT ? AccessError(FolderOf(place.path), W_OK | X_OK) : errno;
    place.folderWritable = place.error == 0;
    return place;
  }
  place.exists = true;
  place.folderWritable = AccessError(FolderOf(place.path), W_OK | X_OK) == 0;
  const mode_t type = place.status.st_mode & S_IFMT;
  place.error = type == S_IFDIR ? EISDIR : AccessError(place.path, W_OK);
  return place;
}

OutputCheck CheckOutput(const std::string& output, const std::vector<std::string>& inputs) {
  OutputCheck check;
  struct stat out {};
  const bool outExists = ::stat(output.c_str(), &out) == 0;
  std::error_code ec;
  const fs::path outName = fs::weakly_canonical(fs::absolute(output, ec), ec);
  for (const std::string& input : inputs) {
    struct stat in {};
    const bool same = outExists ? ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
                                      in.st_ino == out.st_ino
                                : fs::weakly_canonical(fs::absolute(input, ec), ec) == outName;
    if (same) {
      check.problem = OutputProblem::kIsInput;
      check.input = input;
      return check;
    }
  }
  const OutputPlace place = LocateOutput(output);
  if (place.error != 0) {
    check.problem = OutputProblem::kNotWritable;
    check.error = place.error;
  }
  return check;
}

}  // namespace velorna
