// Draws the dialog idle, at its least size and at a large one with songs waiting, during a
// conversion and after it into dialog.png, dialog-min.png, dialog-large.png,
// dialog-running.png and dialog-finished.png in the folder named last on the command line;
// with --lang en, into dialog-en.png and so on.
#include <QDir>
#include <QFileInfo>
#include <QPixmap>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/dialog_settings.h"
#include "app/language_choice.h"
#include "app/velorna_app.h"
#include "own_settings.h"

namespace {

using namespace velorna;

constexpr int kShownPercent = 42;
constexpr auto kShownElapsed = std::chrono::seconds(2);
constexpr int kWaitMs = 10000;
// The size a newcomer's large window had, where fields once grew into empty boxes.
constexpr QSize kLargeSize(1380, 980);

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
  const QString suffix =
      ApplicationLanguage() == Language::kEnglish ? QStringLiteral("-en") : QString();
  const QString file = folder.filePath(QString::fromUtf8(name) + suffix + QStringLiteral(".png"));
  if (dialog.grab().save(file)) return true;
  std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: velorna_dialog_screenshot [--lang ja|en] OUT-FOLDER\n");
    return 2;
  }
  // The initial values, whatever the user running this has remembered.
  test::UseOwnSettings();
  CVelornaApp app(argc, argv);
  ClearDialogSettings();
  const QDir folder(QString::fromLocal8Bit(argv[argc - 1]));
  const QString song = ApplicationLanguage() == Language::kEnglish
                           ? QStringLiteral("/home/user/Music/nocturne.mid")
                           : QStringLiteral("/home/user/音楽/nocturne.mid");
  CVelornaDlg dialog(ShowcaseJob);
  dialog.SetSongsAsker([song](const QString&) { return QStringList{song}; });
  dialog.show();
  QApplication::processEvents();
  dialog.activateWindow();
  if (!Save(dialog, folder, "dialog")) return 1;

  const QString music = QFileInfo(song).path();
  dialog.OpenSongs({music + QStringLiteral("/prelude.mid"), music + QStringLiteral("/fugue.mid"),
                    music + QStringLiteral("/chorale.mid")});
  dialog.resize(dialog.minimumSize());
  if (!Save(dialog, folder, "dialog-min")) return 1;
  dialog.resize(kLargeSize);
  if (!Save(dialog, folder, "dialog-large")) return 1;
  dialog.resize(dialog.sizeHint());

  dialog.ConvertSongs({song});
  if (!QTest::qWaitFor([] { return g_running.load(); }, kWaitMs)) return 1;
  QTest::qWait(100);  // the queued progress reaches the fields
  if (!Save(dialog, folder, "dialog-running")) return 1;

  dialog.OnConvert();  // Stop
  if (!QTest::qWaitFor([&] { return !dialog.IsConverting(); }, kWaitMs)) return 1;
  QTest::qWait(100);
  return Save(dialog, folder, "dialog-finished") ? 0 : 1;
}
