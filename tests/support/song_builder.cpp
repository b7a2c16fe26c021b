#include "support/song_builder.h"

#include <utility>

namespace velorna::test {

namespace {

MidiEvent Event(uint32_t status, int32_t delta, int channel) {
  MidiEvent e;
  e.status = status;
  e.delta = delta;
  e.channel = channel;
  return e;
}

}  // namespace

MidiEvent Note(int32_t delta, int channel, int note, int32_t duration, int velocity) {
  MidiEvent e = Event(st::kNote, delta, channel);
  e.note = note;
  e.duration = duration;
  e.velocity = velocity;
  return e;
}

MidiEvent Control(int32_t delta, int channel, int controller, int value) {
  MidiEvent e = Event(st::kControl, delta, channel);
  e.kind = static_cast<uint32_t>(controller);
  e.value = value;
  return e;
}

MidiEvent Program(int32_t delta, int channel, int program) {
  MidiEvent e = Event(st::kProgram, delta, channel);
  e.value = program;
  return e;
}

MidiEvent Bend(int32_t delta, int channel, int bend) {
  MidiEvent e = Event(st::kPitchBend, delta, channel);
  e.value = bend >> 7;
  e.note = bend & 127;
  return e;
}

MidiEvent Tempo(int32_t delta, int microsecondsPerQuarter) {
  MidiEvent e = Event(st::kMeta, delta, kNoChannel);
  e.kind = meta::kTempo;
  e.value = microsecondsPerQuarter;
  return e;
}

MidiEvent EndOfTrack(int32_t delta) {
  MidiEvent e = Event(st::kMeta, delta, kNoChannel);
  e.kind = meta::kEndOfTrack;
  return e;
}

MidiEvent RhythmPart(int32_t delta, int channel, int map) {
  MidiEvent e = Event(st::kSysEx, delta, channel);
  e.kind = sysex::kRhythmPart;
  e.value = map;
  const int part = channel == kDrumChannel ? 0 : channel < kDrumChannel ? channel + 1 : channel;
  const uint8_t part8 = static_cast<uint8_t>(0x10 + part);
  const uint8_t sum = static_cast<uint8_t>((128 - (0x40 + part8 + 0x15 + map) % 128) & 127);
  e.data = {0xF0, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, part8, 0x15, static_cast<uint8_t>(map),
            sum,  0xF7};
  e.size = static_cast<int32_t>(e.data.size());
  e.data.resize(e.data.size() + 8, 0);
  return e;
}

std::vector<MidiEvent> BendRange(int32_t delta, int channel, int semitones, int cents) {
  std::vector<MidiEvent> events{Control(delta, channel, 101, 0), Control(0, channel, 100, 0),
                                Control(0, channel, 6, semitones)};
  if (cents >= 0) events.push_back(Control(0, channel, 38, cents));
  return events;
}

MidiTrack MakeTrack(std::vector<MidiEvent> events, int32_t state) {
  MidiTrack track;
  track.events = std::move(events);
  track.state = state;
  return track;
}

std::unique_ptr<MidiFormat0Data> MakeSong(std::vector<MidiEvent> events, int division) {
  auto song = std::make_unique<MidiFormat0Data>();
  song->division = division;
  song->state = 2;
  song->track = std::make_unique<MidiTrack>(MakeTrack(std::move(events)));
  return song;
}

std::vector<MidiEvent> Events(std::initializer_list<std::vector<MidiEvent>> parts) {
  std::vector<MidiEvent> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<int64_t> AbsoluteTimes(const MidiTrack& track) {
  std::vector<int64_t> times;
  int64_t now = 0;
  for (const MidiEvent& e : track.events) times.push_back(now += e.delta);
  return times;
}

std::string Describe(const MidiEvent& e) {
  std::string head = "+" + std::to_string(e.delta) + " ";
  const std::string ch = "ch" + std::to_string(e.channel) + " ";
  switch (e.status) {
    case st::kDisabled:
      return head + "disabled";
    case st::kNote:
      return head + "note " + ch + std::to_string(e.note) + " dur" + std::to_string(e.duration);
    case st::kKeyPressure:
      return head + "pressure " + ch + std::to_string(e.note) + "=" + std::to_string(e.value);
    case st::kControl:
      return head + "cc " + ch + std::to_string(e.kind) + "=" + std::to_string(e.value);
    case st::kProgram:
      return head + "program " + ch + std::to_string(e.value);
    case st::kPitchBend:
      return head + "bend " + ch + std::to_string(e.value * 128 + e.note);
    case st::kSysEx:
      return head + "sysex " + ch + "class" + std::to_string(e.kind) + " " +
             std::to_string(e.value);
    case st::kMeta:
      if (e.kind == meta::kEndOfTrack) return head + "eot";
      if (e.kind == meta::kTempo) return head + "tempo " + std::to_string(e.value);
      return head + "meta" + std::to_string(e.kind);
    default:
      return head + "status" + std::to_string(e.status) + " " + ch;
  }
}

std::vector<std::string> Describe(const MidiTrack& track) {
  std::vector<std::string> lines;
  for (const MidiEvent& e : track.events) lines.push_back(Describe(e));
  return lines;
}

}  // namespace velorna::test
