#include "conversion/file_engine.h"

#include "audio/rendering_service.h"
#include "base/library_error.h"
#include "conversion/conversion_messages.h"
#include "conversion/drum_copy.h"
#include "conversion/job_files.h"
#include "conversion/note_retune.h"
#include "midi/smf_writer.h"

namespace velorna {

namespace {

constexpr int64_t kPercent = 100;

class FileEngine final : public RenderEngine {
 public:
  explicit FileEngine(std::string inputPath) : inputPath_(std::move(inputPath)) {}
  bool MixAll(EngineTask& task, MixAccumulator& accumulator) override;

 private:
  // Writes, renders and mixes one copy. A copy whose MIDI file could not be written is not
  // rendered: the previous copy's file must never be mixed twice.
  void RenderCopy(MidiFormat0Data& copy);
  void DrumPass();
  void NotePasses(const SongNoteIndex& index);

  std::string inputPath_;
  // Set for the run.
  EngineTask* task_ = nullptr;
  MixAccumulator* accumulator_ = nullptr;
  const JobFiles* files_ = nullptr;
  SilentReporter silent_;  // the job's own temporary files report nothing
};

void FileEngine::RenderCopy(MidiFormat0Data& copy) {
  MidiContext quiet(silent_);
  if (!WriteSmf(quiet, copy, files_->midi)) return;
  if (RenderMidiToWave(*task_->font, task_->reporter, files_->midi, files_->wav))
    MixWaveFile(task_->reporter, *accumulator_, files_->wav);
}

void FileEngine::DrumPass() {
  MidiContext quiet(silent_);
  auto copy = BuildDrumCopy(quiet, task_->song);
  PassPoint(task_->control, JobPoint::kDrumPass);
  if (copy) RenderCopy(*copy);
}

void FileEngine::NotePasses(const SongNoteIndex& index) {
  const auto& events = task_->song.track->events;
  const int64_t count = static_cast<int64_t>(events.size());
  JobControl& control = task_->control;
  MidiContext ctx(task_->reporter);
  for (int64_t i = 0; i < count; ++i) {
    PassPoint(control, JobPoint::kNote);
    if (control.m_cancel.load()) break;
    control.m_progress = static_cast<int>(kPercent * i / count);
    ShowProgress(control, task_->observer);
    if (events[i].status != st::kNote || events[i].channel == kDrumChannel) continue;
    auto copy = BuildNoteCopy(ctx, index, static_cast<int32_t>(i), task_->tuning);
    if (copy) RenderCopy(*copy);
  }
}

bool FileEngine::MixAll(EngineTask& task, MixAccumulator& accumulator) {
  const std::unique_ptr<SongNoteIndex> index = IndexSong(task.song);
  if (!index || !task.font) {
    ShowMdtkError(task.reporter, code::kMdtkInternal);
    return false;
  }
  const std::unique_ptr<JobFiles> files = MakeJobFiles(inputPath_);
  if (!files) {
    task.reporter.ShowText(conversion_msg::kCannotOpen);
    return false;
  }
  task_ = &task;
  accumulator_ = &accumulator;
  files_ = files.get();
  DrumPass();
  NotePasses(*index);
  task_ = nullptr;
  accumulator_ = nullptr;
  files_ = nullptr;
  return true;
}

}  // namespace

std::unique_ptr<RenderEngine> MakeFileEngine(const std::string& inputPath) {
  return std::make_unique<FileEngine>(inputPath);
}

}  // namespace velorna
