// The dialog's player: Play/Pause, a position slider and A/B for the song selected in the
// list, played as a conversion would write it in the dialog's tuning; and the audition of
// the tuning's pitch classes and triads. The playing itself is the preview player's; this
// only feeds it to a Qt Multimedia audio sink and shows where it is.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/reporter.h"
#include "conversion/audition_song.h"
#include "conversion/preview_player.h"

class QAudioSink;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

namespace velorna {

// What the player plays, read from the dialog when it is needed.
struct PreviewSource {
  std::function<QString()> song;       // the selected song; empty: none
  std::function<QString()> soundFont;  // empty: the default
  std::function<PreviewTuning()> tuning;
};

class SongPreview final : public QWidget {
  Q_OBJECT

 public:
  SongPreview(PreviewSource source, Reporter& reporter, QWidget* parent = nullptr);
  ~SongPreview() override;

  // The dialog's tuning changed: what plays takes it at the same position, crossfading.
  void TuningChanged();
  // The list or the SoundFont changed: another song selected shows its length, what played
  // stops and Play opens it afresh; another SoundFont is heard at once where the song was.
  void SourceChanged();
  // Sounds the tuning's pitch class (0 = C) or a triad on it in the chosen program.
  void Audition(AuditionSound sound, int pitchClass);
  // Clicking `label` sounds `pitchClass` (0 = C).
  void WatchKeyLabel(QLabel* label, int pitchClass);
  // The key the chord control builds its triads on.
  void SetChordKey(int pitchClass) { m_chordKey = pitchClass; }

  // What plays the song (null before the first Play), for the tests' measures.
  [[nodiscard]] PreviewPlayer* songPlayer() const { return m_song.get(); }
  [[nodiscard]] bool outputMissing() const { return m_noOutput; }

  void OnPlay();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The audio sink, opened on first use; false when there is no output (said once).
  [[nodiscard]] bool OpenOutput();
  void Hear(PreviewPlayer* player);
  // Gives the sink what it has room for, from the player heard (silence without one).
  void Feed();
  void OnTick();
  // Opens the selected song, in the dialog's tuning, at `frame`; false when it cannot be.
  [[nodiscard]] bool OpenSong(int64_t frame);
  [[nodiscard]] int64_t SliderFrame() const;
  void ShowLength(int64_t frames);
  void OnSliderMoved();
  void ShowPosition();
  void UpdateButtons();
  [[nodiscard]] int Rate() const;

  PreviewSource m_source;
  Reporter& m_reporter;
  QPushButton* m_playButton = nullptr;
  QSlider* m_slider = nullptr;
  QLabel* m_timeLabel = nullptr;
  QPushButton* m_abButton = nullptr;
  QComboBox* m_programSelector = nullptr;
  QPushButton* m_majorButton = nullptr;
  QPushButton* m_minorButton = nullptr;
  QTimer m_tick;
  QTimer m_tuningDue;      // gathers the changes of one edit (a preset sets twelve fields)
  bool m_showing = false;  // the slider moves by the player, not by the user
  bool m_noOutput = false;
  int m_chordKey = 0;

  // The song and SoundFont shown, and the song's length (0: none known).
  QString m_songPath, m_fontPath;
  int64_t m_songFrames = 0;
  std::unique_ptr<PreviewPlayer> m_song;
  std::unique_ptr<PreviewPlayer> m_audition;
  QString m_auditionFont;
  int m_auditionProgram = -1;
  int64_t m_auditionEnd = 0;
  PreviewPlayer* m_heard = nullptr;
  std::vector<float> m_feedBuffer;
  QTimer m_feed;
  std::unique_ptr<QAudioSink> m_sink;  // after the players: it goes first
  QIODevice* m_sinkInput = nullptr;    // the sink's
};

}  // namespace velorna
