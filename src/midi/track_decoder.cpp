#include "midi/track_decoder.h"

#include <algorithm>
#include <utility>

#include "base/library_error.h"
#include "midi/event_data.h"

namespace velorna {

namespace {

void Warn(MidiContext& ctx, uint32_t code) {
  ShowMdtkError(*ctx.reporter, code);
}

void ReportOnce(MidiContext& ctx, bool& shown, uint32_t code, std::string_view text) {
  if (shown) return;
  shown = true;
  ShowLibraryError(*ctx.reporter, LibraryModule::MDTK, code, text);
}

// End of the readable chunk: `length`, but never past the buffer.
int64_t ChunkEnd(const MidiTrack& track) {
  return std::clamp<int64_t>(track.length, 0, static_cast<int64_t>(track.bytes.size()));
}

uint8_t ByteAt(const MidiTrack& track, int64_t i) {
  return i >= 0 && i < ChunkEnd(track) ? track.bytes[static_cast<size_t>(i)] : 0;
}

struct Vlq {
  int32_t value = 0;
  int32_t bytes = 0;       // bytes consumed
  bool truncated = false;  // the chunk ended inside it (already reported)
};

// A variable-length quantity at `at`: at most 4 bytes, never past the chunk. Both faults
// are reported; a quantity longer than 4 bytes ends at its 4th byte.
Vlq ReadVlqAt(MidiContext& ctx, const MidiTrack& track, int64_t at) {
  Vlq v;
  const int64_t end = ChunkEnd(track);
  while (true) {
    if (at + v.bytes >= end) {
      v.truncated = true;
      Warn(ctx, code::kMdtkInternal);
      return v;
    }
    const uint8_t b = ByteAt(track, at + v.bytes);
    ++v.bytes;
    v.value = (v.value << 7) | (b & 0x7F);
    if ((b & 0x80) == 0) return v;
    if (v.bytes == 4) {
      Warn(ctx, code::kMdtkInternal);
      return v;
    }
  }
}

// `size` bytes of data: the first `present` from the chunk at `at`, then zeros, then the
// 8 zero bytes every buffer carries.
void CopyPayload(const MidiTrack& track, int64_t at, int32_t size, int64_t present, MidiEvent& e) {
  e.size = size;
  e.data.assign(static_cast<size_t>(size) + 8, 0);
  for (int64_t i = 0; i < std::min<int64_t>(size, present); ++i) {
    e.data[static_cast<size_t>(i)] = ByteAt(track, at + i);
  }
}

// `size` bytes of the chunk from `at` (0 past its end).
void CopyChunkBytes(const MidiTrack& track, int64_t at, int32_t size, MidiEvent& e) {
  CopyPayload(track, at, size, size, e);
}

// The frame of an event with a variable-length length after `headBytes` bytes at `pos`
// (F0/F7: 1, FF: 2), bounded by the chunk.
struct Frame {
  int64_t payload = 0;  // index of the first payload byte
  int64_t present = 0;  // payload bytes inside the chunk (at most the declared length)
  int32_t total = 0;    // bytes the event occupies from `pos`
};

Frame ReadFrame(MidiContext& ctx, const MidiTrack& track, int headBytes) {
  const int64_t at = track.pos;
  const int64_t avail = ChunkEnd(track) - at;
  const Vlq len = ReadVlqAt(ctx, track, at + headBytes);
  Frame f;
  f.payload = at + headBytes + len.bytes;
  int64_t total = headBytes + len.bytes + static_cast<int64_t>(len.value);
  if (total > avail) {
    if (!len.truncated) Warn(ctx, code::kMdtkInternal);
    total = std::max<int64_t>(avail, 0);
  }
  f.total = static_cast<int32_t>(total);
  f.present = std::max<int64_t>(0, at + total - f.payload);
  return f;
}

// GS part number (low nibble of the address byte) to MIDI channel: part 10 is the drums.
int32_t GsPartChannel(uint8_t address) {
  const int part = address & 0x0F;
  if (part == 0) return kDrumChannel;
  return part <= 9 ? part - 1 : part;
}

uint32_t GsEffectKind(uint8_t address) {
  if (address >= 0x30 && address <= 0x35) return 20 + (address - 0x30);
  if (address == 0x37) return 32;
  if (address >= 0x38 && address <= 0x40) return 33 + (address - 0x38);
  if (address >= 0x50 && address <= 0x59) return 48 + (address - 0x50);
  if (address == 0x5A) return 64;
  return 0;
}

// Data bytes that follow the undefined system status bytes F1-F6 and F8-FE.
int SystemDataLength(int statusByte) {
  if (statusByte == 0xF1 || statusByte == 0xF3) return 1;
  if (statusByte == 0xF2) return 2;
  return 0;
}

bool IsChannelStatus(int statusByte) {
  return statusByte >= 0x80 && statusByte <= 0xEF;
}

int32_t DecodeChannelMessage(MidiContext& ctx, MidiTrack& track, MidiEvent& e, int statusByte,
                             int64_t avail) {
  const int high = statusByte & 0xF0;
  const int32_t size = (high == 0xC0 || high == 0xD0) ? 2 : 3;
  if (avail < size) Warn(ctx, code::kMdtkInternal);
  const int d1 = ByteAt(track, track.pos + 1);
  const int d2 = size == 3 ? ByteAt(track, track.pos + 2) : 0;
  e.channel = statusByte & 0x0F;
  switch (high) {
    case 0x80:
    case 0x90:
      e.status = (high == 0x90 && d2 > 0) ? st::kNoteOn : st::kNoteOff;
      e.note = d1;
      e.velocity = d2;
      if (d1 > 127 && !(high == 0x90 && d2 == 0)) {
        ReportOnce(ctx, ctx.decoder.noteNumberShown, code::kMdtkNoteNumber,
                   msg::kNoteNumberRepaired);
        e.note = 0;
        e.velocity = 0;
      }
      break;
    case 0xA0:
      e.status = st::kKeyPressure;
      e.note = d1;
      e.value = d2;
      break;
    case 0xB0:
      e.status = st::kControl;
      e.kind = static_cast<uint32_t>(d1);
      e.value = d2;
      break;
    case 0xC0:
      e.status = st::kProgram;
      e.value = d1;
      if (d1 >= 128) {
        Warn(ctx, code::kMdtkBadProgram);
        e.value = 0;
      }
      break;
    case 0xD0:
      e.status = st::kChannelPressure;
      e.value = d1;
      break;
    default:
      e.status = st::kPitchBend;
      e.note = d1;
      e.value = d2;
      break;
  }
  // Under running status `pos` is one byte before the data, so the status comes first.
  CopyChunkBytes(track, track.pos, size, e);
  e.data[0] = static_cast<uint8_t>(statusByte);
  return static_cast<int32_t>(std::min<int64_t>(size, avail));
}

}  // namespace

int32_t ReadDeltaTime(MidiContext& ctx, MidiTrack& track) {
  const Vlq v = ReadVlqAt(ctx, track, track.pos);
  track.pos += v.bytes;
  return v.value;
}

int32_t DecodeEventBody(MidiContext& ctx, MidiTrack& track, MidiEvent& e, int statusByte) {
  const int64_t avail = ChunkEnd(track) - track.pos;
  if (statusByte < 0x80 || statusByte > 0xFF || avail <= 0) return 0;
  if (IsChannelStatus(statusByte)) return DecodeChannelMessage(ctx, track, e, statusByte, avail);
  if (statusByte == 0xFF) {
    e.status = st::kMeta;
    return DecodeMetaEvent(ctx, track, e);
  }
  if (statusByte == 0xF0 || statusByte == 0xF7) {
    // Framed by the declared length, so a divided message cannot swallow what follows.
    const Frame f = ReadFrame(ctx, track, 1);
    e.status = static_cast<uint32_t>(statusByte);
    CopyChunkBytes(track, track.pos, f.total, e);
    if (statusByte == 0xF0) ClassifySysEx(e);
    return f.total;
  }
  // F1-F6, F8-FE have no place in a file: skip them with their data bytes.
  Warn(ctx, code::kMdtkUndefinedEvent);
  e.status = st::kDisabled;
  e.size = 0;
  return static_cast<int32_t>(std::min<int64_t>(1 + SystemDataLength(statusByte), avail));
}

void ClassifySysEx(MidiEvent& e) {
  // Indexes below assume a one-byte length; a longer length field shifts the body.
  int lengthBytes = 1;
  while (lengthBytes < 4 && static_cast<size_t>(lengthBytes) < e.data.size() &&
         (e.data[static_cast<size_t>(lengthBytes)] & 0x80) != 0) {
    ++lengthBytes;
  }
  const size_t shift = static_cast<size_t>(lengthBytes - 1);
  auto b = [&](size_t i) -> uint8_t { return i + shift < e.data.size() ? e.data[i + shift] : 0; };
  auto starts = [&](std::initializer_list<uint8_t> bytes) {
    size_t i = 2;
    for (uint8_t x : bytes) {
      if (b(i++) != x) return false;
    }
    return true;
  };

  if (starts({0x7F, 0x7F, 0x04, 0x01}) && b(8) == 0xF7) {
    e.kind = sysex::kMasterVolume;
    e.value = b(7);
  } else if (starts({0x7F, 0x7F, 0x04, 0x02}) && b(8) == 0xF7) {
    e.kind = sysex::kMasterBalance;
    e.value = b(7);
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x40, 0x00}) && b(8) == 0x04) {
    e.kind = sysex::kMasterVolume;
    e.value = b(9);
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x40}) && b(7) >= 0x10 && b(7) <= 0x1F) {
    e.value = b(9);
    if (b(8) == 0x15) {
      e.kind = sysex::kRhythmPart;
      e.channel = GsPartChannel(b(7));
    }
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x40}) && b(7) >= 0x40 && b(7) <= 0x4F) {
    e.value = b(9);
    if (b(8) == 0x20) {
      e.kind = sysex::kGsPartParameter;
      e.channel = GsPartChannel(b(7));
    }
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x40, 0x01})) {
    e.kind = GsEffectKind(b(8));
    e.value = b(9);
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x40, 0x02})) {
    e.kind = b(8) <= 0x03 ? 65 + b(8) : 0;
    e.value = b(9);
  } else if (starts({0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F})) {
    e.kind = sysex::kGsSystemMode;
  } else if (starts({0x43, 0x79, 0x06, 0x7F}) && b(8) == 0xF7) {
    e.kind = sysex::kYamahaVoice;
  } else if (starts({0x7E, 0x7F, 0x09, 0x01, 0xF7})) {
    e.kind = sysex::kGmSystemOn;
  }
}

int32_t DecodeMetaEvent(MidiContext& ctx, MidiTrack& track, MidiEvent& e) {
  const int64_t avail = ChunkEnd(track) - track.pos;
  e.status = st::kMeta;
  e.channel = kNoChannel;
  if (avail < 2) {
    Warn(ctx, code::kMdtkInternal);
    e.status = st::kDisabled;
    return static_cast<int32_t>(std::max<int64_t>(avail, 0));
  }
  const uint8_t type = ByteAt(track, track.pos + 1);
  e.kind = type;

  int32_t fixedSize = -1;
  switch (type) {
    case 0x00:
      fixedSize = 2;
      break;
    case 0x20:
      fixedSize = 1;
      break;
    case 0x2F:
      fixedSize = 0;
      break;
    case 0x51:
      fixedSize = 3;
      break;
    case 0x54:
      fixedSize = 5;
      break;
    case 0x58:
      fixedSize = 4;
      break;
    case 0x59:
      fixedSize = 2;
      break;
    default:
      break;
  }
  if (fixedSize < 0) {
    const int32_t n = ReadMetaText(ctx, track, e);
    const bool kept = (type >= 0x01 && type <= 0x07) || type == 0x7F || type == 0x09;
    if (type == 0x09) e.kind = 4;
    if (!kept) e.status = st::kDisabled;
    return n;
  }

  // Fixed kinds keep their usual size; the file's length still frames the event.
  const Frame f = ReadFrame(ctx, track, 2);
  if (fixedSize == 0) {
    e.size = 0;
    e.data.clear();
  } else {
    CopyPayload(track, f.payload, fixedSize, f.present, e);
  }
  if (type == 0x51) {
    e.value = (e.data[0] << 16) | (e.data[1] << 8) | e.data[2];
    if (e.value == 0) {
      Warn(ctx, code::kMdtkWrongTempo);
      e.value = kDefaultTempo;
    }
  } else if (type == 0x58) {
    e.value = PackTimeSignature(ctx, e.data[0], e.data[1]);
  }
  return f.total;
}

int32_t ReadMetaText(MidiContext& ctx, MidiTrack& track, MidiEvent& e) {
  const Frame f = ReadFrame(ctx, track, 2);
  if (f.present > 0) {
    // The zero behind the text comes with the 8 padding bytes.
    CopyPayload(track, f.payload, static_cast<int32_t>(f.present), f.present, e);
  } else {
    e.size = 1;
    e.data.assign(9, 0);
  }
  return f.total;
}

int32_t PackTimeSignature(MidiContext& ctx, int numerator, int denominatorPower) {
  // Powers above 30 would not fit; such a denominator is as broken as a zero.
  if (numerator != 0 && denominatorPower > 0 && denominatorPower <= 30) {
    return numerator * 256 + (1 << denominatorPower);
  }
  Warn(ctx, code::kMdtkTimeSignature);
  return 0x0404;
}

int32_t FindMasterVolume(MidiContext& ctx, const MidiTrack& track) {
  int32_t found = -1;
  bool seen = false;
  for (const MidiEvent& e : track.events) {
    if (e.status != st::kSysEx || e.kind != sysex::kMasterVolume) continue;
    if (seen) {
      ReportOnce(ctx, ctx.decoder.masterVolumeShown, code::kMdtkMasterVolumeTwice,
                 msg::kMultipleMasterVolume);
    }
    seen = true;
    found = e.value;
  }
  return found;
}

void PrependMasterVolume(MidiContext& ctx, MidiTrack& track) {
  if (track.count() >= kMaxEventsPerTrack) {
    Warn(ctx, code::kMdtkTooMuchData);
    return;
  }
  MidiEvent e;
  MakeMasterVolume(e);
  e.channel = kNoChannel;
  e.delta = 0;
  e.added = true;
  track.events.insert(track.events.begin(), std::move(e));
}

void ParseEvent(MidiContext& ctx, MidiTrack& track) {
  if (track.state != ts::kRaw) {
    Warn(ctx, code::kMdtkInternal);
    return;
  }
  const int64_t end = ChunkEnd(track);
  if (track.pos >= end) return;
  if (track.count() >= kMaxEventsPerTrack) {
    // Nothing more fits: leave the rest of the chunk unread.
    Warn(ctx, code::kMdtkTooMuchData);
    track.pos = static_cast<int32_t>(end);
    return;
  }

  MidiEvent e;
  const Vlq delta = ReadVlqAt(ctx, track, track.pos);
  track.pos += delta.bytes;
  e.delta = delta.value;
  if (track.pos >= end) {
    if (!delta.truncated) Warn(ctx, code::kMdtkInternal);  // a delta without an event
    return;
  }

  const int statusByte = ByteAt(track, track.pos);
  int used = statusByte;
  int32_t n = DecodeEventBody(ctx, track, e, statusByte);
  if (n == 0) {
    // A data byte: the body continues the running status, whose byte it lacks.
    --track.pos;
    used = ctx.decoder.runningStatus;
    if (IsChannelStatus(used)) n = DecodeEventBody(ctx, track, e, used);
    if (n == 0) {
      Warn(ctx, code::kMdtkUndefinedEvent);
      e = MidiEvent{};
      e.delta = delta.value;
      n = 2;  // past the offending byte; the event stays, disabled, for its delta
    }
  }

  if (e.size >= kEventDataWarnSize && e.kind != sysex::kYamahaVoice) {
    ReportOnce(ctx, ctx.decoder.largeEventShown, code::kMdtkLargeEvent, msg::kLargeEvent);
  }
  track.pos = static_cast<int32_t>(std::min<int64_t>(track.pos + int64_t{n}, end));
  // System exclusive and meta events do not interrupt channel running status.
  if (IsChannelStatus(used)) ctx.decoder.runningStatus = used;
  track.events.push_back(std::move(e));
}

void DecodeTrackEvents(MidiContext& ctx, MidiTrack& track) {
  if (track.state != ts::kRaw) {
    Warn(ctx, code::kMdtkInternal);
    return;
  }
  ctx.decoder.ResetShowOnce();
  while (track.pos < ChunkEnd(track)) {
    const int32_t before = track.pos;
    ParseEvent(ctx, track);
    if (track.pos <= before) break;  // cannot happen; guards against an endless loop
  }
  track.state = ts::kEvents;
}

void DecodeTrackBytes(MidiContext& ctx, MidiTrack& track,
                      std::span<const uint8_t> chunkIncludingHeader) {
  const size_t room = static_cast<size_t>(std::max(track.capacity, 0));
  if (chunkIncludingHeader.size() > room) Warn(ctx, code::kMdtkTooMuchData);
  const auto taken = chunkIncludingHeader.first(std::min(chunkIncludingHeader.size(), room));
  track.events.clear();
  track.bytes.assign(taken.begin(), taken.end());
  track.length = static_cast<int32_t>(taken.size());
  track.pos = 8;
  track.state = ts::kRaw;
  DecodeTrackEvents(ctx, track);
}

}  // namespace velorna
