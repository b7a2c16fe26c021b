#include "app/song_preview.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QComboBox>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <span>

#include "base/library_error.h"
#include "base/limits.h"

namespace velorna {

namespace {

// The preview plays at the default output rate.
constexpr int kPreviewRate = kSampleRate;
constexpr int kFrameBytes = kChannels * static_cast<int>(sizeof(float));
// The sink's buffer: short, so that a change is heard soon after the player makes it.
constexpr double kSinkBufferSeconds = 0.05;
constexpr int kTickMilliseconds = 50;
// How often the sink is given more: well within its buffer.
constexpr int kFeedMilliseconds = 10;
constexpr int kSliderStepsPerSecond = 10;
// General MIDI programs offered for the audition: sustained ones, in which beating shows.
struct AuditionProgram {
  int program;
  const char* name;
};
constexpr AuditionProgram kAuditionPrograms[] = {
    {19, QT_TRANSLATE_NOOP("velorna::SongPreview", "オルガン")},
    {48, QT_TRANSLATE_NOOP("velorna::SongPreview", "弦楽合奏")},
    {52, QT_TRANSLATE_NOOP("velorna::SongPreview", "合唱")},
    {0, QT_TRANSLATE_NOOP("velorna::SongPreview", "ピアノ")},
};

constexpr const char* kPitchClassProperty = "auditionPitchClass";

QString Clock(int64_t frame, int rate) {
  const int64_t seconds = frame / std::max(rate, 1);
  return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar(u'0'));
}

}  // namespace

SongPreview::SongPreview(PreviewSource source, Reporter& reporter, QWidget* parent)
    : QWidget(parent), m_source(std::move(source)), m_reporter(reporter) {
  setObjectName(QStringLiteral("preview"));
  m_playButton = new QPushButton(this);
  m_playButton->setObjectName(QStringLiteral("previewPlay"));
  m_playButton->setAutoDefault(false);
  m_playButton->setToolTip(
      tr("選んだ曲を、今の音律で変換したとおりにスライダーの位置から試聴します"));
  m_slider = new QSlider(Qt::Horizontal, this);
  m_slider->setObjectName(QStringLiteral("previewPosition"));
  m_slider->setToolTip(tr("試聴する位置"));
  m_timeLabel = new QLabel(Clock(0, kPreviewRate), this);
  m_abButton = new QPushButton(QStringLiteral("A/B"), this);
  m_abButton->setObjectName(QStringLiteral("previewAB"));
  m_abButton->setCheckable(true);
  m_abButton->setAutoDefault(false);
  m_abButton->setToolTip(tr("押すと平均律 (B) で、もう一度押すと選んだ音律 (A) で鳴ります"));
  m_programSelector = new QComboBox(this);
  m_programSelector->setObjectName(QStringLiteral("auditionProgram"));
  for (const AuditionProgram& p : kAuditionPrograms)
    m_programSelector->addItem(tr(p.name), p.program);
  m_programSelector->setToolTip(tr("鍵盤の音名をクリックしたときと和音で鳴らす音色"));
  m_majorButton = new QPushButton(tr("長三和音"), this);
  m_majorButton->setObjectName(QStringLiteral("auditionMajor"));
  m_minorButton = new QPushButton(tr("短三和音"), this);
  m_minorButton->setObjectName(QStringLiteral("auditionMinor"));
  for (QPushButton* b : {m_majorButton, m_minorButton}) {
    b->setAutoDefault(false);
    b->setToolTip(tr("調の主音の上の三和音を今の音律で鳴らします"));
  }

  connect(m_playButton, &QPushButton::clicked, this, &SongPreview::OnPlay);
  connect(m_slider, &QSlider::sliderReleased, this, &SongPreview::OnSliderMoved);
  connect(m_slider, &QSlider::valueChanged, this, [this] {
    if (!m_showing && !m_slider->isSliderDown()) OnSliderMoved();
  });
  connect(m_abButton, &QPushButton::toggled, this, [this](bool b) {
    if (m_song) m_song->SelectB(b);
  });
  connect(m_majorButton, &QPushButton::clicked, this,
          [this] { Audition(AuditionSound::kMajorTriad, m_chordKey); });
  connect(m_minorButton, &QPushButton::clicked, this,
          [this] { Audition(AuditionSound::kMinorTriad, m_chordKey); });
  m_tick.setInterval(kTickMilliseconds);
  connect(&m_tick, &QTimer::timeout, this, &SongPreview::OnTick);
  m_feed.setInterval(kFeedMilliseconds);
  connect(&m_feed, &QTimer::timeout, this, &SongPreview::Feed);
  m_tuningDue.setSingleShot(true);
  m_tuningDue.setInterval(0);
  connect(&m_tuningDue, &QTimer::timeout, this, [this] {
    const PreviewTuning tuning = m_source.tuning();
    for (PreviewPlayer* p : {m_song.get(), m_audition.get()}) {
      if (p) (void)p->SetTuning(tuning);
    }
  });

  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(new QLabel(tr("試聴:"), this));
  row->addWidget(m_playButton);
  row->addWidget(m_slider, 1);
  row->addWidget(m_timeLabel);
  row->addWidget(m_abButton);
  row->addSpacing(m_timeLabel->fontMetrics().horizontalAdvance(QStringLiteral("MM")));
  row->addWidget(m_programSelector);
  row->addWidget(m_majorButton);
  row->addWidget(m_minorButton);
  UpdateButtons();
}

SongPreview::~SongPreview() {
  if (m_sink) m_sink->stop();
}

int SongPreview::Rate() const {
  return kPreviewRate;
}

bool SongPreview::OpenOutput() {
  if (m_sink) return true;
  if (m_noOutput) return false;
  const QAudioDevice device = QMediaDevices::defaultAudioOutput();
  QAudioFormat format;
  format.setSampleRate(Rate());
  format.setChannelCount(kChannels);
  format.setSampleFormat(QAudioFormat::Float);
  if (device.isNull()) {
    m_noOutput = true;
  } else {
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->setBufferSize(static_cast<qsizetype>(kSinkBufferSeconds * Rate()) * kFrameBytes);
    m_sinkInput = m_sink->start();
    if (m_sinkInput == nullptr || m_sink->error() != QAudio::NoError) {
      m_sink.reset();
      m_noOutput = true;
    } else {
      m_feed.start();
    }
  }
  if (m_noOutput) {
    // Once: playback stays off from here on.
    ShowLibraryError(m_reporter, LibraryModule::AOUT, code::kAoutNoOutput, msg::kNoAudioOutput);
    UpdateButtons();
  }
  return !m_noOutput;
}

void SongPreview::Hear(PreviewPlayer* player) {
  for (PreviewPlayer* p : {m_song.get(), m_audition.get()}) {
    if (p && p != player) p->Pause();
  }
  m_heard = player;
}

void SongPreview::Feed() {
  if (!m_sink || !m_sinkInput) return;
  const qsizetype frames = m_sink->bytesFree() / kFrameBytes;
  if (frames <= 0) return;
  m_feedBuffer.assign(static_cast<size_t>(frames) * kChannels, 0.0f);
  if (m_heard) m_heard->Pull(m_feedBuffer);
  m_sinkInput->write(reinterpret_cast<const char*>(m_feedBuffer.data()), frames * kFrameBytes);
}

void SongPreview::OnPlay() {
  if (!OpenOutput()) return;
  if (m_song && m_song->playing()) {
    m_song->Pause();
    UpdateButtons();
    return;
  }
  if (!m_song && !OpenSong(SliderFrame())) return;
  Hear(m_song.get());
  m_song->Play();
  m_tick.start();
  UpdateButtons();
}

bool SongPreview::OpenSong(int64_t frame) {
  const QString song = m_source.song();
  if (song.isEmpty()) return false;
  setCursor(Qt::WaitCursor);
  m_song = PreviewPlayer::Open(song.toStdString(), m_source.soundFont().toStdString(), Rate(),
                               m_reporter);
  unsetCursor();
  if (!m_song) return false;
  m_tuningDue.stop();  // the tuning is read now
  (void)m_song->SetTuning(m_source.tuning());
  m_song->SelectB(m_abButton->isChecked());
  ShowLength(m_song->songFrames());
  m_song->Seek(frame);
  return true;
}

int64_t SongPreview::SliderFrame() const {
  return int64_t{m_slider->value()} * Rate() / kSliderStepsPerSecond;
}

void SongPreview::ShowLength(int64_t frames) {
  m_songFrames = frames;
  m_showing = true;
  m_slider->setRange(0, static_cast<int>(frames * kSliderStepsPerSecond / Rate()));
  m_showing = false;
}

void SongPreview::OnSliderMoved() {
  if (m_song) m_song->Seek(SliderFrame());
  ShowPosition();
}

void SongPreview::TuningChanged() {
  m_tuningDue.start();
}

void SongPreview::SourceChanged() {
  const QString song = m_source.song();
  const QString font = m_source.soundFont();
  if (song == m_songPath && font == m_fontPath) return;
  const bool sameSong = song == m_songPath;
  m_songPath = song;
  m_fontPath = font;
  const int64_t at = m_song ? m_song->position() : 0;
  const bool wasPlaying = m_song && m_song->playing();
  if (m_song && m_song->playing()) m_song->Pause();
  if (m_heard == m_song.get()) m_heard = nullptr;
  m_song.reset();
  if (m_audition && m_auditionFont != font) {
    if (m_heard == m_audition.get()) m_heard = nullptr;
    m_audition.reset();
  }
  // Another SoundFont changes what Convert writes: the song goes on with it where it was.
  // A name still being typed is taken once it names a file.
  if (sameSong && wasPlaying && (font.isEmpty() || QFileInfo(font).isFile()) && OpenSong(at)) {
    Hear(m_song.get());
    m_song->Play();
    UpdateButtons();
    return;
  }
  if (!sameSong) {
    // The song's length, from the song alone: the slider sets where Play starts. A song
    // that cannot be read says why when Play opens it.
    SilentReporter quiet;
    const std::optional<int64_t> frames =
        song.isEmpty() ? std::nullopt : PreviewSongFrames(song.toStdString(), Rate(), quiet);
    ShowLength(frames.value_or(0));
    m_showing = true;
    m_slider->setValue(0);
    m_showing = false;
  }
  ShowPosition();
  UpdateButtons();
}

void SongPreview::Audition(AuditionSound sound, int pitchClass) {
  if (!OpenOutput()) return;
  const int program = m_programSelector->currentData().toInt();
  const QString font = m_source.soundFont();
  if (!m_audition || program != m_auditionProgram || font != m_auditionFont) {
    if (m_heard == m_audition.get()) m_heard = nullptr;
    m_audition.reset();
    const std::vector<uint8_t> smf = AuditionSongBytes(program);
    setCursor(Qt::WaitCursor);
    m_audition = PreviewPlayer::OpenBytes(smf, tr("試聴の音").toStdString(), font.toStdString(),
                                          Rate(), m_reporter);
    unsetCursor();
    if (!m_audition) return;
    m_auditionProgram = program;
    m_auditionFont = font;
    (void)m_audition->SetTuning(m_source.tuning());
  }
  const AuditionSlot slot = AuditionSlotOf(sound, pitchClass, Rate());
  m_auditionEnd = slot.endFrame;
  Hear(m_audition.get());
  m_audition->Seek(slot.startFrame);
  m_audition->Play();
  m_tick.start();
  UpdateButtons();
}

void SongPreview::WatchKeyLabel(QLabel* label, int pitchClass) {
  label->setProperty(kPitchClassProperty, pitchClass);
  label->setCursor(Qt::PointingHandCursor);
  label->setToolTip(tr("クリックでこの音を今の音律で鳴らします"));
  label->installEventFilter(this);
}

bool SongPreview::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease && !m_noOutput) {
    const QVariant pitchClass = watched->property(kPitchClassProperty);
    if (pitchClass.isValid()) {
      Audition(AuditionSound::kTone, pitchClass.toInt());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void SongPreview::OnTick() {
  for (PreviewPlayer* p : {m_song.get(), m_audition.get()}) {
    if (p) p->Collect();
  }
  // An audition ends with its slot: the next one's sound is another's.
  if (m_audition && m_audition->playing() && m_audition->position() >= m_auditionEnd)
    m_audition->Pause();
  ShowPosition();
  UpdateButtons();
  const bool busy = (m_song && m_song->playing()) || (m_audition && m_audition->playing());
  if (!busy) m_tick.stop();
}

void SongPreview::ShowPosition() {
  const int64_t frame = m_song ? m_song->position() : SliderFrame();
  if (m_song && !m_slider->isSliderDown()) {
    m_showing = true;
    m_slider->setValue(static_cast<int>(frame * kSliderStepsPerSecond / Rate()));
    m_showing = false;
  }
  const QString total =
      m_songFrames > 0 ? QStringLiteral(" / ") + Clock(m_songFrames, Rate()) : QString();
  m_timeLabel->setText(Clock(frame, Rate()) + total);
}

void SongPreview::UpdateButtons() {
  const bool playing = m_song && m_song->playing();
  m_playButton->setText(playing ? tr("一時停止") : tr("試聴"));
  for (QWidget* w : std::initializer_list<QWidget*>{m_playButton, m_abButton, m_programSelector,
                                                    m_majorButton, m_minorButton})
    w->setEnabled(!m_noOutput);
  m_slider->setEnabled(!m_noOutput && m_songFrames > 0);
  if (m_noOutput) m_playButton->setToolTip(tr("音声の出力先が見つからないため再生できません。"));
}

}  // namespace velorna
