#include "conversion/fast_conversion.h"

#include <memory>
#include <vector>

#include "audio/render_timing.h"
#include "audio/synth_renderer.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

constexpr int64_t kSmfHeaderBytes = 14;

// One copy, rendered as the file-based road would hear it: written, read back in file order,
// timed and rendered, then added where its sound begins.
void RenderCopy(const LoadedSoundFont& font, MidiFormat0Data& copy, MixAccumulator& accumulator) {
  SilentReporter silent;
  MidiContext quiet(silent);
  std::vector<uint8_t> bytes;
  if (!WriteSmfToMemory(quiet, copy, bytes)) return;
  MidiTrack track;
  if (ReadTrackChunk(quiet, track, bytes, kSmfHeaderBytes) <= 0) return;
  const auto events = TimeTrackEvents(track, copy.division);
  if (!events) return;
  Rendering rendering;
  if (RenderTimedEvents(font, *events, rendering))
    MixSamples(accumulator, rendering.samples, rendering.startFrame);
}

}  // namespace

bool MixAllRenderingsFast(const MidiFormat0Data& song, const std::string& soundFontPath,
                          const ConversionOptions& options, JobControl& control,
                          JobObserver& observer, Reporter& reporter, MixAccumulator& accumulator) {
  const auto font = LoadSoundFont(soundFontPath);
  if (!font) return false;
  MidiContext ctx(reporter);
  SilentReporter silent;
  MidiContext quiet(silent);

  auto drums = CopySong(quiet, song);
  for (auto& e : drums->track->events)
    if (e.channel != kDrumChannel && e.channel != kNoChannel) e.status = st::kDisabled;
  RemoveDisabledEvents(*drums->track);
  PassPoint(control, JobPoint::kDrumPass);
  RenderCopy(*font, *drums, accumulator);

  const auto& events = song.track->events;
  const auto count = static_cast<int64_t>(events.size());
  int64_t t = 0;
  for (int64_t i = 0; i < count; ++i) {
    PassPoint(control, JobPoint::kNote);
    if (control.m_cancel.load()) break;
    control.m_progress = static_cast<int>(100 * i / count);
    ShowProgress(control, observer);
    t += events[static_cast<size_t>(i)].delta;
    const MidiEvent& e = events[static_cast<size_t>(i)];
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    auto copy = BuildSingleNoteCopy(ctx, song, static_cast<int32_t>(i), t, options.cents);
    if (copy) RenderCopy(*font, *copy, accumulator);
  }
  return true;
}

}  // namespace velorna
