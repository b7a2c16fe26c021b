#include "conversion/song_loading.h"

#include <limits>

#include "midi/song_edit.h"
#include "midi/song_time.h"

namespace velorna {

bool LoadAndPrepareSong(MidiContext& ctx, const std::string& path, const FileOpenHook& hook,
                        std::unique_ptr<MidiFormat0Data>& song, int& seconds, double* playing) {
  MidiLoader loader = LoadSmf(ctx, path, hook);
  if (loader.fileLength == 0) return false;
  PrepareSong(ctx, loader);
  if (!loader.song || !loader.song->track) return false;
  const int64_t ticks = TrackLengthTicks(ctx, *loader.song->track);
  const double time = TicksToSeconds(*loader.song->track, ticks, loader.song->division);
  song = std::move(loader.song);
  // A crafted file can claim years of playing time; held at the int range, the mix then
  // refuses it as too long instead of the cast going wrong.
  seconds = time < std::numeric_limits<int>::max() - 1 ? static_cast<int>(time) + 1
                                                       : std::numeric_limits<int>::max();
  if (playing) *playing = time;
  return true;
}

}  // namespace velorna
