// Where the GUI test programs keep the dialog's settings.
#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velorna::test {

// Settings of this program's own, for as long as it runs: never the user's, and never those
// of another test program running beside it (one clears them while another expects them
// remembered). Call before anything reads or writes them.
inline void UseOwnSettings() {
  QStandardPaths::setTestModeEnabled(true);
  static std::string folder =
      (std::filesystem::temp_directory_path() / "velorna-settings-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return;  // then the test mode's shared folder
  // Removed without Qt, whose own statics may be gone by then.
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  });
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(folder));
}

}  // namespace velorna::test
