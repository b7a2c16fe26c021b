// Standard MIDI Files built byte by byte in tests.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace velorna::test {

using Bytes = std::vector<uint8_t>;

// The events of one track chunk: each call appends a delta time and the event's bytes.
class TrackBytes {
 public:
  TrackBytes& Event(uint32_t delta, std::initializer_list<uint8_t> bytes);
  TrackBytes& Raw(std::initializer_list<uint8_t> bytes);
  TrackBytes& NoteOn(uint32_t delta, int channel, int note, int velocity);
  TrackBytes& NoteOff(uint32_t delta, int channel, int note);
  TrackBytes& Control(uint32_t delta, int channel, int controller, int value);
  TrackBytes& Program(uint32_t delta, int channel, int program);
  TrackBytes& Tempo(uint32_t delta, uint32_t microsPerQuarter);
  TrackBytes& Text(uint32_t delta, uint8_t metaType, const std::string& text);
  TrackBytes& EndOfTrack(uint32_t delta);
  // The chunk: "MTrk", the length, the events.
  Bytes Chunk() const;
  const Bytes& events() const { return events_; }

 private:
  Bytes events_;
};

void AppendVarLen(Bytes& out, uint32_t value);
// A complete file: header (format, track count, division) and the chunks.
Bytes SmfFile(int format, int division, const std::vector<TrackBytes>& tracks);
// `notes` eighth notes on channel 0 at 120 bpm, rising through the octave from C4.
Bytes Melody(int notes);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
Bytes ReadBytes(const std::filesystem::path& path);

}  // namespace velorna::test
