// The main dialog: twelve cent offsets laid out as one piano octave, the key selector, the
// songs opened (each with its state) and Convert/Stop for them, the SoundFont and output
// folder, labelled status
// fields (song, progress, elapsed and remaining time, the output with open-folder and play),
// presets on the key, the reference pitch, Scala and scale files, adaptive intonation, the
// output's type and shape, Export MIDI, the remembered settings, help and exit.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <vector>

#include "app/dialog_bridge.h"
#include "app/export_panel.h"
#include "app/offset_spin_box.h"
#include "app/path_prompt.h"
#include "app/result_player.h"
#include "app/tuning_panel.h"
#include "conversion/conversion_job.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace velorna {
class SongPreview;
}

namespace velorna {

// The job the Convert button runs; the program passes RunConversion.
using ConversionRunner =
    std::function<ConversionResult(const std::string& path, const ConversionOptions& options,
                                   JobControl& control, JobObserver& observer, Reporter& reporter)>;

QString AskPathWithFileDialog(PathPrompt prompt, const QString& start);
// Asks for the songs to convert, several at once; empty when cancelled.
using SongsAsker = std::function<QStringList(const QString& folder)>;
QStringList AskSongsWithFileDialog(const QString& folder);
// Opens a folder in the desktop's file manager; false when it could not.
using UrlOpener = std::function<bool(const QUrl& url)>;

// Whether a dropped or given file is one the dialog converts (.mid / .midi).
bool IsMidiFileName(const QString& path);

inline constexpr int kKeySelectorCount = 15;
inline constexpr int kInitialKeyIndex = 7;

class CVelornaDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CVelornaDlg(ConversionRunner runner, QWidget* parent = nullptr);
  ~CVelornaDlg() override;

  void SetPathAsker(PathAsker asker) { m_askPath = std::move(asker); }
  void SetSongsAsker(SongsAsker asker) { m_askSongs = std::move(asker); }
  void SetUrlOpener(UrlOpener opener) { m_openUrl = std::move(opener); }
  void SetHelpPage(const QString& path) { m_helpPage = path; }
  bool IsConverting() const { return m_job.m_running.load() != 0; }
  bool IsClosing() const { return m_closing.load(); }
  QWidget* HelpWindow() const { return m_helpWindow; }
  Reporter& reporter() { return m_reporter; }

  // A close while a conversion runs asks it to stop and finishes only when it has ended.
  void done(int result) override;

  // Convert: the songs waiting in the list one after another (none: asks for songs first);
  // while a run goes on, Stop.
  void OnConvert();
  // Puts `songs` into the list, waiting, without converting them (named on the command line,
  // dropped or added); a song listed already waits again. Returns their paths as listed.
  QStringList OpenSongs(const QStringList& songs);
  // Opens `songs` and converts them one after another; several end with a summary. Ignored
  // while a conversion runs.
  void ConvertSongs(const QStringList& songs);
  void OnAddSongs();
  void OnRemoveSongs();
  // Progress from the job, on the GUI thread.
  void ShowJobProgress(const QString& progress, const QString& elapsed);
  void OnReset();
  // The initial tuning, SoundFont and output folder, and nothing remembered.
  void OnDefaults();
  void OnChooseSoundFont();
  void OnChooseOutputFolder();
  void OnOpenFolder();
  void OnPlay();
  void OnSaveScale();
  void OnLoadScale();
  void OnImportScala();
  void OnExportScala();
  // Export MIDI: the selected songs (none selected: every listed one; none listed: asks) as
  // MIDI files that sound the dialog's tuning.
  void OnExportMidi();
  void OnHelp();
  void OnAbout();

 private:
  // Where a listed song stands.
  enum class SongState { kWaiting, kConverting, kWritten, kStopped, kFailed, kSkipped };
  // One song of a run and how it ended.
  struct SongRun {
    QString song;
    QString output;
    ConversionResult result = ConversionResult::kNotWritten;
    QStringList messages;        // a batch's messages, shown with its summary
    int64_t clippedSamples = 0;  // of the output written
  };

  void OnInitDialog();
  void BuildLayout();
  QLayout* BuildFileRows();
  QLayout* BuildStatusRows();
  void StartRun(const QStringList& songs);
  // The songs whose output exists already: all of them, none (skipped) or no run at all.
  std::optional<QStringList> AskAboutExistingOutputs(const QStringList& songs);
  QLayout* BuildSongList();
  QTreeWidgetItem* SongItem(const QString& song) const;
  void ShowSongState(const QString& song, SongState state, const QString& detail = {});
  QStringList WaitingSongs() const;
  void StartNextSong();
  void ConversionThreadProc(std::string path, ConversionOptions options, bool batch);
  void OnWorkerEnded(ConversionResult result);
  double SecondsRunning() const;
  void ShowRemainingTime();
  void OnClockTick();
  void FinishRun();
  void SetControlsEnabled(bool enabled);
  void SetTuningControlsEnabled(bool enabled);
  void ShowOutput(const QString& path);
  void UpdatePlayButton();
  QLayout* BuildTuningRow();
  QLayout* BuildOutputShapeRow();
  CentTable ReadOffsets() const;
  void ShowTuning(const ScaleSettings& tuning);
  DialogTuning CurrentTuning() const;
  // The tuning and the song as the preview plays them.
  void BuildPreview();
  QString SelectedSong() const;
  // `tuning` as a job plays it, the parts tuned apart included.
  Tuning JobTuning(const DialogTuning& tuning);
  void OnPresetChosen();
  void OnKeyChosen();
  void OnOffsetEdited();
  void ShowOffsets(const ShownOctave& octave);
  // The reference pitch as set (none: not set, the field greyed, showing where A4 sounds).
  void ShowA4(std::optional<double> hz);
  void ShowScala(std::optional<ScalaSource> scala, const QString& scl, const QString& kbm);
  bool LoadScala(const QString& scl, const QString& kbm, bool quiet);
  std::optional<Scale> ReadScl(const QString& scl, bool quiet);
  bool PlayScala(Scale scale, const QString& scl, const QString& kbm, bool quiet);
  bool ExportScala();
  QString OutputPathFor(const QString& song) const;
  void RememberSettings() const;
  // The depth, rate and level the output controls ask for.
  OutputFormat ChosenOutputFormat() const;
  void ShowMessage(const QString& text);
  std::optional<std::string> AskPatternFromWorker(const std::string& pattern);
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

  std::array<OffsetSpinBox*, 12> m_offsetSpins{};
  JobControl m_job;  // m_progress, m_running, m_cancel and m_startTick, shared with the worker
  int m_initDone = 0;
  QIcon m_hIcon;

  OffsetSpinBox* m_upperC = nullptr;
  QLabel* m_progressField = nullptr;
  QComboBox* m_keySelector = nullptr;
  QComboBox* m_presetSelector = nullptr;
  NumberField* m_a4Field = nullptr;
  bool m_a4Set = false;
  QCheckBox* m_adaptiveBox = nullptr;
  QLabel* m_scalaLabel = nullptr;
  QComboBox* m_typeSelector = nullptr;
  QComboBox* m_bitsSelector = nullptr;
  QComboBox* m_rateSelector = nullptr;   // items carry the rate in Hz
  QComboBox* m_levelSelector = nullptr;  // items in the order of kLevelPresets
  std::optional<ScalaSource> m_scala;    // played instead of the offsets while set
  QString m_sclPath;
  QString m_kbmPath;
  bool m_showingOffsets = false;  // the fields change by a preset, not by the user
  QPushButton* m_convertButton = nullptr;
  QLabel* m_elapsedField = nullptr;
  QLabel* m_songField = nullptr;
  QLabel* m_remainingField = nullptr;
  QLineEdit* m_outputField = nullptr;
  QPushButton* m_openFolderButton = nullptr;
  QPushButton* m_playButton = nullptr;
  QLineEdit* m_soundFontEdit = nullptr;
  QLineEdit* m_outputFolderEdit = nullptr;
  QTreeWidget* m_songList = nullptr;
  QPushButton* m_removeSongsButton = nullptr;
  ExportPanel* m_exportPanel = nullptr;
  std::vector<QWidget*> m_tuningControls;  // off while a job runs: changes would not reach it

  ConversionRunner m_runner;
  PathAsker m_askPath = AskPathWithFileDialog;
  SongsAsker m_askSongs = AskSongsWithFileDialog;
  UrlOpener m_openUrl;
  QString m_songFolder;
  QString m_helpPage;
  ResultPlayer m_player;
  SongPreview* m_preview = nullptr;  // plays the selected song and auditions the tuning
  QTimer m_clock;                    // keeps the times going between progress reports

  QStringList m_queue;         // songs still to convert in this run
  std::vector<SongRun> m_run;  // songs of this run so far
  qsizetype m_runSize = 0;
  qsizetype m_runSkipped = 0;  // songs left alone because their output exists
  std::chrono::steady_clock::time_point m_runStart;
  RecordingReporter m_batchMessages;  // a batch collects messages instead of showing boxes
  QPointer<QWidget> m_helpWindow;

  DialogHooks m_hooks{this, [this] { return IsClosing(); },
                      [this](const QString& text) { ShowMessage(text); },
                      [this](const QString& progress, const QString& elapsed) {
                        ShowJobProgress(progress, elapsed);
                      }};
  DialogReporter m_reporter{m_hooks};
  DialogObserver m_observer{m_hooks};
  std::thread m_worker;
  std::atomic<bool> m_workerDone{true};
  std::atomic<bool> m_closing{false};
  bool m_destroying = false;
  int m_closeResult = 0;
};

}  // namespace velorna
