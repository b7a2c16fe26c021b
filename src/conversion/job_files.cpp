#include "conversion/job_files.h"

#include <filesystem>

#include "base/output_target.h"
#include "base/run_files.h"

namespace velorna {

namespace fs = std::filesystem;

namespace {

constexpr char kCopyStem[] = "copy";

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
  return LocateOutput(path).error == 0;
}

std::unique_ptr<JobFiles> MakeJobFiles() {
  auto files = std::make_unique<JobFiles>();
  files->folder = MakeRunFolder();
  if (files->folder.empty()) return nullptr;
  // The private folder (mode 0700) is what makes these names safe: nobody else can place a
  // file or a link there, so the job only ever touches files it made itself. The names are
  // fixed and short: one made from the song's name could pass the file system's limit.
  const fs::path base = fs::path(files->folder) / kCopyStem;
  files->midi = base.string() + ".mid";
  files->wav = base.string() + ".wav";
  files->aiff = base.string() + ".aiff";
  return files;
}

JobFiles::~JobFiles() {
  if (!folder.empty()) RemoveRunFolder(folder);
}

}  // namespace velorna
