// The files of one conversion: the output beside the input, and the temporary MIDI, WAV
// and AIFF files in a private folder made for the job.
#pragma once

#include <string>

namespace velorna {

// The input's file name cut at its last "." (a dot in a folder name does not count) plus
// ".wav"; a name without "." gets ".wav" appended.
std::string OutputPathFor(const std::string& inputPath);

// Whether `path` can be written as an output (see LocateOutput).
bool FolderTakesNewFile(const std::string& path);

struct JobFiles {
  std::string folder;  // private, made by MakeRunFolder; empty until made
  std::string midi;    // <stem>_tmp.mid
  std::string wav;     // <stem>_tmp.wav
  std::string aiff;    // <stem>_tmp.aiff
};

// Makes the private folder and forms the three names inside it.
bool MakeJobFiles(const std::string& inputPath, JobFiles& files);
// Deletes the files in the folder, then the folder.
void RemoveJobFiles(JobFiles& files);

}  // namespace velorna
