// The dialog's player on the offscreen platform, heard through Qt Multimedia into the null sink
// of the test PulseAudio daemon and recorded from the sink's monitor: a probe note at its target
// pitch, and a change of an offset while it plays landing where the player says, each side of it
// at its own pitch. Skipped, saying why, only where no daemon can be started.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

#include "app/dialog_settings.h"
#include "app/export_panel.h"
#include "app/song_preview.h"
#include "app/velorna_dlg.h"
#include "own_settings.h"
#include "support/audio_take.h"
#include "support/smf_bytes.h"
#include "support/temp_dir.h"
#include "support/tone_font.h"

namespace velorna::test {
namespace {

constexpr int kDivision = 480;        // at 120 bpm: 960 ticks a second
constexpr double kLeadSeconds = 1.0;  // silence before the note
constexpr double kHeldSeconds = 6.0;
constexpr double kChangeAt = 3.0;  // song seconds at which the offset is changed
constexpr int kPitchClassA = 9;
constexpr double kFirstCents = 12.3, kSecondCents = -20.4;
constexpr int kSpinA = 1021;  // the A field's id (see the dialog's key table)
constexpr int kKeySelector = 1013;
constexpr double kMarkerEvery = 0.5, kMarkerLength = 0.05;
// A marker is looked for from this long before where the song's clock puts it.
constexpr double kMarkerSearch = 0.2;
constexpr int kSoundLevel = 300;

// Runs the event loop until `done`, or a minute has gone.
template <typename Done>
bool Tend(Done done) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (!done()) {
    if (std::chrono::steady_clock::now() > limit) return false;
    QTest::qWait(10);
  }
  return true;
}

// The application, made once for the process after the daemon: the media backend finds it.
void StartApplication() {
  static int argc = 1;
  static char name[] = "song_preview_test";
  static char* argv[] = {name, nullptr};
  setenv("QT_QPA_PLATFORM", "offscreen", 0);  // no display needed
  UseOwnSettings();
  // Never destroyed: Qt's own statics go at exit before it would.
  static auto* app = new QApplication(argc, argv);
  (void)app;
}

struct SongPreviewTest : ::testing::Test {
  void SetUp() override {
    if (!Server().why().empty()) GTEST_SKIP() << Server().why();
    ASSERT_TRUE(WriteToneFont(dir / "tone.sf2"));
    StartApplication();
    ClearDialogSettings();
    dialog = std::make_unique<CVelornaDlg>(ConversionRunner{});
    dialog->show();
    auto* font = dialog->findChild<QLineEdit*>(QStringLiteral("soundFont"));
    ASSERT_NE(font, nullptr);
    font->setText(QString::fromStdString((dir / "tone.sf2").string()));
  }
  // Made on first use and kept for the process, as the application is (which goes first).
  static AudioServer& Server() {
    static AudioServer server;
    return server;
  }
  TempDir dir;
  std::unique_ptr<CVelornaDlg> dialog;
};

TEST_F(SongPreviewTest, PlaysInTuneAndAChangeLandsWhereThePlayerSays) {
  // A held A4 on the left; on the right a short marker every kMarkerEvery s from the note's
  // start, by which a song time is found in the recording even where a busy sound server lost
  // a little of the stream.
  TrackBytes t;
  const auto ticks = [](double seconds) { return static_cast<uint32_t>(seconds * 2 * kDivision); };
  t.Tempo(0, 500000).Control(0, 0, 10, 0).Control(0, 1, 10, 127);
  t.NoteOn(ticks(kLeadSeconds), 0, 69, 100);
  const int markers = static_cast<int>(kHeldSeconds / kMarkerEvery);
  uint32_t delta = 0;
  for (int k = 0; k < markers; ++k) {
    t.NoteOn(delta, 1, 81, 100).NoteOff(ticks(kMarkerLength), 1, 81);
    delta = ticks(kMarkerEvery - kMarkerLength);
  }
  t.NoteOff(ticks(kHeldSeconds - (markers - 1) * kMarkerEvery - kMarkerLength), 0, 69);
  t.EndOfTrack(0);
  WriteBytes(dir / "held.mid", SmfFile(0, kDivision, {t}));

  dialog->OpenSongs({QString::fromStdString((dir / "held.mid").string())});
  auto* spinA = dialog->findChild<QDoubleSpinBox*>(QString::number(kSpinA));
  auto* play = dialog->findChild<QPushButton*>(QStringLiteral("previewPlay"));
  auto* preview = dialog->findChild<SongPreview*>(QStringLiteral("preview"));
  ASSERT_TRUE(spinA && play && preview);
  spinA->setValue(kFirstCents);

  MonitorRecording take(dir.path(), "velorna_test");
  ASSERT_TRUE(take.recording());
  QTest::mouseClick(play, Qt::LeftButton);
  ASSERT_FALSE(preview->outputMissing());
  PreviewPlayer* player = preview->songPlayer();
  ASSERT_NE(player, nullptr);
  const int rate = player->sampleRate();
  ASSERT_TRUE(Tend([&] { return player->position() >= kChangeAt * rate; }));
  const int64_t asked = player->position();
  const int64_t before = player->lastSwitchFrame();
  spinA->setValue(kSecondCents);
  ASSERT_TRUE(Tend([&] { return player->lastSwitchFrame() != before; }));
  const int64_t landed = player->lastSwitchFrame();
  ASSERT_TRUE(Tend([&] { return player->ended(); }));
  const std::vector<int16_t> song = OnSongClock(take.Stop(), kLeadSeconds);

  // The switch lands at or after the frame heard when it was asked for.
  EXPECT_GE(landed, asked);
  // The turn in the recording: from the marker before it, found near where the clock puts it.
  const double songTurn = static_cast<double>(landed) / rate;
  const double marker =
      kLeadSeconds + std::floor((songTurn - kLeadSeconds) / kMarkerEvery) * kMarkerEvery;
  auto onset = static_cast<size_t>((marker - kMarkerSearch) * kTakeRate);
  while (2 * onset + 1 < song.size() && std::abs(song[2 * onset + 1]) < kSoundLevel) ++onset;
  ASSERT_LT(2 * onset + 1, song.size());
  const double turn = static_cast<double>(onset) / kTakeRate + (songTurn - marker);
  const double a = TargetHz(69, kFirstCents), b = TargetHz(69, kSecondCents);
  constexpr double kFade = kCrossfadeSeconds;
  ASSERT_GT(song.size(), static_cast<size_t>((kLeadSeconds + kHeldSeconds) * kTakeRate) * 2);
  // Each side of the switch right up to it, and the stretches between, at their own pitch.
  EXPECT_NEAR(CentsAt(song, turn - 0.09, turn - 0.01, a), 0.0, 1);
  EXPECT_NEAR(CentsAt(song, turn + kFade + 0.01, turn + kFade + 0.11, b), 0.0, 1);
  EXPECT_NEAR(CentsAt(song, kLeadSeconds + 0.15, turn - 0.05, a), 0.0, 0.1);
  EXPECT_NEAR(CentsAt(song, turn + kFade + 0.05, kLeadSeconds + kHeldSeconds - 0.15, b), 0.0, 0.1);
}

}  // namespace
}  // namespace velorna::test

namespace velorna::test {
namespace {

// Clicking a key's name sounds that pitch class in the tuning, through the same player: the
// A of the middle octave at its target.
TEST_F(SongPreviewTest, AKeysNameSoundsItsPitchInTheTuning) {
  auto* spinA = dialog->findChild<QDoubleSpinBox*>(QString::number(kSpinA));
  auto* program = dialog->findChild<QComboBox*>(QStringLiteral("auditionProgram"));
  auto* preview = dialog->findChild<SongPreview*>(QStringLiteral("preview"));
  QLabel* keyA = nullptr;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->property("auditionPitchClass").toInt() == kPitchClassA &&
        label->property("auditionPitchClass").isValid())
      keyA = label;
  }
  ASSERT_TRUE(spinA && program && preview && keyA);
  spinA->setValue(kFirstCents);
  program->setCurrentIndex(program->findData(0));  // the tone font's one program
  MonitorRecording take(dir.path(), "velorna_test");
  ASSERT_TRUE(take.recording());
  QTest::mouseClick(keyA, Qt::LeftButton);
  ASSERT_FALSE(preview->outputMissing());
  // The tone lasts kAuditionToneSeconds; the audition then pauses at its slot's end.
  QTest::qWait(static_cast<int>((kAuditionToneSeconds + 1.5) * 1000));
  const std::vector<int16_t> song = OnSongClock(take.Stop(), 0);
  ASSERT_GT(song.size(), static_cast<size_t>(kAuditionToneSeconds * kTakeRate) * 2);
  EXPECT_NEAR(CentsAt(song, 0.15, kAuditionToneSeconds - 0.1, TargetHz(69, kFirstCents)), 0.0, 0.1);
}

}  // namespace
}  // namespace velorna::test

namespace velorna::test {
namespace {

// Before any Play the slider has the selected song's length and sets where Play starts; and
// each setting that changes what Convert writes, changed while the song plays, is heard from
// the position it was at: the tuning's fields, the parts' tunings, the song's own tuning
// ignored, and the SoundFont (which takes a player of its own).
TEST_F(SongPreviewTest, SliderBeforePlayAndEverySettingGoesOnWhereItWas) {
  constexpr double kSongSeconds = 20.0;
  TrackBytes t;
  t.Tempo(0, 500000).NoteOn(0, 0, 69, 100);
  t.NoteOff(static_cast<uint32_t>(kSongSeconds * 2 * kDivision), 0, 69).EndOfTrack(0);
  WriteBytes(dir / "held.mid", SmfFile(0, kDivision, {t}));
  ASSERT_TRUE(WriteToneFont(dir / "other.sf2"));
  auto* slider = dialog->findChild<QSlider*>(QStringLiteral("previewPosition"));
  auto* play = dialog->findChild<QPushButton*>(QStringLiteral("previewPlay"));
  auto* preview = dialog->findChild<SongPreview*>(QStringLiteral("preview"));
  auto* spinA = dialog->findChild<QDoubleSpinBox*>(QString::number(kSpinA));
  auto* a4 = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("a4"));
  auto* key = dialog->findChild<QComboBox*>(QString::number(kKeySelector));
  auto* adaptive = dialog->findChild<QCheckBox*>(QStringLiteral("adaptive"));
  auto* parts = dialog->findChild<ExportPanel*>(QStringLiteral("exportPanel"));
  auto* ignore = dialog->findChild<QCheckBox*>(QStringLiteral("ignoreSongTuning"));
  auto* font = dialog->findChild<QLineEdit*>(QStringLiteral("soundFont"));
  ASSERT_TRUE(slider && play && preview && spinA && a4 && key && adaptive && parts && ignore &&
              font);
  ASSERT_FALSE(slider->isEnabled());  // no song yet

  dialog->OpenSongs({QString::fromStdString((dir / "held.mid").string())});
  ASSERT_TRUE(slider->isEnabled());
  const int length = slider->maximum();
  EXPECT_GE(length, static_cast<int>(kSongSeconds * 10));
  slider->setValue(length / 4);
  QTest::mouseClick(play, Qt::LeftButton);
  ASSERT_FALSE(preview->outputMissing());
  PreviewPlayer* player = preview->songPlayer();
  ASSERT_NE(player, nullptr);
  const int rate = player->sampleRate();
  EXPECT_EQ(slider->maximum(), player->songFrames() * 10 / rate);
  EXPECT_EQ(player->position(), int64_t{length / 4} * rate / 10);

  PartTunings pythagorean;
  pythagorean[0] = QStringLiteral("pythagorean");
  const std::pair<const char*, std::function<void()>> changes[] = {
      {"offset", [&] { spinA->setValue(kSecondCents); }},
      {"A4", [&] { a4->setValue(442.0); }},
      {"tonic", [&] { key->setCurrentIndex((key->currentIndex() + 1) % key->count()); }},
      {"adaptive", [&] { adaptive->setChecked(!adaptive->isChecked()); }},
      {"part", [&] { parts->SetPartTunings(pythagorean); }},
      {"song's own tuning", [&] { ignore->setChecked(!ignore->isChecked()); }},
  };
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(Tend([&] { return player->position() > player->lastSwitchFrame() + rate / 2; }));
    const int64_t asked = player->position();
    const int64_t before = player->lastSwitchFrame();
    change();
    ASSERT_TRUE(Tend([&] { return player->lastSwitchFrame() != before; }));
    EXPECT_GE(player->lastSwitchFrame(), asked);
    EXPECT_TRUE(player->playing());
  }
  // Another SoundFont: a player of its own, from the very frame the first had reached.
  const int64_t asked = player->position();
  font->setText(QString::fromStdString((dir / "other.sf2").string()));
  PreviewPlayer* reopened = preview->songPlayer();
  ASSERT_NE(reopened, nullptr);
  EXPECT_NE(reopened, player);
  EXPECT_EQ(reopened->position(), asked);
  EXPECT_TRUE(reopened->playing());
}

}  // namespace
}  // namespace velorna::test
