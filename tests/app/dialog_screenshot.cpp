// Draws the dialog idle, during a conversion and after it into dialog.png,
// dialog-running.png and dialog-finished.png in the folder named on the command line.
#include <QDir>
#include <QPixmap>
#include <QStandardPaths>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/dialog_settings.h"
#include "app/velorna_app.h"

namespace {

using namespace velorna;

constexpr int kShownPercent = 42;
constexpr auto kShownElapsed = std::chrono::seconds(2);
constexpr int kWaitMs = 10000;

std::atomic<bool> g_running{false};

// A stand-in job: some progress after a while, then it waits for Stop and ends written.
ConversionResult ShowcaseJob(const std::string&, const ConversionOptions&, JobControl& control,
                             JobObserver& observer, Reporter&) {
  std::this_thread::sleep_for(kShownElapsed);
  control.m_progress = kShownPercent;
  ShowProgress(control, observer);
  g_running = true;
  while (control.m_cancel.load() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  control.m_progress = 100;
  ShowProgress(control, observer);
  return ConversionResult::kWritten;
}

bool Save(QWidget& dialog, const QDir& folder, const char* name) {
  QApplication::processEvents();
  if (dialog.grab().save(folder.filePath(QString::fromUtf8(name)))) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(folder.filePath(QString::fromUtf8(name))));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: velorna_dialog_screenshot OUT-FOLDER\n");
    return 2;
  }
  // The initial values, whatever the user running this has remembered.
  QStandardPaths::setTestModeEnabled(true);
  CVelornaApp app(argc, argv);
  ClearDialogSettings();
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  CVelornaDlg dialog(ShowcaseJob);
  dialog.SetSongsAsker(
      [](const QString&) { return QStringList{QStringLiteral("/home/user/音楽/nocturne.mid")}; });
  dialog.show();
  QApplication::processEvents();
  dialog.activateWindow();
  if (!Save(dialog, folder, "dialog.png")) return 1;

  dialog.ConvertSongs({QStringLiteral("/home/user/音楽/nocturne.mid")});
  if (!QTest::qWaitFor([] { return g_running.load(); }, kWaitMs)) return 1;
  QTest::qWait(100);  // the queued progress reaches the fields
  if (!Save(dialog, folder, "dialog-running.png")) return 1;

  dialog.OnConvert();  // Stop
  if (!QTest::qWaitFor([&] { return !dialog.IsConverting(); }, kWaitMs)) return 1;
  QTest::qWait(100);
  return Save(dialog, folder, "dialog-finished.png") ? 0 : 1;
}
