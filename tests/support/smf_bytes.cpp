#include "support/smf_bytes.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velorna::test {

void AppendVarLen(Bytes& out, uint32_t value) {
  uint8_t groups[5];
  int n = 0;
  do {
    groups[n++] = value & 0x7F;
    value >>= 7;
  } while (value != 0 && n < 5);
  while (n-- > 0) out.push_back(static_cast<uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
}

TrackBytes& TrackBytes::Event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
  AppendVarLen(events_, delta);
  events_.insert(events_.end(), bytes);
  return *this;
}

TrackBytes& TrackBytes::Raw(std::initializer_list<uint8_t> bytes) {
  events_.insert(events_.end(), bytes);
  return *this;
}

TrackBytes& TrackBytes::NoteOn(uint32_t delta, int channel, int note, int velocity) {
  return Event(delta, {static_cast<uint8_t>(0x90 | channel), static_cast<uint8_t>(note),
                       static_cast<uint8_t>(velocity)});
}

TrackBytes& TrackBytes::NoteOff(uint32_t delta, int channel, int note) {
  return Event(delta, {static_cast<uint8_t>(0x80 | channel), static_cast<uint8_t>(note), 64});
}

TrackBytes& TrackBytes::Control(uint32_t delta, int channel, int controller, int value) {
  return Event(delta, {static_cast<uint8_t>(0xB0 | channel), static_cast<uint8_t>(controller),
                       static_cast<uint8_t>(value)});
}

TrackBytes& TrackBytes::Program(uint32_t delta, int channel, int program) {
  return Event(delta, {static_cast<uint8_t>(0xC0 | channel), static_cast<uint8_t>(program)});
}

TrackBytes& TrackBytes::Tempo(uint32_t delta, uint32_t us) {
  return Event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(us >> 16),
                       static_cast<uint8_t>(us >> 8), static_cast<uint8_t>(us)});
}

TrackBytes& TrackBytes::Text(uint32_t delta, uint8_t metaType, const std::string& text) {
  AppendVarLen(events_, delta);
  events_.push_back(0xFF);
  events_.push_back(metaType);
  AppendVarLen(events_, static_cast<uint32_t>(text.size()));
  events_.insert(events_.end(), text.begin(), text.end());
  return *this;
}

TrackBytes& TrackBytes::EndOfTrack(uint32_t delta) {
  return Event(delta, {0xFF, 0x2F, 0x00});
}

Bytes TrackBytes::Chunk() const {
  Bytes out{'M', 'T', 'r', 'k'};
  const auto n = static_cast<uint32_t>(events_.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
  out.insert(out.end(), events_.begin(), events_.end());
  return out;
}

Bytes SmfFile(int format, int division, const std::vector<TrackBytes>& tracks) {
  Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<uint8_t>(format)};
  out.push_back(static_cast<uint8_t>(tracks.size() >> 8));
  out.push_back(static_cast<uint8_t>(tracks.size()));
  out.push_back(static_cast<uint8_t>(division >> 8));
  out.push_back(static_cast<uint8_t>(division));
  for (const auto& t : tracks) {
    const Bytes chunk = t.Chunk();
    out.insert(out.end(), chunk.begin(), chunk.end());
  }
  return out;
}

Bytes Melody(int notes) {
  TrackBytes t;
  t.Tempo(0, 500000).Program(0, 0, 0);
  for (int i = 0; i < notes; ++i) t.NoteOn(0, 0, 60 + i % 12, 90).NoteOff(120, 0, 60 + i % 12);
  t.EndOfTrack(0);
  return SmfFile(0, 480, {t});
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace velorna::test
