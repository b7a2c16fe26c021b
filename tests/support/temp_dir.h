// A folder of the test's own, removed with everything in it at the end of the test.
#pragma once

#include <filesystem>
#include <string>

namespace velorna::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Points TMPDIR at a folder of its own for its lifetime, so a test can see exactly what a
// job leaves in the temporary folder while other tests run beside it.
class ScopedTmpDir {
 public:
  ScopedTmpDir();
  ~ScopedTmpDir();
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  TempDir dir_;
  bool hadValue_ = false;
  std::string saved_;
};

}  // namespace velorna::test
