#include "support/temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace velorna::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velorna-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

ScopedTmpDir::ScopedTmpDir() {
  if (const char* value = std::getenv("TMPDIR")) {
    hadValue_ = true;
    saved_ = value;
  }
  setenv("TMPDIR", dir_.path().c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
  if (hadValue_) {
    setenv("TMPDIR", saved_.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
}

}  // namespace velorna::test
