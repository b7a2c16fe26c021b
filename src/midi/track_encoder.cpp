#include "midi/track_encoder.h"

#include <algorithm>
#include <cstring>

#include "base/library_error.h"
#include "midi/synth_order.h"

namespace velorna {

namespace {

// What the decoder reads back in place of a value the file cannot carry.
constexpr uint32_t kMdtkValueError = 0x0D000024;
// A chunk cut short still closes with an End of Track of delta 0: 00 FF 2F 00.
constexpr int32_t kClosingEndOfTrack = 4;

void Warn(MidiContext& ctx, uint32_t code) {
  ShowMdtkError(*ctx.reporter, code);
}

// Data bytes must keep their top bit clear, or the decoder takes them for a status byte.
uint8_t DataByte(int64_t v) {
  return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 127));
}

// The bytes of `data` to write: `size` of them, never more than the buffer holds.
std::span<const uint8_t> Payload(const MidiEvent& e) {
  const size_t n = std::min(static_cast<size_t>(std::max(e.size, 0)), e.data.size());
  return {e.data.data(), n};
}

uint8_t DataAt(const MidiEvent& e, size_t i) {
  return i < e.data.size() ? e.data[i] : 0;
}

void AppendVarLen(std::vector<uint8_t>& out, uint32_t v) {
  uint8_t buf[4];
  const int n = WriteVarLen(v, buf);
  out.insert(out.end(), buf, buf + n);
}

void Append(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

uint8_t StatusByte(int base, const MidiEvent& e) {
  return static_cast<uint8_t>(base + (static_cast<uint32_t>(e.channel) & 0x0F));
}

void CheckChannel(MidiContext& ctx, const MidiEvent& e) {
  if (e.channel < 0 || e.channel > 15) Warn(ctx, code::kMdtkWrongChannel);
}

int32_t AppendSizedData(std::vector<uint8_t>& out, const MidiEvent& e) {
  const auto bytes = Payload(e);
  Append(out, bytes);
  return static_cast<int32_t>(bytes.size());
}

// F0 and F7 events carry their own length field in `data`. One cut at a chunk's end (or
// built by hand) can announce more bytes than it holds, and written as it is it would
// swallow the events behind it, End of Track included: such a field is rewritten to what
// follows it.
int32_t AppendSysExData(std::vector<uint8_t>& out, const MidiEvent& e) {
  const auto bytes = Payload(e);
  if (bytes.empty()) return 0;
  size_t at = 1;
  uint32_t declared = 0;
  bool ended = false;
  while (!ended && at < bytes.size() && at < 5) {  // the decoder reads at most 4 bytes
    declared = (declared << 7) | (bytes[at] & 0x7Fu);
    ended = (bytes[at++] & 0x80) == 0;
  }
  const auto body = bytes.subspan(at);
  if (ended && declared == body.size()) return AppendSizedData(out, e);
  const size_t start = out.size();
  out.push_back(bytes[0]);
  AppendVarLen(out, static_cast<uint32_t>(body.size()));
  Append(out, body);
  return static_cast<int32_t>(out.size() - start);
}

// Brings the events `moves` picks to the front of their tick, keeping the order of the
// events it moves and of those it passes; the deltas stay at their positions, so every
// event keeps its tick. Exchanging instead of keeping the order would put a bank select
// behind its program change, or a note-off behind a note-on of the same pitch (which then
// ends the new note instead of the old one), and a rewritten song would differ from the
// first writing.
template <typename Moves>
void MoveToTickFront(MidiTrack& track, Moves moves) {
  auto& ev = track.events;
  size_t start = 0;
  while (start < ev.size()) {
    size_t end = start + 1;
    while (end < ev.size() && ev[end].delta == 0) ++end;
    const int32_t delta = ev[start].delta;
    std::stable_partition(ev.begin() + static_cast<ptrdiff_t>(start),
                          ev.begin() + static_cast<ptrdiff_t>(end), moves);
    ev[start].delta = delta;
    for (size_t k = start + 1; k < end; ++k) ev[k].delta = 0;
    start = end;
  }
}

}  // namespace

int WriteVarLen(uint32_t v, uint8_t* out) {
  v = std::min(v, kMaxVarLen);
  int n = 1;
  while (n < 4 && (v >> (7 * n)) != 0) ++n;
  for (int i = 0; i < n; ++i) {
    const int shift = 7 * (n - 1 - i);
    out[i] = static_cast<uint8_t>(((v >> shift) & 0x7F) | (i + 1 < n ? 0x80 : 0));
  }
  return n;
}

int32_t EncodeMetaEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  out.push_back(0xFF);
  if (e.size > 128 && e.kind != 127 && !ctx.decoder.largeEventShown) {
    ctx.decoder.largeEventShown = true;
    ShowLibraryError(*ctx.reporter, LibraryModule::MDTK, code::kMdtkLargeEvent, msg::kLargeEvent);
  }
  const auto kind = static_cast<uint8_t>(e.kind);
  switch (e.kind) {
    case meta::kEndOfTrack:
      out.insert(out.end(), {0x2F, 0x00});
      break;
    case meta::kTempo: {
      const auto v = static_cast<uint32_t>(e.value);
      out.insert(out.end(), {0x51, 0x03, static_cast<uint8_t>(v >> 16),
                             static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
      break;
    }
    case meta::kTimeSignature:
      out.insert(out.end(), {0x58, 0x04, DataAt(e, 0), DataAt(e, 1), DataAt(e, 2), DataAt(e, 3)});
      break;
    default: {
      // Every kind the decoder reads as text takes a variable-length length; for the
      // others a single length byte suffices below 128, and a longer one keeps the file
      // valid only in variable-length form.
      const auto bytes = Payload(e);
      out.push_back(kind);
      AppendVarLen(out, static_cast<uint32_t>(bytes.size()));
      Append(out, bytes);
      break;
    }
  }
  return static_cast<int32_t>(out.size() - start);
}

int32_t EncodeEvent(MidiContext& ctx, const MidiEvent& e, std::vector<uint8_t>& out) {
  const size_t start = out.size();
  const auto note = [&e] {
    return static_cast<uint8_t>(e.note >= 0 && e.note <= 127 ? e.note : 0);
  };
  switch (e.status) {
    case st::kNoteOff:
      CheckChannel(ctx, e);
      out.insert(out.end(), {StatusByte(0x80, e), note(), 64});
      break;
    case st::kNoteOn:
      CheckChannel(ctx, e);
      out.insert(out.end(), {StatusByte(0x90, e), note(), DataByte(e.velocity)});
      break;
    case st::kKeyPressure:
      if (e.size > kEventDataWarnSize) Warn(ctx, code::kMdtkLargeEventData);
      return AppendSizedData(out, e);
    case st::kControl:
      CheckChannel(ctx, e);
      out.insert(out.end(), {StatusByte(0xB0, e), DataByte(e.kind), DataByte(e.value)});
      break;
    case st::kProgram:
      CheckChannel(ctx, e);
      out.insert(out.end(), {StatusByte(0xC0, e), DataByte(e.value)});
      break;
    case st::kChannelPressure:
      out.insert(out.end(), {StatusByte(0xD0, e), DataByte(e.value)});
      break;
    case st::kPitchBend:
      out.insert(out.end(), {StatusByte(0xE0, e), DataByte(e.note), DataByte(e.value)});
      break;
    case st::kSysEx:
    case st::kEscape:
      return AppendSysExData(out, e);
    case st::kMeta:
      return EncodeMetaEvent(ctx, e, out);
    default:
      Warn(ctx, code::kMdtkUndefinedEvent);
      return 0;
  }
  return static_cast<int32_t>(out.size() - start);
}

void EncodeTrack(MidiContext& ctx, MidiTrack& track) {
  if (track.state != ts::kEvents || track.events.empty() || !track.events.back().IsEndOfTrack()) {
    Warn(ctx, code::kMdtkInternal);
    return;
  }
  const int64_t capacity = std::max(track.capacity, 0);
  track.bytes.assign(static_cast<size_t>(capacity), 0);
  int64_t length = 8;
  bool cut = false;
  // An event that gives no bytes leaves no delta behind either: its time goes to the next.
  int64_t carried = 0;
  std::vector<uint8_t> scratch;
  for (size_t i = 0; i < track.events.size(); ++i) {
    const MidiEvent& e = track.events[i];
    scratch.clear();
    const int32_t m = EncodeEvent(ctx, e, scratch);
    if (m > kTrackCapacity && !ctx.decoder.largeEventShown) {
      ctx.decoder.largeEventShown = true;
      ShowLibraryError(*ctx.reporter, LibraryModule::MDTK, code::kMdtkLargeEvent, msg::kLargeEvent);
    }
    const int64_t time = carried + e.delta;
    carried = 0;
    if (m == 0) {
      carried = time;
      continue;
    }
    if (time < 0 || time > kMaxVarLen) Warn(ctx, kMdtkValueError);
    uint8_t delta[4];
    const int n =
        WriteVarLen(static_cast<uint32_t>(std::clamp<int64_t>(time, 0, kMaxVarLen)), delta);
    // The last event is the End of Track; every other one leaves room for a closing one.
    const bool last = i + 1 == track.events.size();
    if (capacity - kEncodeReserve < length + n ||
        length + n + m > capacity - (last ? 0 : kClosingEndOfTrack)) {
      Warn(ctx, code::kMdtkAddFailed);
      cut = true;
      break;
    }
    std::memcpy(track.bytes.data() + length, delta, static_cast<size_t>(n));
    length += n;
    std::memcpy(track.bytes.data() + length, scratch.data(), static_cast<size_t>(m));
    length += m;
  }
  if (cut && capacity >= length + kClosingEndOfTrack) {
    const uint8_t end[kClosingEndOfTrack] = {0x00, 0xFF, 0x2F, 0x00};
    std::memcpy(track.bytes.data() + length, end, sizeof end);
    length += kClosingEndOfTrack;
  }
  if (capacity < 8) {
    track.length = 0;
    return;
  }
  const auto data = static_cast<uint32_t>(length - 8);
  const uint8_t header[8] = {'M',
                             'T',
                             'r',
                             'k',
                             static_cast<uint8_t>(data >> 24),
                             static_cast<uint8_t>(data >> 16),
                             static_cast<uint8_t>(data >> 8),
                             static_cast<uint8_t>(data)};
  std::memcpy(track.bytes.data(), header, sizeof header);
  track.length = static_cast<int32_t>(length);
  track.state = ts::kRaw;
}

void SetupEventsFirst(MidiContext& ctx, MidiTrack& track) {
  if (track.state != ts::kEvents) {
    Warn(ctx, code::kMdtkInternal);
    return;
  }
  MoveToTickFront(track, [](const MidiEvent& e) { return RankInTick(e) < TickRank::kNote; });
}

void SysExFirst(MidiTrack& track) {
  MoveToTickFront(track, [](const MidiEvent& e) { return RankInTick(e) == TickRank::kSysEx; });
}

}  // namespace velorna
