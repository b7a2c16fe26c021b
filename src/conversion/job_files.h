// The files of one conversion: the output beside the input, and the temporary MIDI, WAV
// and AIFF files in a private folder made for the job.
#pragma once

#include <memory>
#include <string>

namespace velorna {

// The input's file name cut at its last "." (a dot in a folder name does not count) plus
// ".wav"; a name without "." gets ".wav" appended.
std::string OutputPathFor(const std::string& inputPath);

// Whether `path` can be written as an output (see LocateOutput).
bool FolderTakesNewFile(const std::string& path);

// The file engine's private folder (made by MakeRunFolder) and the three names inside it. The
// files of those names and the folder are removed when the record goes.
struct JobFiles {
  std::string folder;  // private, made by MakeRunFolder
  std::string midi;    // copy.mid
  std::string wav;     // copy.wav
  std::string aiff;    // copy.aiff

  JobFiles() = default;
  ~JobFiles();
  JobFiles(const JobFiles&) = delete;
  JobFiles& operator=(const JobFiles&) = delete;
};

// Makes the private folder and forms the three names inside it; null when no folder could
// be made.
std::unique_ptr<JobFiles> MakeJobFiles();

}  // namespace velorna
