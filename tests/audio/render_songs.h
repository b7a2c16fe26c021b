// Small songs for the rendering tests, built event by event in events form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/synth_renderer.h"
#include "midi/midi_types.h"

namespace velorna::test {

inline const std::string kTestSoundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2";

// Appends events at absolute ticks (in non-decreasing order).
class TrackBuilder {
 public:
  TrackBuilder& Channel(int64_t tick, uint32_t status, int channel, int d1, int d2 = 0) {
    MidiEvent e;
    e.status = status;
    e.channel = channel;
    switch (status) {
      case st::kControl:
        e.kind = static_cast<uint32_t>(d1);
        e.value = d2;
        break;
      case st::kProgram:
      case st::kChannelPressure:
        e.value = d1;
        break;
      case st::kPitchBend:
      case st::kKeyPressure:
        e.note = d1;
        e.value = d2;
        break;
      default:
        e.note = d1;
        e.velocity = d2;
        break;
    }
    return Add(tick, std::move(e));
  }
  TrackBuilder& NoteOn(int64_t tick, int channel, int note, int velocity = 100) {
    return Channel(tick, st::kNoteOn, channel, note, velocity);
  }
  TrackBuilder& NoteOff(int64_t tick, int channel, int note) {
    return Channel(tick, st::kNoteOff, channel, note, 64);
  }
  TrackBuilder& Control(int64_t tick, int channel, int controller, int value) {
    return Channel(tick, st::kControl, channel, controller, value);
  }
  TrackBuilder& Program(int64_t tick, int channel, int program) {
    return Channel(tick, st::kProgram, channel, program);
  }
  TrackBuilder& Tempo(int64_t tick, int32_t microsecondsPerQuarter) {
    MidiEvent e;
    e.status = st::kMeta;
    e.kind = meta::kTempo;
    e.value = microsecondsPerQuarter;
    return Add(tick, std::move(e));
  }
  // Bytes as the decoder keeps them: F0, the length, the payload, F7.
  TrackBuilder& SysEx(int64_t tick, std::vector<uint8_t> bytes) {
    MidiEvent e;
    e.status = bytes.at(0) == 0xF7 ? st::kEscape : st::kSysEx;
    e.size = static_cast<int32_t>(bytes.size());
    e.data = std::move(bytes);
    e.data.resize(e.data.size() + 8, 0);
    return Add(tick, std::move(e));
  }
  TrackBuilder& End(int64_t tick) {
    MidiEvent e;
    e.status = st::kMeta;
    e.kind = meta::kEndOfTrack;
    return Add(tick, std::move(e));
  }
  MidiTrack Build() const {
    MidiTrack t;
    t.state = ts::kEvents;
    t.events = events_;
    return t;
  }

 private:
  TrackBuilder& Add(int64_t tick, MidiEvent e) {
    e.delta = static_cast<int32_t>(tick - last_);
    last_ = tick;
    events_.push_back(std::move(e));
    return *this;
  }
  int64_t last_ = 0;
  std::vector<MidiEvent> events_;
};

// The rendering's samples from song frame 0 to its end, zeros before its start.
inline std::vector<int16_t> FromFrameZero(const Rendering& r) {
  std::vector<int16_t> all(static_cast<size_t>(r.startFrame) * 2, 0);
  all.insert(all.end(), r.samples.begin(), r.samples.end());
  return all;
}

}  // namespace velorna::test
