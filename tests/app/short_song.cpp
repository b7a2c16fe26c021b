#include "app/short_song.h"

#include "support/file_bytes.h"

namespace velorna::test {
namespace {

void VarLen(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t bytes[5];
  int n = 0;
  do {
    bytes[n++] = static_cast<uint8_t>(v & 0x7F);
    v >>= 7;
  } while (v != 0);
  while (n > 1) out.push_back(bytes[--n] | 0x80);
  out.push_back(bytes[0]);
}

void Be(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> MakeShortSong(const ShortSong& song) {
  constexpr uint32_t kQuarter = 480;
  std::vector<uint8_t> track;
  auto event = [&track](uint32_t delta, std::initializer_list<uint8_t> bytes) {
    VarLen(track, delta);
    track.insert(track.end(), bytes);
  };
  event(0, {0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20});  // 120 bpm
  if (song.textBytes > 0) {
    VarLen(track, 0);
    track.insert(track.end(), {0xFF, 0x01});
    VarLen(track, static_cast<uint32_t>(song.textBytes));
    track.insert(track.end(), static_cast<size_t>(song.textBytes), 'x');
  }
  event(0, {0xC0, 19});  // church organ: a steady tone
  for (int i = 0; i < song.notes; ++i) {
    const auto note = static_cast<uint8_t>(60 + i % 12);
    event(0, {0x90, note, 100});
    if (song.drums) event(0, {0x99, 42, 90});
    event(kQuarter - 10, {0x80, note, 0});
    if (song.drums) event(0, {0x89, 42, 0});
    event(10, {0xB0, 0x40, 0});  // something between the notes
  }
  event(kQuarter, {0xFF, 0x2F, 0x00});

  std::vector<uint8_t> file{'M', 'T', 'h', 'd'};
  Be(file, 6, 4);
  Be(file, 0, 2);
  Be(file, 1, 2);
  Be(file, kQuarter, 2);
  file.insert(file.end(), {'M', 'T', 'r', 'k'});
  Be(file, static_cast<uint32_t>(track.size()), 4);
  file.insert(file.end(), track.begin(), track.end());
  return file;
}

void WriteShortSong(const std::filesystem::path& path, const ShortSong& song) {
  WriteBytes(path, MakeShortSong(song));
}

}  // namespace velorna::test
