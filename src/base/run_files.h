// The temporary files and folders of a run. Their names carry the run's process id and a tag
// of its host, so that a later run can tell the leftovers of a run that no longer exists
// (killed, crashed) from those of a run still at work on this or another machine, and
// remove them. The files a run has open are also recorded, so that a run ended by a signal
// can remove them before it exits.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

namespace velorna {

// Longest file name (one path component) the usual Linux file systems take.
inline constexpr size_t kMaxNameBytes = 255;

// ".velorna-<pid>-<host>-<serial>-<name>.tmp": a hidden name for a file written beside
// `name`, at most kMaxNameBytes long (`name` is cut to fit, between characters).
std::string TemporaryNameFor(const std::string& name, unsigned serial);

// Removes this user's hidden temporary files of dead runs of this host from `folder`.
void RemoveDeadRunFiles(const std::string& folder);

// Makes a private folder (0700) for one run's temporary files in $TMPDIR (else /tmp), named
// velorna-<pid>-<host>-XXXXXX, after removing the folders of dead runs there. Returns its
// path, or an empty string (errno set) when it cannot be made.
std::string MakeRunFolder();
// Removes the files directly in a folder made by MakeRunFolder, then the folder.
void RemoveRunFolder(const std::string& folder);

// A run folder for the lifetime of the object; path() is empty when it could not be made.
class RunFolder {
 public:
  RunFolder() : path_(MakeRunFolder()) {}
  ~RunFolder() { RemoveRunFolder(path_); }
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The record of what this process has made and not yet removed. Making, renaming and
// removing a recorded file happen under the lock, so that an exit by signal sees each one
// either before or after, never half done.
using TemporariesLock = std::unique_lock<std::mutex>;
TemporariesLock LockTemporaries();
void RecordTemporary(const TemporariesLock& lock, const std::string& path);
void ForgetTemporary(const TemporariesLock& lock, const std::string& path);

// Removes every recorded file and folder and ends the process with `status` at once. Waits
// for a rename or in-place copy that is under way, and lets nothing new start.
[[noreturn]] void RemoveTemporariesAndExit(int status);

}  // namespace velorna
