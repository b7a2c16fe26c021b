// The main dialog: twelve cent offsets laid out as one piano octave, the key selector,
// Convert/Stop with its progress and elapsed-time fields, scale files, help and exit.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "app/dialog_bridge.h"
#include "conversion/conversion_job.h"

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace velorna {

// The job the Convert button runs; the program passes RunConversion.
using ConversionRunner =
    std::function<ConversionResult(const std::string& path, const ConversionOptions& options,
                                   JobControl& control, JobObserver& observer, Reporter& reporter)>;

enum class PathPrompt { kOpenMidi, kSaveScale, kOpenScale, kOpenMidiPattern };
// Asks the user for a path; an empty string when cancelled. `pattern` is only used by
// kOpenMidiPattern (a MIDI path holding '*').
using PathAsker = std::function<QString(PathPrompt prompt, const QString& pattern)>;
QString AskPathWithFileDialog(PathPrompt prompt, const QString& pattern);

// Where the program looks for its help page: beside the binary, then in the installed
// share folder. Empty when there is none.
QString FindHelpPage();

inline constexpr int kKeySelectorCount = 15;
inline constexpr int kInitialKeyIndex = 7;

class CVelornaDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CVelornaDlg(ConversionRunner runner, QWidget* parent = nullptr);
  ~CVelornaDlg() override;

  void SetPathAsker(PathAsker asker) { m_askPath = std::move(asker); }
  void SetHelpPage(const QString& path) { m_helpPage = path; }
  bool IsConverting() const { return m_job.m_running.load() != 0; }
  bool IsClosing() const { return m_closing.load(); }
  QWidget* HelpWindow() const { return m_helpWindow; }
  Reporter& reporter() { return m_reporter; }

  // A close while a conversion runs asks it to stop and finishes only when it has ended.
  void done(int result) override;

  void OnConvert();
  void OnReset();
  void OnSaveScale();
  void OnLoadScale();
  void OnHelp();
  void OnAbout();

 private:
  void OnInitDialog();
  void BuildLayout();
  void ConversionThreadProc(std::string path, ConversionOptions options);
  void OnWorkerEnded();
  void SetControlsEnabled(bool enabled);
  CentTable ReadOffsets() const;
  void ShowMessage(const QString& text);
  void ShowStatus(const QString& progress, const QString& elapsed);
  std::optional<std::string> AskPatternFromWorker(const std::string& pattern);

  std::array<QSpinBox*, 12> m_offsetSpins{};
  JobControl m_job;  // m_progress, m_running, m_cancel and m_startTick, shared with the worker
  int m_initDone = 0;
  QIcon m_hIcon;

  QSpinBox* m_upperC = nullptr;
  QLabel* m_progressField = nullptr;
  QComboBox* m_keySelector = nullptr;
  QPushButton* m_convertButton = nullptr;
  QLabel* m_elapsedField = nullptr;

  ConversionRunner m_runner;
  PathAsker m_askPath = AskPathWithFileDialog;
  QString m_helpPage;
  QPointer<QWidget> m_helpWindow;

  DialogHooks m_hooks{
      this, [this] { return IsClosing(); }, [this](const QString& text) { ShowMessage(text); },
      [this](const QString& progress, const QString& elapsed) { ShowStatus(progress, elapsed); }};
  DialogReporter m_reporter{m_hooks};
  DialogObserver m_observer{m_hooks};
  std::thread m_worker;
  std::atomic<bool> m_workerDone{true};
  std::atomic<bool> m_closing{false};
  bool m_destroying = false;
  int m_closeResult = 0;
};

}  // namespace velorna
