#include "conversion/song_pitch.h"

#include <mutex>

#include "audio/pitch_model_check.h"
#include "conversion/conversion_messages.h"

namespace velorna {

std::unique_ptr<SongNoteIndex> IndexSongForFont(const MidiFormat0Data& song,
                                                const LoadedSoundFont& font, Reporter& reporter) {
  std::shared_ptr<const SoundFontPitch> pitch = SharedSoundFontPitch(font.path);
  // The library does not change while the process runs: one check serves every job.
  static std::once_flag checked;
  static bool holds = true;
  std::call_once(checked, [&] { holds = PitchModelHolds(font, pitch.get()); });
  std::unique_ptr<SongNoteIndex> index = IndexSong(song, holds ? std::move(pitch) : nullptr);
  if (index && !holds) {
    index->plainBend = true;
    reporter.ShowText(conversion_msg::kPlainBends);
  }
  return index;
}

}  // namespace velorna
