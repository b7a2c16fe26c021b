// Plays a finished WAV from the dialog through Qt Multimedia. Made on first use, so that a
// dialog that never plays never starts the media backend.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QAudioOutput;
class QMediaPlayer;

namespace velorna {

class ResultPlayer : public QObject {
 public:
  explicit ResultPlayer(QObject* parent = nullptr);
  ~ResultPlayer() override;

  // Whether the system offers any audio output to play on.
  static bool HasAudioOutput();

  void Play(const QString& path);
  void Stop();
  bool IsPlaying() const;
  // Called whenever playing starts or ends (at the end of the file, on Stop or an error).
  std::function<void(bool playing)> onPlayingChanged;

 private:
  std::unique_ptr<QAudioOutput> m_output;
  std::unique_ptr<QMediaPlayer> m_player;
};

}  // namespace velorna
