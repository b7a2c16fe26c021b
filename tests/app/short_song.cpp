#include "app/short_song.h"

#include <string>

#include "support/smf_bytes.h"

namespace velorna::test {

std::vector<uint8_t> MakeShortSong(const ShortSong& song) {
  constexpr uint32_t kQuarter = 480;
  TrackBytes track;
  track.Tempo(0, 500000);
  if (song.textBytes > 0)
    track.Text(0, 0x01, std::string(static_cast<size_t>(song.textBytes), 'x'));
  track.Program(0, 0, 19);  // church organ: a steady tone
  for (int i = 0; i < song.notes; ++i) {
    const int note = 60 + i % 12;
    track.NoteOn(0, 0, note, 100);
    if (song.drums) track.NoteOn(0, 9, 42, 90);
    track.NoteOff(kQuarter - 10, 0, note);
    if (song.drums) track.NoteOff(0, 9, 42);
    track.Control(10, 0, 0x40, 0);  // something between the notes
  }
  track.EndOfTrack(kQuarter);
  return SmfFile(0, static_cast<int>(kQuarter), {track});
}

void WriteShortSong(const std::filesystem::path& path, const ShortSong& song) {
  WriteBytes(path, MakeShortSong(song));
}

}  // namespace velorna::test
