// Export MIDI from the dialog: each form written where the settings say, the MTS file read
// back with every note at the dialog's tuning, and the form and the song-tuning setting
// remembered.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <cmath>

#include "app/gui_support.h"
#include "app/short_song.h"
#include "midi/midi_constants.h"
#include "midi/smf_reader.h"
#include "support/scala_text.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "tuning/song_tuning.h"
#include "tuning/tuning_choice.h"

namespace velorna::test {
namespace {

constexpr int kDrumChannel = 9;

// The pitched notes of a MIDI file as (key, target) in order, the targets its own MTS data
// give, on equal temperament.
std::vector<std::pair<int, double>> OwnTargets(const std::filesystem::path& path) {
  RecordingReporter messages;
  MidiContext ctx(messages);
  const Bytes bytes = ReadBytes(path);
  MidiLoader loader = LoadSmfFromBytes(ctx, bytes);
  PrepareSong(ctx, loader);
  std::vector<std::pair<int, double>> notes;
  if (!loader.song || !loader.song->track) return notes;
  const Tuning own = WithSongTuning(Tuning{KeyTableFromCents({}), {}}, *loader.song);
  const auto& events = loader.song->track->events;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].status != st::kNote || events[i].channel == kDrumChannel) continue;
    notes.emplace_back(events[i].note,
                       TargetOf(own, static_cast<int32_t>(i), events[i].note).value_or(1e9));
  }
  return notes;
}

}  // namespace

class ExportPanelTest : public QObject {
  Q_OBJECT

 private slots:
  // Just intonation on C, exported in each form into the output folder; the MTS file puts
  // every note of the octave at its just pitch, and a restart shows the same choices.
  void exportsEachFormWithTheDialogsTuning() {
    auto dialog = MakeDialog();
    TempDir dir;
    const auto song = dir / "short.mid";
    constexpr int kNotes = 12;
    WriteShortSong(song, {kNotes, 0, true});
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    Control<QLineEdit>(*dialog, "outputFolder")->setText(QString::fromStdString(out.string()));
    auto* presets = Control<QComboBox>(*dialog, "preset");
    presets->setCurrentIndex(
        presets->findText(QString::fromUtf8(PresetInfoOf(PresetId::kJust).displayName)));
    dialog->OpenSongs({QString::fromStdString(song.string())});
    Control<QCheckBox>(*dialog, "ignoreSongTuning")->setChecked(true);

    struct Case {
      int formIndex;
      const char* name;
    };
    ModalAnswerer answerer;
    for (const Case& c :
         {Case{0, "short-bends.mid"}, Case{1, "short-mpe.mid"}, Case{2, "short-mts.mid"}}) {
      Control<QComboBox>(*dialog, "exportForm")->setCurrentIndex(c.formIndex);
      answerer.texts.clear();
      Click(*dialog, "exportMidi");
      QTRY_COMPARE(answerer.texts.size(), 1);
      QVERIFY2(answerer.texts[0].contains(QStringLiteral("1 曲を MIDI ファイルに書き出しました")),
               qPrintable(answerer.texts[0]));
      QVERIFY(answerer.texts[0].contains(QString::fromStdString((out / c.name).string())));
      QVERIFY(std::filesystem::file_size(out / c.name) > 0);
    }

    const KeyTable just = BuildTuning({PresetId::kJust, kInitialKeyIndex, std::nullopt}).keys;
    const auto notes = OwnTargets(out / "short-mts.mid");
    QCOMPARE(static_cast<int>(notes.size()), kNotes);
    for (const auto& [key, target] : notes)
      QVERIFY2(std::abs(target - just[static_cast<size_t>(key)].value()) < 0.01,
               qPrintable(QStringLiteral("key %1: %2").arg(key).arg(target)));

    dialog.reset();
    CVelornaDlg again{ConversionRunner{}};
    QCOMPARE(Control<QComboBox>(again, "exportForm")->currentIndex(), 2);
    QVERIFY(Control<QCheckBox>(again, "ignoreSongTuning")->isChecked());
  }

  // Parts tuned apart in the advanced settings (a preset, none, a Scala scale) reach the job
  // as channel tunings on the dialog's key and come back after a restart.
  void partTuningsReachTheJobAndAreRemembered() {
    std::optional<ConversionOptions> seen;
    auto dialog = MakeDialog([&](const std::string&, const ConversionOptions& options, JobControl&,
                                 JobObserver&, Reporter&) {
      seen = options;
      return ConversionResult::kNotWritten;
    });
    TempDir dir;
    constexpr int kSteps = 19;
    const auto scl = dir / "19edo.scl";
    const std::string text = EqualStepsScl(kSteps, 1200);
    WriteBytes(scl, Bytes(text.begin(), text.end()));
    dialog->SetPathAsker([&](PathPrompt prompt, const QString&) {
      return prompt == PathPrompt::kOpenScala ? QString::fromStdString(scl.string()) : QString();
    });
    ModalAnswerer answerer;
    answerer.other = [](QDialog& parts) {
      auto* second = parts.findChild<QComboBox*>(QStringLiteral("part2"));
      auto* third = parts.findChild<QComboBox*>(QStringLiteral("part3"));
      second->setCurrentIndex(second->findData(QStringLiteral("pythagorean")));
      third->setCurrentIndex(third->findData(QStringLiteral("none")));
      parts.findChild<QPushButton*>(QStringLiteral("partScala4"))->click();
      parts.accept();
    };
    Click(*dialog, "partTunings");
    dialog->ConvertSongs({QString::fromStdString((dir / "song.mid").string())});
    QTRY_VERIFY(!dialog->IsConverting());
    QVERIFY(seen.has_value());
    const std::vector<ChannelKeys>& channels = seen->tuning.channels;
    QCOMPARE(channels.size(), size_t{3});
    QCOMPARE(channels[0].channel, 1);
    QVERIFY(std::abs(*channels[0].keys[69] - (1200 * std::log2(27.0 / 16) - 900)) < 1e-6);
    QCOMPARE(channels[1].channel, 2);
    QCOMPARE(*channels[1].keys[64], 0.0);
    // The scale's default mapping: neighbouring keys one step of 19 apart, on every octave.
    QCOMPARE(channels[2].channel, 3);
    for (size_t key = 24; key < 108; key += 7)
      QVERIFY(std::abs(*channels[2].keys[key + 1] - *channels[2].keys[key] -
                       (1200.0 / kSteps - 100)) < 1e-6);

    dialog.reset();
    CVelornaDlg again{ConversionRunner{}};
    QVERIFY(Control<QPushButton>(again, "partTunings")->text().contains(QStringLiteral("(3)")));
  }
};

int RunExportPanelTests(int argc, char** argv) {
  ExportPanelTest test;
  return QTest::qExec(&test, argc, argv);
}

}  // namespace velorna::test

#include "export_panel_test.moc"
