#include "app/conversion_test.h"

#include <QLabel>
#include <QObject>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <memory>

#include "app/gui_support.h"
#include "app/short_song.h"
#include "app/velorna_dlg.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"

namespace velorna::test {

// Convert and Stop with the real conversion job on short songs.
class ConversionTest : public QObject {
  Q_OBJECT

 private slots:
  void convertShowsProgressAndEnds();
  void stopTwiceWritesWhatWasMixed();
  void doubleClickStartsOneJob();
  void closeWhileAMessageBoxIsUp();
  void destroyingTheDialogStopsTheJob();
  void aSongNamedLikeItsOutputIsNotWrittenOver();
};

namespace {

constexpr char kEndMessage[] = "変換が終了しました。";
constexpr int kJobTimeoutMs = 180000;

// A dialog running the real job; its file dialog answers with `song` and counts the asks.
struct JobDialog {
  explicit JobDialog(const std::filesystem::path& song)
      : dialog(std::make_unique<CVelornaDlg>(RunConversion)) {
    dialog->SetPathAsker([this, song](PathPrompt prompt, const QString&) {
      ++asked;
      return prompt == PathPrompt::kOpenMidi && !cancelNext ? QString::fromStdString(song.string())
                                                            : QString();
    });
    dialog->show();
  }
  QPushButton& convert() const { return *Control<QPushButton>(*dialog, 1001); }
  QString progress() const { return Control<QLabel>(*dialog, 1010)->text(); }
  QString elapsed() const { return Control<QLabel>(*dialog, 1016)->text(); }
  // Clicks Convert and waits until the note passes have begun.
  bool StartAndWaitForNotes() {
    QTest::mouseClick(&convert(), Qt::LeftButton);
    const QRegularExpression started(QStringLiteral("^[1-9]\\d*％$"));
    return QTest::qWaitFor([&] { return started.match(progress()).hasMatch(); }, kJobTimeoutMs);
  }
  bool WaitUntilIdle() const {
    return QTest::qWaitFor([this] { return !dialog->IsConverting(); }, kJobTimeoutMs);
  }

  std::unique_ptr<CVelornaDlg> dialog;
  int asked = 0;
  bool cancelNext = false;
};

// Every distinct text the progress field shows, in order.
class FieldSampler : public QObject {
 public:
  explicit FieldSampler(QLabel& field) : seen{field.text()} {
    connect(&m_timer, &QTimer::timeout, this, [this, &field] {
      if (seen.isEmpty() || seen.back() != field.text()) seen << field.text();
    });
    m_timer.start(1);
  }
  QStringList seen;

 private:
  QTimer m_timer;
};

bool IsWav(const std::filesystem::path& path) {
  const auto bytes = ReadBytes(path);
  return bytes.size() > 44 && std::string(bytes.begin(), bytes.begin() + 4) == "RIFF" &&
         std::string(bytes.begin() + 8, bytes.begin() + 12) == "WAVE";
}

}  // namespace

void ConversionTest::convertShowsProgressAndEnds() {
  TempDir dir;
  const auto song = dir / "song.mid";
  WriteShortSong(song, {.notes = 6});
  JobDialog job(song);
  ModalAnswerer answerer;
  FieldSampler sampler(*Control<QLabel>(*job.dialog, 1010));

  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.convert().text(), QStringLiteral("停止"));
  QVERIFY(job.dialog->IsConverting());
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();

  QCOMPARE(answerer.texts, QStringList{kEndMessage});
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  QCOMPARE(job.progress(), QStringLiteral("100％"));
  QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d$")).match(job.elapsed()).hasMatch(),
           qPrintable(job.elapsed()));
  QVERIFY(IsWav(dir / "song.wav"));
  // The field went up through the passes: "---", then percentages that never fall.
  QVERIFY2(sampler.seen.size() >= 3, qPrintable(sampler.seen.join(' ')));
  QCOMPARE(sampler.seen.front(), QStringLiteral("---"));
  int last = -1;
  for (qsizetype i = 1; i < sampler.seen.size(); ++i) {
    const auto m = QRegularExpression(QStringLiteral("^(\\d+)％$")).match(sampler.seen[i]);
    QVERIFY2(m.hasMatch(), qPrintable(sampler.seen[i]));
    QVERIFY(m.captured(1).toInt() >= last);
    last = m.captured(1).toInt();
  }

  // Convert again asks for a new file; cancelling it starts nothing.
  job.cancelNext = true;
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 2);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(job.progress(), QStringLiteral("100％"));
}

void ConversionTest::stopTwiceWritesWhatWasMixed() {
  TempDir dir;
  WriteShortSong(dir / "long.mid", {.notes = 120});
  JobDialog job(dir / "long.mid");
  ModalAnswerer answerer;
  QVERIFY(job.StartAndWaitForNotes());
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 1);
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();

  QCOMPARE(answerer.texts, QStringList{kEndMessage});
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  QCOMPARE(job.progress(), QStringLiteral("100％"));
  QVERIFY(IsWav(dir / "long.wav"));
}

void ConversionTest::doubleClickStartsOneJob() {
  TempDir dir;
  const auto song = dir / "twice.mid";
  WriteShortSong(song, {.notes = 3});
  JobDialog job(song);
  ModalAnswerer answerer;

  // The second click lands before the worker has run a step: it is already Stop.
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QCOMPARE(job.asked, 1);
  QVERIFY(job.WaitUntilIdle());
  QApplication::processEvents();
  QCOMPARE(answerer.texts, QStringList{kEndMessage});
  QVERIFY(IsWav(dir / "twice.wav"));
}

void ConversionTest::closeWhileAMessageBoxIsUp() {
  TempDir dir;
  const auto song = dir / "noted.mid";
  // A long text event: loading the song shows a message while the job runs.
  WriteShortSong(song, {.notes = 60, .textBytes = 400});
  JobDialog job(song);
  ModalAnswerer answerer;
  QString first;
  bool closed = true, visible = false, controlsOff = false, closing = false;
  int ticksUp = 0;
  bool convertingWithBoxUp = false;
  answerer.ready = [&](QMessageBox& box) {
    if (first.isEmpty()) {
      first = box.text();
      // The close waits: the dialog stays, its controls off, while the worker waits.
      closed = job.dialog->close();
      visible = job.dialog->isVisible();
      controlsOff =
          !job.convert().isEnabled() && !Control<QPushButton>(*job.dialog, 1)->isEnabled();
      closing = job.dialog->IsClosing();
      return false;
    }
    convertingWithBoxUp = job.dialog->IsConverting();
    return ++ticksUp > 5;
  };

  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QVERIFY(QTest::qWaitFor([&] { return !job.dialog->isVisible(); }, kJobTimeoutMs));
  QVERIFY(!first.isEmpty());
  QVERIFY(first != kEndMessage);
  QVERIFY(!closed);
  QVERIFY(visible);
  QVERIFY(controlsOff);
  QVERIFY(closing);
  QVERIFY(convertingWithBoxUp);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(job.dialog->result(), int(QDialog::Rejected));
  QTest::qWait(50);
  // Only the box that was up: nothing after the close, no end message.
  QCOMPARE(answerer.texts, QStringList{first});
}

void ConversionTest::destroyingTheDialogStopsTheJob() {
  TempDir dir;
  WriteShortSong(dir / "gone.mid", {.notes = 120});
  JobDialog job(dir / "gone.mid");
  ModalAnswerer answerer;
  QVERIFY(job.StartAndWaitForNotes());
  job.dialog.reset();  // waits for the worker, which stops at its next event
  QVERIFY(IsWav(dir / "gone.wav"));
  QTest::qWait(50);
  QVERIFY(answerer.texts.isEmpty());
}

void ConversionTest::aSongNamedLikeItsOutputIsNotWrittenOver() {
  TempDir dir;
  const auto song = dir / "song.wav";
  WriteShortSong(song, {.notes = 2});
  const auto before = ReadBytes(song);
  JobDialog job(song);
  ModalAnswerer answerer;
  QTest::mouseClick(&job.convert(), Qt::LeftButton);
  QVERIFY(!job.dialog->IsConverting());
  QCOMPARE(answerer.texts.size(), 1);
  QVERIFY2(answerer.texts[0].count(QString::fromStdString(song.string())) == 2,
           qPrintable(answerer.texts[0]));
  QCOMPARE(job.convert().text(), QStringLiteral("変換"));
  QVERIFY(ReadBytes(song) == before);
}

int RunConversionTests(int argc, char** argv) {
  ConversionTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace velorna::test

#include "conversion_test.moc"
