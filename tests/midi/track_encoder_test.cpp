#include "midi/track_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/library_error.h"

namespace velorna {
namespace {

using Bytes = std::vector<uint8_t>;

MidiEvent Channel(uint32_t status, int channel, int delta = 0) {
  MidiEvent e;
  e.status = status;
  e.channel = channel;
  e.delta = delta;
  return e;
}

MidiEvent NoteOn(int channel, int note, int delta = 0) {
  MidiEvent e = Channel(st::kNoteOn, channel, delta);
  e.note = note;
  e.velocity = 100;
  return e;
}

MidiEvent Control(int channel, int controller, int value, int delta = 0) {
  MidiEvent e = Channel(st::kControl, channel, delta);
  e.kind = controller;
  e.value = value;
  return e;
}

MidiEvent Program(int channel, int program, int delta = 0) {
  MidiEvent e = Channel(st::kProgram, channel, delta);
  e.value = program;
  return e;
}

MidiEvent WithData(uint32_t status, uint32_t kind, const Bytes& bytes, int delta = 0) {
  MidiEvent e;
  e.status = status;
  e.kind = kind;
  e.delta = delta;
  e.size = static_cast<int32_t>(bytes.size());
  e.data = bytes;
  e.data.resize(bytes.size() + 8, 0);
  return e;
}

MidiEvent SysEx(int delta = 0) {
  return WithData(st::kSysEx, sysex::kGmSystemOn, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7},
                  delta);
}

MidiEvent EndOfTrack(int delta = 0) {
  MidiEvent e;
  e.status = st::kMeta;
  e.kind = meta::kEndOfTrack;
  e.delta = delta;
  return e;
}

MidiTrack Track(std::vector<MidiEvent> events) {
  MidiTrack t;
  t.state = ts::kEvents;
  t.events = std::move(events);
  return t;
}

Bytes Vlq(uint32_t v) {
  uint8_t buf[4];
  const int n = WriteVarLen(v, buf);
  return Bytes(buf, buf + n);
}

struct Fixture : ::testing::Test {
  RecordingReporter rec;
  MidiContext ctx{rec};

  Bytes Encode(const MidiEvent& e) {
    Bytes out;
    const int32_t n = EncodeEvent(ctx, e, out);
    EXPECT_EQ(n, static_cast<int32_t>(out.size()));
    return out;
  }
  size_t Count(uint32_t c) const {
    const auto reports = rec.reports();
    return static_cast<size_t>(std::count_if(reports.begin(), reports.end(),
                                             [c](const Report& r) { return r.code == c; }));
  }
  Bytes Chunk(const MidiTrack& t) const {
    return Bytes(t.bytes.begin(), t.bytes.begin() + t.length);
  }
};

using Encoder = Fixture;

TEST(VarLen, WritesOneToFourBytes) {
  EXPECT_EQ(Vlq(0), (Bytes{0x00}));
  EXPECT_EQ(Vlq(127), (Bytes{0x7F}));
  EXPECT_EQ(Vlq(128), (Bytes{0x81, 0x00}));
  EXPECT_EQ(Vlq(200), (Bytes{0x81, 0x48}));
  EXPECT_EQ(Vlq(16383), (Bytes{0xFF, 0x7F}));
  EXPECT_EQ(Vlq(16384), (Bytes{0x81, 0x80, 0x00}));
  EXPECT_EQ(Vlq(20000), (Bytes{0x81, 0x9C, 0x20}));
  EXPECT_EQ(Vlq(2097151), (Bytes{0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(Vlq(2097152), (Bytes{0x81, 0x80, 0x80, 0x00}));
  EXPECT_EQ(Vlq(0x0FFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  // Nothing larger fits the form: it never runs to a fifth byte.
  EXPECT_EQ(Vlq(0x10000000), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(Vlq(0xFFFFFFFF), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
}

TEST_F(Encoder, ChannelMessages) {
  MidiEvent off = Channel(st::kNoteOff, 0);
  off.note = 60;
  off.velocity = 0;  // as read from 90 3C 00
  EXPECT_EQ(Encode(off), (Bytes{0x80, 0x3C, 0x40}));
  off.velocity = 30;
  EXPECT_EQ(Encode(off), (Bytes{0x80, 0x3C, 0x40}));

  EXPECT_EQ(Encode(NoteOn(3, 62)), (Bytes{0x93, 0x3E, 0x64}));
  EXPECT_EQ(Encode(Control(1, 7, 90)), (Bytes{0xB1, 0x07, 0x5A}));
  EXPECT_EQ(Encode(Program(15, 19)), (Bytes{0xCF, 0x13}));

  MidiEvent pressure = Channel(st::kChannelPressure, 2);
  pressure.value = 0x40;
  EXPECT_EQ(Encode(pressure), (Bytes{0xD2, 0x40}));

  MidiEvent bend = Channel(st::kPitchBend, 4);
  bend.note = 0x12;
  bend.value = 0x45;
  EXPECT_EQ(Encode(bend), (Bytes{0xE4, 0x12, 0x45}));

  EXPECT_EQ(Encode(WithData(st::kKeyPressure, 0, {0xA1, 0x3C, 0x20})), (Bytes{0xA1, 0x3C, 0x20}));
  const Bytes gm{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
  EXPECT_EQ(Encode(SysEx()), gm);
  EXPECT_EQ(Encode(WithData(st::kEscape, 0, {0xF7, 0x01, 0x42})), (Bytes{0xF7, 0x01, 0x42}));
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(Encoder, DataBytesNeverLookLikeStatusBytes) {
  MidiEvent on = NoteOn(0, 200);  // out-of-range note: 0, silently
  on.velocity = 300;
  EXPECT_EQ(Encode(on), (Bytes{0x90, 0x00, 0x7F}));
  EXPECT_EQ(Encode(Control(0, 130, -5)), (Bytes{0xB0, 0x7F, 0x00}));
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(Encoder, WrongChannelIsReportedEveryTimeAndStillWritten) {
  MidiEvent on = NoteOn(kNoChannel, 60);
  const Bytes first = Encode(on);
  Encode(Program(16, 1));
  ASSERT_EQ(first.size(), 3u);
  EXPECT_GE(first[0], 0x90);
  EXPECT_LE(first[0], 0x9F);
  EXPECT_EQ(Count(code::kMdtkWrongChannel), 2u);
  EXPECT_TRUE(rec.Contains("MDTK0D000003 チャネルに誤りがあります。"));
}

TEST_F(Encoder, UndefinedAndOversizedEventsWarn) {
  EXPECT_TRUE(Encode(Channel(st::kDisabled, 0)).empty());
  EXPECT_TRUE(Encode(Channel(st::kNote, 0)).empty());
  EXPECT_EQ(Count(code::kMdtkUndefinedEvent), 2u);
  EXPECT_TRUE(rec.Contains("未定義のMIDIイベントが含まれていました。"));

  Bytes big(300, 0x11);
  big[0] = 0xA0;
  EXPECT_EQ(Encode(WithData(st::kKeyPressure, 0, big)).size(), 300u);
  EXPECT_EQ(Count(code::kMdtkLargeEventData), 1u);
}

TEST_F(Encoder, SizeLargerThanDataIsNotReadPast) {
  MidiEvent e = WithData(st::kSysEx, 0, {0xF0, 0x01, 0xF7});
  e.size = 5000;
  EXPECT_EQ(Encode(e).size(), e.data.size());
  MidiEvent name = WithData(st::kMeta, meta::kTrackName, {'a', 'b'});
  name.size = 1000;
  name.data.clear();
  EXPECT_EQ(Encode(name), (Bytes{0xFF, 0x03, 0x00}));
}

TEST_F(Encoder, SystemExclusiveLengthFieldMatchesWhatIsWritten) {
  // As read from a chunk that ended inside the message: 0x60 bytes announced, 3 present.
  EXPECT_EQ(Encode(WithData(st::kEscape, 0, {0xF7, 0x60, 0x01, 0x02, 0x03})),
            (Bytes{0xF7, 0x03, 0x01, 0x02, 0x03}));
  EXPECT_EQ(Encode(WithData(st::kSysEx, 0, {0xF0, 0x81, 0x00, 0x41, 0xF7})),
            (Bytes{0xF0, 0x02, 0x41, 0xF7}));
  // A field that agrees is written as it stands, even in a longer form than needed.
  EXPECT_EQ(Encode(SysEx()), (Bytes{0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
  EXPECT_EQ(Encode(WithData(st::kSysEx, 0, {0xF0, 0x80, 0x01, 0xF7})),
            (Bytes{0xF0, 0x80, 0x01, 0xF7}));
  EXPECT_EQ(Encode(WithData(st::kSysEx, 0, {0xF0})), (Bytes{0xF0, 0x00}));
}

TEST_F(Encoder, MetaEvents) {
  MidiEvent tempo;
  tempo.status = st::kMeta;
  tempo.kind = meta::kTempo;
  tempo.value = 500000;
  EXPECT_EQ(Encode(tempo), (Bytes{0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}));
  EXPECT_EQ(Encode(EndOfTrack()), (Bytes{0xFF, 0x2F, 0x00}));
  EXPECT_EQ(Encode(WithData(st::kMeta, meta::kTimeSignature, {3, 2, 24, 8})),
            (Bytes{0xFF, 0x58, 0x04, 3, 2, 24, 8}));
  EXPECT_EQ(Encode(WithData(st::kMeta, 0x59, {0xFE, 0x01})), (Bytes{0xFF, 0x59, 0x02, 0xFE, 0x01}));

  const Bytes ten(10, 'x');
  Bytes lyric{0xFF, 0x05, 0x0A};
  lyric.insert(lyric.end(), ten.begin(), ten.end());
  EXPECT_EQ(Encode(WithData(st::kMeta, 5, ten)), lyric);
  EXPECT_TRUE(rec.reports().empty());

  const Bytes long_name(200, 'n');
  Bytes name{0xFF, 0x03, 0x81, 0x48};
  name.insert(name.end(), long_name.begin(), long_name.end());
  EXPECT_EQ(Encode(WithData(st::kMeta, meta::kTrackName, long_name)), name);
  // Once per chunk: the flag is shared with the decoder, which clears it per chunk.
  EXPECT_EQ(Count(code::kMdtkLargeEvent), 1u);
  EXPECT_TRUE(rec.Contains("MDTK0D00000B サイズが大きすぎるイベントが含まれています。"));

  // A single-length-byte kind keeps a valid length when the text is long.
  Bytes lyric200{0xFF, 0x05, 0x81, 0x48};
  lyric200.insert(lyric200.end(), long_name.begin(), long_name.end());
  EXPECT_EQ(Encode(WithData(st::kMeta, 5, long_name)), lyric200);
  EXPECT_EQ(Count(code::kMdtkLargeEvent), 1u);

  // The sequencer-specific kind is allowed to be long.
  ctx.decoder.largeEventShown = false;
  EXPECT_EQ(Encode(WithData(st::kMeta, 127, long_name)).size(), 204u);
  EXPECT_EQ(Count(code::kMdtkLargeEvent), 1u);
}

TEST_F(Encoder, TrackChunk) {
  MidiTrack t = Track({NoteOn(0, 60, 200), Control(0, 7, 100, 20000), EndOfTrack(2097152)});
  EncodeTrack(ctx, t);
  EXPECT_EQ(t.state, ts::kRaw);
  EXPECT_EQ(t.bytes.size(), static_cast<size_t>(kTrackCapacity));
  const Bytes want{'M',  'T',  'r',  'k',  0,    0,    0,    0x12, 0x81, 0x48, 0x90, 0x3C, 0x64,
                   0x81, 0x9C, 0x20, 0xB0, 0x07, 0x64, 0x81, 0x80, 0x80, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(Chunk(t), want);
  EXPECT_TRUE(rec.reports().empty());
}

TEST_F(Encoder, TrackWithoutEndOfTrackIsNotEncoded) {
  MidiTrack t = Track({NoteOn(0, 60), Control(0, 7, 100)});
  EncodeTrack(ctx, t);
  EXPECT_EQ(t.state, ts::kEvents);
  EXPECT_EQ(t.length, 0);
  EXPECT_TRUE(rec.Contains("MDTK0D000001 Midiのトラックデータで内部エラーが発生しました。"));

  MidiTrack empty = Track({});
  EncodeTrack(ctx, empty);
  MidiTrack raw = Track({EndOfTrack()});
  raw.state = ts::kNotes;
  EncodeTrack(ctx, raw);
  EXPECT_EQ(raw.state, ts::kNotes);
  EXPECT_EQ(Count(code::kMdtkInternal), 3u);
}

TEST_F(Encoder, DeltaBeyondTheLargestQuantityIsClampedAndReported) {
  MidiTrack t = Track({NoteOn(0, 60, 0x10000005), EndOfTrack(-3)});
  EncodeTrack(ctx, t);
  const Bytes want{'M',  'T',  'r',  'k',  0,    0,    0,    0x0B, 0xFF, 0xFF,
                   0xFF, 0x7F, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(Chunk(t), want);
  EXPECT_EQ(Count(0x0D000024), 2u);
}

TEST_F(Encoder, EventWithoutBytesPassesItsTimeOn) {
  MidiTrack t = Track({Channel(st::kDisabled, 0, 100), NoteOn(0, 60, 28), EndOfTrack()});
  EncodeTrack(ctx, t);
  const Bytes want{'M',  'T',  'r',  'k',  0,    0,    0,    0x09, 0x81,
                   0x00, 0x90, 0x3C, 0x64, 0x00, 0xFF, 0x2F, 0x00};
  EXPECT_EQ(Chunk(t), want);
  EXPECT_EQ(Count(code::kMdtkUndefinedEvent), 1u);
}

TEST_F(Encoder, FullBufferEndsTheChunkWithACompleteHeader) {
  // 300 bytes of room, 256 of them kept back for the last events: the long system
  // exclusive still goes in, the note after it no longer does.
  Bytes body(100, 0x10);
  body.front() = 0xF0;
  body[1] = 98;  // the length of what follows
  body.back() = 0xF7;
  MidiTrack t =
      Track({NoteOn(0, 60), WithData(st::kSysEx, 0, body, 5), NoteOn(0, 62, 5), EndOfTrack(5)});
  t.capacity = 300;
  EncodeTrack(ctx, t);
  EXPECT_EQ(t.state, ts::kRaw);
  EXPECT_EQ(t.bytes.size(), 300u);
  Bytes want{'M', 'T', 'r', 'k', 0, 0, 0, 109, 0x00, 0x90, 0x3C, 0x64, 0x05};
  want.insert(want.end(), body.begin(), body.end());
  want.insert(want.end(), {0x00, 0xFF, 0x2F, 0x00});
  EXPECT_EQ(Chunk(t), want);
  EXPECT_EQ(Count(code::kMdtkAddFailed), 1u);
  EXPECT_TRUE(rec.Contains("MDTK0D00001A データの追加に失敗しました。"));

  // An event longer than the whole buffer is refused the same way.
  rec.Clear();
  MidiTrack huge = Track({WithData(st::kSysEx, 0, Bytes(kTrackCapacity + 10, 0x10)), EndOfTrack()});
  EncodeTrack(ctx, huge);
  EXPECT_EQ(huge.length, 12);
  EXPECT_EQ(Count(code::kMdtkLargeEvent), 1u);
  EXPECT_EQ(Count(code::kMdtkAddFailed), 1u);
}

TEST_F(Encoder, SetupEventsMoveAheadOfNotesWithinTheirTick) {
  // note-on, controller, system exclusive at one tick.
  MidiTrack t = Track({NoteOn(0, 60, 10), Control(0, 7, 100), SysEx(), EndOfTrack(5)});
  SetupEventsFirst(ctx, t);
  ASSERT_EQ(t.count(), 4);
  EXPECT_EQ(t.events[0].status, st::kControl);
  EXPECT_EQ(t.events[0].delta, 10);
  EXPECT_EQ(t.events[1].status, st::kSysEx);
  EXPECT_EQ(t.events[1].delta, 0);
  EXPECT_EQ(t.events[2].status, st::kNoteOn);
  EXPECT_EQ(t.events[2].delta, 0);
  EXPECT_TRUE(t.events[3].IsEndOfTrack());
  EXPECT_EQ(t.events[3].delta, 5);

  SysExFirst(t);
  EXPECT_EQ(t.events[0].status, st::kSysEx);
  EXPECT_EQ(t.events[0].delta, 10);
  EXPECT_EQ(t.events[1].status, st::kControl);
  EXPECT_EQ(t.events[2].status, st::kNoteOn);

  // note-on A, note-on B, controller: the notes keep their order.
  MidiTrack u = Track({NoteOn(0, 60), NoteOn(0, 64), Control(0, 10, 64), EndOfTrack()});
  SetupEventsFirst(ctx, u);
  EXPECT_EQ(u.events[0].status, st::kControl);
  EXPECT_EQ(u.events[1].note, 60);
  EXPECT_EQ(u.events[2].note, 64);

  MidiTrack raw = Track({EndOfTrack()});
  raw.state = ts::kNotes;
  SetupEventsFirst(ctx, raw);
  EXPECT_EQ(Count(code::kMdtkInternal), 1u);
}

TEST_F(Encoder, BankSelectStaysAheadOfItsProgramChange) {
  // Each tick opens with a set-up event; the bank select must still precede its program.
  MidiTrack t = Track({Control(0, 0, 8), Program(0, 5), NoteOn(0, 60),  // tick 0
                       Control(1, 0, 1, 96), Control(1, 32, 0), NoteOn(1, 40), Program(1, 30),
                       SysEx(), NoteOn(1, 47),  // tick 96
                       Control(2, 0, 16, 96), Program(2, 3), SysEx(), EndOfTrack(96)});
  SetupEventsFirst(ctx, t);
  SysExFirst(t);
  auto order = [&t] {
    std::string s;
    for (const auto& e : t.events)
      s += e.status == st::kControl   ? (e.kind == 0 ? 'B' : 'L')
           : e.status == st::kProgram ? 'P'
           : e.status == st::kSysEx   ? 'S'
           : e.status == st::kNoteOn  ? 'N'
                                      : 'E';
    return s;
  };
  EXPECT_EQ(order(),
            "BPN"
            "SBLPN"
            "N"
            "SBPE");
  const std::vector<int> deltas{0, 0, 0, 96, 0, 0, 0, 0, 0, 96, 0, 0, 96};
  for (size_t i = 0; i < deltas.size(); ++i) EXPECT_EQ(t.events[i].delta, deltas[i]) << i;
  EXPECT_EQ(t.events[4].value, 1);  // bank of channel 1, ahead of program 30
  EXPECT_EQ(t.events[6].value, 30);
}

}  // namespace
}  // namespace velorna
