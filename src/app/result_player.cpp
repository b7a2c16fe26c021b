#include "app/result_player.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QMediaDevices>
#include <QMediaPlayer>
#include <QUrl>

namespace velorna {

ResultPlayer::ResultPlayer(QObject* parent) : QObject(parent) {}

ResultPlayer::~ResultPlayer() {
  if (m_player) m_player->stop();
}

bool ResultPlayer::HasAudioOutput() {
  return !QMediaDevices::audioOutputs().isEmpty();
}

void ResultPlayer::Play(const QString& path) {
  if (!m_player) {
    m_output = std::make_unique<QAudioOutput>();
    m_player = std::make_unique<QMediaPlayer>();
    m_player->setAudioOutput(m_output.get());
    connect(m_player.get(), &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState state) {
              if (onPlayingChanged) onPlayingChanged(state == QMediaPlayer::PlayingState);
            });
    connect(m_player.get(), &QMediaPlayer::errorOccurred, this, [this] {
      if (onPlayingChanged) onPlayingChanged(false);
    });
  }
  m_player->setSource(QUrl::fromLocalFile(path));
  m_player->play();
}

void ResultPlayer::Stop() {
  if (m_player) m_player->stop();
}

bool ResultPlayer::IsPlaying() const {
  return m_player && m_player->playbackState() == QMediaPlayer::PlayingState;
}

}  // namespace velorna
