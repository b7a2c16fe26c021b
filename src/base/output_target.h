// Where an output name leads and whether this user may write there, decided before any work:
// an output is never one of the inputs, and what stands at its name is written as what it is.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

namespace velorna {

// The output name that stands for standard output.
inline constexpr char kStandardOutput[] = "-";

struct OutputPlace {
  std::string path;             // the name finally written: symbolic links followed
  int error = 0;                // why it cannot be written (an errno value); 0: it can
  bool exists = false;          // something stands at `path`
  bool folderWritable = false;  // a replacement can be made beside `path`
  struct stat status {};        // of what stands there
};

// Follows symbolic links from `output` to the name that is written (a device, FIFO or pipe is
// opened by the name given: /dev/stdout leads to no name of its own), and checks that this
// user may write there: a file that exists must be writable (in a folder this user may not
// write, it is written in place); a new file needs a writable folder.
OutputPlace LocateOutput(const std::string& output);

enum class OutputProblem { kNone, kIsInput, kNotWritable };

struct OutputCheck {
  OutputProblem problem = OutputProblem::kNone;
  std::string input;  // kIsInput: the input the output would overwrite
  int error = 0;      // kNotWritable: the errno value
};

// Whether `output` may be written for `inputs`: not when it is one of them, by name, by a
// link or as the same file under another name, nor when LocateOutput finds it unwritable.
OutputCheck CheckOutput(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace velorna
