#include "conversion/song_loading.h"

#include <algorithm>
#include <limits>

#include "audio/mix_accumulator.h"
#include "base/limits.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

bool Prepare(MidiContext& ctx, MidiLoader loader, std::unique_ptr<MidiFormat0Data>& song,
             int& seconds, PlayingTime* playing) {
  if (loader.fileLength == 0) return false;
  PrepareSong(ctx, loader);
  if (!loader.song || !loader.song->track) return false;
  const int64_t ticks = TrackLengthTicks(ctx, *loader.song->track);
  PlayingTime time{SongClock::OfTrack(*loader.song->track, loader.song->division),
                   SpannedTicks(*loader.song->track, ticks)};
  song = std::move(loader.song);
  // A crafted file can claim years of playing time; held at the int range, the mix then
  // refuses it as too long instead of the sum going wrong.
  const int64_t whole = time.clock.Microseconds(time.endTick) / kMicrosecondsPerSecond;
  seconds = static_cast<int>(std::min<int64_t>(whole + 1, std::numeric_limits<int>::max()));
  if (playing) *playing = std::move(time);
  return true;
}

}  // namespace

bool LoadAndPrepareSong(MidiContext& ctx, const std::string& path, const FileOpenHook& hook,
                        std::unique_ptr<MidiFormat0Data>& song, int& seconds,
                        PlayingTime* playing) {
  return Prepare(ctx, LoadSmf(ctx, path, hook), song, seconds, playing);
}

bool PrepareSongBytes(MidiContext& ctx, std::span<const uint8_t> bytes, const std::string& name,
                      std::unique_ptr<MidiFormat0Data>& song, int& seconds, PlayingTime* playing) {
  return Prepare(ctx, LoadSmfFromBytes(ctx, bytes, name), song, seconds, playing);
}

MixLength MixLengthOf(int seconds, const PlayingTime& playing, int sampleRate) {
  const int64_t songFrames = int64_t{std::max(seconds, 0)} * sampleRate;
  const int64_t tails = playing.clock.FramesUntil(playing.endTick, sampleRate) +
                        kEndingCapSeconds * int64_t{sampleRate};
  return {songFrames, std::max(songFrames, std::min(tails, kMaxMixFrames))};
}

}  // namespace velorna
