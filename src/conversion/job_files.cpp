#include "conversion/job_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace velorna {

namespace fs = std::filesystem;

namespace {

std::string BaseName(const std::string& inputPath) {
  const fs::path p(inputPath);
  const std::string name = p.filename().string();
  const auto dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  return (p.parent_path() / stem).string();
}

}  // namespace

std::string OutputPathFor(const std::string& inputPath) {
  return BaseName(inputPath) + ".wav";
}

bool FolderTakesNewFile(const std::string& path) {
  fs::path folder = fs::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::string probe = (folder / ".velorna-probe-XXXXXX").string();
  const int fd = mkstemp(probe.data());
  if (fd < 0) return false;
  close(fd);
  unlink(probe.c_str());
  return true;
}

std::unique_ptr<JobFiles> MakeJobFiles(const std::string& inputPath) {
  std::error_code ec;
  fs::path temp = fs::temp_directory_path(ec);
  if (ec) temp = "/tmp";
  std::string pattern = (temp / "velorna-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return nullptr;
  auto files = std::make_unique<JobFiles>();
  files->folder = pattern;
  // The private folder (mode 0700) is what makes these names safe: nobody else can place a
  // file or a link there, so the job only ever touches files it made itself.
  const std::string stem = fs::path(BaseName(inputPath)).filename().string();
  const fs::path base = fs::path(files->folder) / stem;
  files->midi = base.string() + "_tmp.mid";
  files->wav = base.string() + "_tmp.wav";
  files->aiff = base.string() + "_tmp.aiff";
  return files;
}

JobFiles::~JobFiles() {
  if (folder.empty()) return;
  for (const std::string* f : {&midi, &wav, &aiff}) unlink(f->c_str());
  rmdir(folder.c_str());
}

}  // namespace velorna
