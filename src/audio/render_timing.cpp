#include "audio/render_timing.h"

#include <algorithm>

#include "base/limits.h"

namespace velorna {
namespace {

struct PlacedEvent {
  int64_t tick;
  const MidiEvent* event;
};

// F0, its variable-length length, the payload up to the closing F7: the payload.
std::vector<uint8_t> SysExMessage(const MidiEvent& event) {
  const int32_t size = std::min<int32_t>(event.size, static_cast<int32_t>(event.data.size()));
  if (size < 2 || event.data[0] != 0xF0) return {};
  int32_t pos = 1;
  while (pos < size && (event.data[pos] & 0x80) != 0) ++pos;  // length continuation bytes
  ++pos;                                                      // last length byte
  int32_t end = size;
  if (end > pos && event.data[end - 1] == 0xF7) --end;
  if (pos > end) return {};
  std::vector<uint8_t> message;
  message.reserve(end - pos + 2);
  message.push_back(0xF0);
  message.insert(message.end(), event.data.begin() + pos, event.data.begin() + end);
  message.push_back(0xF7);
  return message;
}

// An F7 escape holding a whole F0 ... F7 message is sent as one; packets of a message split
// over several events can't be handed to the synthesizer and are dropped.
std::vector<uint8_t> EscapeMessage(const MidiEvent& event) {
  const int32_t size = std::min<int32_t>(event.size, static_cast<int32_t>(event.data.size()));
  if (size < 4) return {};
  const int32_t end = std::min<int32_t>(size, 2 + event.data[1]);
  if (end < 4 || event.data[2] != 0xF0 || event.data[end - 1] != 0xF7) return {};
  return std::vector<uint8_t>(event.data.begin() + 2, event.data.begin() + end);
}

uint8_t Low7(int32_t v) {
  return static_cast<uint8_t>(v & 0x7F);
}

}  // namespace

int64_t SongSampleOfMicroseconds(int64_t microseconds, int sampleRate) {
  // In 128 bits: at rates above the default the product may pass 64 bits.
  return static_cast<int64_t>(static_cast<__int128>(microseconds) * sampleRate /
                              kMicrosecondsPerSecond);
}

int64_t BlockStartAtOrAfter(int64_t songSample) {
  return (songSample + kBlockFrames - 1) / kBlockFrames * kBlockFrames;
}

std::vector<uint8_t> SynthMessageOf(const MidiEvent& event) {
  const uint8_t channel = static_cast<uint8_t>(event.channel & 0x0F);
  const auto status = [&](uint32_t s) { return static_cast<uint8_t>(s | channel); };
  switch (event.status) {
    case st::kNoteOff:
    case st::kNoteOn:
      return {status(event.status), Low7(event.note), Low7(event.velocity)};
    case st::kKeyPressure:
      return {status(event.status), Low7(event.note), Low7(event.value)};
    case st::kControl:
      return {status(event.status), Low7(static_cast<int32_t>(event.kind)), Low7(event.value)};
    case st::kProgram:
    case st::kChannelPressure:
      return {status(event.status), Low7(event.value)};
    case st::kPitchBend:
      return {status(event.status), Low7(event.note), Low7(event.value)};
    case st::kSysEx:
      return SysExMessage(event);
    case st::kEscape:
      return EscapeMessage(event);
    default:
      return {};
  }
}

std::optional<std::vector<TimedEvent>> TimeTrackEvents(std::span<const MidiTrack* const> tracks,
                                                       int32_t division, int sampleRate) {
  SongClock clock(division);
  if (!clock.valid()) return std::nullopt;

  std::vector<PlacedEvent> placed;
  for (const MidiTrack* track : tracks) {
    int64_t tick = 0;
    for (const MidiEvent& e : track->events) {
      tick += std::max<int32_t>(e.delta, 0);
      placed.push_back(PlacedEvent{tick, &e});
    }
  }
  // Tracks interleave by tick; within a tick earlier tracks go first, each in its own order.
  std::stable_sort(placed.begin(), placed.end(),
                   [](const PlacedEvent& a, const PlacedEvent& b) { return a.tick < b.tick; });

  for (const PlacedEvent& p : placed) {
    if (p.event->status == st::kMeta && p.event->kind == meta::kTempo) {
      clock.AddTempo(p.tick, p.event->value);
    }
  }

  std::vector<TimedEvent> timed;
  for (const PlacedEvent& p : placed) {
    std::vector<uint8_t> message = SynthMessageOf(*p.event);
    if (message.empty()) continue;
    const int64_t sample = SongSampleOfMicroseconds(clock.Microseconds(p.tick), sampleRate);
    timed.push_back(TimedEvent{sample, BlockStartAtOrAfter(sample), std::move(message)});
  }
  return timed;
}

std::optional<std::vector<TimedEvent>> TimeTrackEvents(const MidiTrack& track, int32_t division,
                                                       int sampleRate) {
  const MidiTrack* one[] = {&track};
  return TimeTrackEvents(std::span<const MidiTrack* const>(one), division, sampleRate);
}

}  // namespace velorna
