#include "midi/track_decoder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/library_error.h"
#include "midi/midi_test_helpers.h"
#include "midi/note_pairing.h"
#include "support/test_paths.h"

namespace velorna {
namespace {

using test::Bytes;
using test::DataOf;
using test::Load;
using test::TrackBytes;
using V = std::vector<uint8_t>;
using Codes = std::vector<uint32_t>;

TEST(TrackDecoder, ChannelMessagesRunningStatusAndVelocityZero) {
  Load load;
  TrackBytes t;
  t.NoteOn(0, 0, 60, 100)
      .Event(10, {0x3E, 0x64})  // running status
      .Event(0, {0x3E, 0x00})   // running-status note-on with velocity 0
      .NoteOn(0, 1, 60, 0)
      .Event(0, {0xE2, 0x00, 0x40})
      .Event(0, {0xD3, 0x20})
      .Event(0, {0xA4, 0x3C, 0x11})
      .Control(0, 5, 7, 100)
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_TRUE(load.Codes().empty());
  EXPECT_EQ(track.state, ts::kEvents);
  EXPECT_EQ(track.pos, track.length);
  ASSERT_EQ(track.count(), 9);
  const auto& e = track.events;
  EXPECT_EQ(e[0].status, st::kNoteOn);
  EXPECT_EQ(DataOf(e[0]), (V{0x90, 0x3C, 0x64}));
  EXPECT_EQ(e[1].status, st::kNoteOn);
  EXPECT_EQ(e[1].delta, 10);
  EXPECT_EQ(e[1].note, 62);
  EXPECT_EQ(e[1].velocity, 100);
  EXPECT_EQ(DataOf(e[1]), (V{0x90, 0x3E, 0x64}));
  EXPECT_EQ(e[1].data.size(), 3u + 8u);
  EXPECT_EQ(e[2].status, st::kNoteOff);
  EXPECT_EQ(e[2].note, 62);
  EXPECT_EQ(e[3].status, st::kNoteOff);
  EXPECT_EQ(e[3].channel, 1);
  EXPECT_EQ(e[3].velocity, 0);
  EXPECT_EQ(e[4].status, st::kPitchBend);
  EXPECT_EQ(e[4].value * 128 + e[4].note, 8192);
  EXPECT_EQ(e[4].channel, 2);
  EXPECT_EQ(e[5].status, st::kChannelPressure);
  EXPECT_EQ(e[5].size, 2);
  EXPECT_EQ(e[6].status, st::kKeyPressure);
  EXPECT_EQ(e[6].value, 0x11);
  EXPECT_EQ(e[7].kind, 7u);
  EXPECT_EQ(e[7].value, 100);
  EXPECT_TRUE(e[8].IsEndOfTrack());
  EXPECT_EQ(e[8].channel, kNoChannel);
}

TEST(TrackDecoder, SysExAndMetaEventsKeepTheRunningStatus) {
  Load load;
  TrackBytes t;
  t.NoteOn(0, 3, 60, 100)
      .Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7})
      .Event(0, {0x3E, 0x64})
      .Text(0, 1, "x")
      .Event(0, {0x40, 0x64})
      .Event(0, {0xF7, 0x01, 0x7F})
      .Event(0, {0x41, 0x64})
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_TRUE(load.Codes().empty());
  std::vector<uint32_t> statuses;
  for (const auto& e : track.events) statuses.push_back(e.status);
  EXPECT_EQ(statuses, (std::vector<uint32_t>{144, 240, 144, 255, 144, 247, 144, 255}));
  EXPECT_EQ(track.events[1].kind, sysex::kGmSystemOn);
  EXPECT_EQ(track.events[2].note, 62);
  EXPECT_EQ(track.events[4].note, 64);
  EXPECT_EQ(track.events[6].note, 65);
  EXPECT_EQ(track.events[6].channel, 3);
  EXPECT_EQ(DataOf(track.events[5]), (V{0xF7, 0x01, 0x7F}));
}

TEST(TrackDecoder, ScaleInterruptedBySysExKeepsEveryNote) {
  const Bytes file = test::ReadBytes(test::DataDir() / "corpus/test-running-status-sysex.mid");
  ASSERT_GT(file.size(), 22u);
  Load load;
  const MidiTrack track = load.Decode(Bytes(file.begin() + 14, file.end()));
  EXPECT_TRUE(load.Codes().empty());
  std::vector<int> notes;
  int offs = 0;
  for (const auto& e : track.events) {
    if (e.status == st::kNoteOn) notes.push_back(e.note);
    if (e.status == st::kNoteOff) ++offs;
  }
  EXPECT_EQ(notes, (std::vector<int>{60, 62, 64, 65, 67, 69, 71, 72}));
  EXPECT_EQ(offs, 8);
  EXPECT_TRUE(track.events.back().IsEndOfTrack());
}

TEST(TrackDecoder, SysExIsFramedByItsDeclaredLength) {
  Load load;
  TrackBytes t;
  t.Event(0, {0xF0, 0x03, 0x43, 0x12, 0x00})  // first packet of a divided message: no F7
      .Event(5, {0xF7, 0x02, 0x01, 0xF7})
      .NoteOn(0, 0, 60, 1)
      .Event(0, {0xF0, 0x04, 0x01, 0xF7, 0x02, 0xF7})  // an F7 inside the body
      .NoteOn(0, 0, 62, 1)
      .Event(0, {0xF0, 0x80, 0x0A, 0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7})
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_TRUE(load.Codes().empty());
  ASSERT_EQ(track.count(), 7);
  const auto& e = track.events;
  EXPECT_EQ(DataOf(e[0]), (V{0xF0, 0x03, 0x43, 0x12, 0x00}));
  EXPECT_EQ(e[1].status, st::kEscape);
  EXPECT_EQ(e[1].delta, 5);
  EXPECT_EQ(DataOf(e[1]), (V{0xF7, 0x02, 0x01, 0xF7}));
  EXPECT_EQ(e[2].note, 60);
  EXPECT_EQ(e[3].size, 6);
  EXPECT_EQ(e[4].note, 62);
  // A two-byte length shifts the body; it is still recognised.
  EXPECT_EQ(e[5].size, 13);
  EXPECT_EQ(e[5].kind, sysex::kRhythmPart);
  EXPECT_EQ(e[5].channel, 10);
  EXPECT_EQ(e[5].value, 2);
  EXPECT_TRUE(e[6].IsEndOfTrack());
}

TEST(TrackDecoder, MetaEventsAreFramedByTheirLength) {
  Load load;
  TrackBytes t;
  t.Event(0, {0xFF, 0x00, 0x00})
      .NoteOn(0, 0, 60, 1)
      .Event(0, {0xFF, 0x58, 0x06, 0x03, 0x02, 0x18, 0x08, 0x01, 0x02})
      .NoteOn(0, 0, 62, 1)
      .Event(0, {0xFF, 0x58, 0x02, 0x03, 0x03})
      .Event(0, {0xFF, 0x51, 0x00})
      .Event(0, {0xFF, 0x00, 0x02, 0x00, 0x07})
      .Event(0, {0xFF, 0x59, 0x02, 0xFE, 0x01})
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkWrongTempo}));
  ASSERT_EQ(track.count(), 9);
  const auto& e = track.events;
  EXPECT_EQ(e[0].kind, 0u);
  EXPECT_EQ(e[0].size, 2);
  EXPECT_EQ(e[1].note, 60);
  EXPECT_EQ(e[2].value, 0x0304);
  EXPECT_EQ(DataOf(e[2]), (V{0x03, 0x02, 0x18, 0x08}));
  EXPECT_EQ(e[3].note, 62);
  EXPECT_EQ(e[4].value, 0x0308);
  EXPECT_EQ(DataOf(e[4]), (V{0x03, 0x03, 0x00, 0x00}));
  EXPECT_EQ(e[5].value, kDefaultTempo);
  EXPECT_EQ(DataOf(e[6]), (V{0x00, 0x07}));
  EXPECT_EQ(DataOf(e[7]), (V{0xFE, 0x01}));
}

TEST(TrackDecoder, MetaEventsRepairedKeptAndDisabled) {
  Load load;
  TrackBytes t;
  t.Tempo(0, 0)
      .Tempo(0, 500000)
      .Tempo(0, 400000)
      .Event(0, {0xFF, 0x58, 0x04, 0x00, 0x02, 0x18, 0x08})
      .Text(0, 3, "")
      .Text(0, 9, "Piano")
      .Event(0, {0xFF, 0x21, 0x01, 0x00})
      .Event(0, {0xFF, 0x90, 0x01, 0x00})
      .Text(0, 0x7F, "seq")
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkWrongTempo, code::kMdtkTimeSignature}));
  EXPECT_TRUE(load.reporter.Contains("MDTK0D000005 テンポに誤りがあります。"));
  ASSERT_EQ(track.count(), 10);
  const auto& e = track.events;
  EXPECT_EQ(e[0].value, 500000);
  EXPECT_EQ(e[1].value, 500000);
  EXPECT_EQ(e[2].value, 400000);
  EXPECT_EQ(e[3].value, 0x0404);
  EXPECT_EQ(e[4].kind, meta::kTrackName);
  EXPECT_EQ(e[4].size, 1);
  EXPECT_EQ(e[4].data[0], 0);
  EXPECT_EQ(e[5].status, st::kMeta);
  EXPECT_EQ(e[5].kind, 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(e[5].data.data())), "Piano");
  EXPECT_EQ(e[6].status, st::kDisabled);
  EXPECT_EQ(e[7].status, st::kDisabled);
  EXPECT_EQ(e[8].status, st::kMeta);
  EXPECT_EQ(e[8].kind, 0x7Fu);
  EXPECT_TRUE(e[9].IsEndOfTrack());
}

TEST(TrackDecoder, UndefinedSystemBytesAreSkippedWithTheirData) {
  Load load;
  TrackBytes t;
  t.Event(0, {0xF2, 0x01, 0x02})
      .NoteOn(0, 0, 60, 100)
      .Event(0, {0xF1, 0x05})
      .Event(0, {0xF3, 0x01})
      .Event(0, {0xF8})
      .Event(0, {0xF6})
      .Event(7, {0x3E, 0x64})
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(load.Codes(), Codes(5, code::kMdtkUndefinedEvent));
  std::vector<uint32_t> statuses;
  for (const auto& e : track.events) statuses.push_back(e.status);
  EXPECT_EQ(statuses, (std::vector<uint32_t>{0, 144, 0, 0, 0, 0, 144, 255}));
  EXPECT_EQ(track.events[6].note, 62);
  EXPECT_EQ(track.events[6].delta, 7);
}

TEST(TrackDecoder, DataByteWithoutRunningStatusIsSkipped) {
  Load load;
  TrackBytes t;
  t.Event(3, {0x3C}).NoteOn(2, 0, 60, 100).EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkUndefinedEvent}));
  ASSERT_EQ(track.count(), 3);
  EXPECT_EQ(track.events[0].status, st::kDisabled);
  EXPECT_EQ(track.events[0].delta, 3);  // kept so the time survives compaction
  EXPECT_EQ(track.events[1].note, 60);
}

TEST(TrackDecoder, ProgramAndNoteNumberRepairs) {
  Load load;
  TrackBytes t;
  t.Event(0, {0xC0, 0x80})
      .Event(0, {0xC1, 0x85})
      .Event(0, {0x90, 0x80, 0x40})
      .Event(0, {0x80, 0x90, 0x40})
      .EndOfTrack(0);
  const MidiTrack first = load.Decode(t);
  EXPECT_EQ(load.Codes(),
            (Codes{code::kMdtkBadProgram, code::kMdtkBadProgram, code::kMdtkNoteNumber}));
  EXPECT_EQ(first.events[0].value, 0);
  EXPECT_EQ(first.events[1].value, 0);
  EXPECT_EQ(first.events[1].channel, 1);
  EXPECT_EQ(first.events[2].note, 0);
  EXPECT_EQ(first.events[2].velocity, 0);
  EXPECT_EQ(first.events[3].status, st::kNoteOff);
  EXPECT_EQ(first.events[3].note, 0);

  load.reporter.Clear();
  load.Decode(TrackBytes().Event(0, {0x80, 0x90, 0x40}).EndOfTrack(0));
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkNoteNumber}));  // shown again in the next track
}

TEST(TrackDecoder, LargeEventWarnsOncePerTrack) {
  auto sysex = [] {
    Bytes b{0x00, 0xF0, 0x82, 0x2B};  // 299 bytes follow
    b.insert(b.end(), 298, 0x11);
    b.push_back(0xF7);
    return b;
  };
  TrackBytes meta;
  meta.Text(0, 0x7F, std::string(300, 'y'));
  Bytes events = sysex();
  const Bytes second = sysex();
  events.insert(events.end(), second.begin(), second.end());
  events.insert(events.end(), meta.events().begin(), meta.events().end());
  Bytes chunk{'M', 'T', 'r', 'k', 0, 0, 0, 0};
  chunk.insert(chunk.end(), events.begin(), events.end());

  Load load;
  const MidiTrack track = load.Decode(chunk);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkLargeEvent}));
  ASSERT_EQ(track.count(), 3);
  EXPECT_EQ(track.events[0].size, 302);
  EXPECT_EQ(track.events[2].size, 300);

  Load exempt;
  exempt.Decode(meta);
  EXPECT_TRUE(exempt.Codes().empty());
}

TEST(TrackDecoder, VariableLengthQuantityEndsAtItsFourthByte) {
  Load load;
  TrackBytes t;
  t.Raw({0x81, 0x80, 0x80, 0x80, 0x90, 0x3C, 0x64}).EndOfTrack(0x0FFFFFFF);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal}));
  ASSERT_EQ(track.count(), 2);
  EXPECT_EQ(track.events[0].delta, 1 << 21);
  EXPECT_EQ(track.events[0].note, 60);
  EXPECT_EQ(track.events[1].delta, 0x0FFFFFFF);
  EXPECT_EQ(test::Times(track).back(), (1 << 21) + int64_t{0x0FFFFFFF});
}

// Cuts a chunk after every byte: each cut decodes what lies before it, reports a cut
// inside an event, and ends.
TEST(TrackDecoder, TruncatedChunksDecodeWhatIsPresent) {
  TrackBytes t;
  std::vector<size_t> ends;
  auto mark = [&] { ends.push_back(t.events().size()); };
  t.NoteOn(0, 0, 60, 100);
  mark();
  t.Event(200, {0x3E, 0x64});
  mark();
  t.Event(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
  mark();
  t.Tempo(20000, 600000);
  mark();
  t.Text(0, 3, "Track name");
  mark();
  t.Event(0, {0xFF, 0x58, 0x04, 0x03, 0x02, 0x18, 0x08});
  mark();
  t.Event(0, {0xF7, 0x02, 0x01, 0xF7});
  mark();
  t.Program(0, 2, 5);
  mark();
  t.EndOfTrack(0);
  mark();
  const Bytes full = t.Chunk();

  Load whole;
  const MidiTrack reference = whole.Decode(full);
  ASSERT_EQ(reference.count(), 9);
  ASSERT_TRUE(whole.Codes().empty());

  for (size_t cut = 8; cut < full.size(); ++cut) {
    SCOPED_TRACE("cut after " + std::to_string(cut) + " bytes");
    Load load;
    const MidiTrack track = load.Decode(Bytes(full.begin(), full.begin() + cut));
    EXPECT_EQ(track.state, ts::kEvents);
    EXPECT_EQ(track.pos, track.length);
    size_t complete = 0;
    while (complete < ends.size() && ends[complete] + 8 <= cut) ++complete;
    const bool onBoundary = cut == 8 || (complete > 0 && ends[complete - 1] + 8 == cut);
    EXPECT_EQ(load.Codes().empty(), onBoundary);
    ASSERT_GE(track.events.size(), complete);
    EXPECT_LE(track.events.size(), complete + 1);
    for (size_t i = 0; i < complete; ++i) {
      EXPECT_EQ(track.events[i].status, reference.events[i].status);
      EXPECT_EQ(track.events[i].delta, reference.events[i].delta);
      EXPECT_EQ(track.events[i].value, reference.events[i].value);
      EXPECT_EQ(track.events[i].data, reference.events[i].data);
    }
  }
}

TEST(TrackDecoder, TruncatedEventsKeepTheBytesPresent) {
  {
    Load load;
    const MidiTrack track = load.Decode(TrackBytes().Raw({0x00, 0x90, 0x3C}));
    EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal}));
    ASSERT_EQ(track.count(), 1);
    EXPECT_EQ(track.events[0].note, 60);
    EXPECT_EQ(track.events[0].status, st::kNoteOff);  // the missing velocity reads as 0
  }
  {
    Load load;
    const MidiTrack track = load.Decode(TrackBytes().Raw({0x00, 0xF0, 0x0A, 0x41, 0x10, 0x42}));
    EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal}));
    ASSERT_EQ(track.count(), 1);
    EXPECT_EQ(DataOf(track.events[0]), (V{0xF0, 0x0A, 0x41, 0x10, 0x42}));
  }
  {
    Load load;
    const MidiTrack track = load.Decode(TrackBytes().Raw({0x00, 0xFF, 0x01, 0x14, 'a', 'b'}));
    EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal}));
    ASSERT_EQ(track.count(), 1);
    EXPECT_EQ(DataOf(track.events[0]), (V{'a', 'b'}));
    EXPECT_EQ(track.events[0].data[2], 0);
  }
  {
    Load load;
    const MidiTrack track = load.Decode(TrackBytes().NoteOn(0, 0, 60, 1).Raw({0x81}));
    EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal}));
    EXPECT_EQ(track.count(), 1);
  }
  {
    Load load;
    const MidiTrack track = load.Decode(Bytes{'M', 'T', 'r'});
    EXPECT_TRUE(load.Codes().empty());
    EXPECT_EQ(track.count(), 0);
    EXPECT_EQ(track.state, ts::kEvents);
  }
}

// Arbitrary bytes end decoding at the chunk's end, and the passes after it cope with
// whatever came out.
TEST(TrackDecoder, ArbitraryBytesDecodeAndPairWithoutFault) {
  std::mt19937 random(11);
  for (int round = 0; round < 400; ++round) {
    Bytes chunk{'M', 'T', 'r', 'k', 0, 0, 0, 0};
    const size_t n = random() % 300;
    for (size_t i = 0; i < n; ++i) {
      // Favour small deltas and status bytes so that most bytes frame real events.
      const uint32_t r = random();
      chunk.push_back(static_cast<uint8_t>(r % 4 == 0 ? 0xF0 | (r >> 8) % 16 : r >> 8));
    }
    Load load;
    MidiTrack track = load.Decode(chunk);
    ASSERT_EQ(track.pos, track.length);
    ASSERT_EQ(track.state, ts::kEvents);
    EventsToNotes(load.ctx, track);
    NotesToEvents(load.ctx, track);
    EventsToNotes(load.ctx, track);
    EXPECT_EQ(track.state, ts::kNotes);
  }
}

TEST(TrackDecoder, NoEventIsStoredPastTheLimit) {
  Bytes chunk{'M', 'T', 'r', 'k', 0, 0, 0, 0, 0x00, 0xC0, 0x05};
  for (int i = 0; i < kMaxEventsPerTrack; ++i) {
    chunk.push_back(0x00);
    chunk.push_back(0x05);
  }
  Load load;
  const MidiTrack track = load.Decode(chunk);
  EXPECT_EQ(track.count(), kMaxEventsPerTrack);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkTooMuchData}));
  EXPECT_EQ(track.state, ts::kEvents);
}

TEST(TrackDecoder, RunningStatusCarriesIntoTheNextChunkOfTheLoad) {
  Load load;
  load.Decode(TrackBytes().NoteOn(0, 3, 60, 100));
  const MidiTrack next = load.Decode(TrackBytes().Event(0, {0x3E, 0x64}));
  ASSERT_EQ(next.count(), 1);
  EXPECT_EQ(next.events[0].channel, 3);

  Load other;  // another load starts without one
  other.Decode(TrackBytes().Event(0, {0x3E, 0x64}));
  // 3E is skipped, then 64 reads as a delta time with no event after it.
  EXPECT_EQ(other.Codes(), (Codes{code::kMdtkUndefinedEvent, code::kMdtkInternal}));
}

TEST(TrackDecoder, DecodingNeedsARawTrack) {
  Load load;
  MidiTrack track = load.Decode(TrackBytes().NoteOn(0, 0, 60, 1));
  track.pos = 8;
  ParseEvent(load.ctx, track);
  DecodeTrackEvents(load.ctx, track);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkInternal, code::kMdtkInternal}));
  EXPECT_EQ(track.count(), 1);
}

struct SysExCase {
  V body;  // the bytes after F0 and the one-byte length
  uint32_t kind;
  int32_t value;
  int32_t channel;
};

TEST(ClassifySysEx, RecognisesKnownMessages) {
  const std::vector<SysExCase> cases = {
      {{0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7}, 1, 0x64, kNoChannel},
      {{0x7F, 0x7F, 0x04, 0x02, 0x00, 0x40, 0xF7}, 40, 0x40, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x04, 0x7F, 0x3D, 0xF7}, 1, 0x7F, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x1A, 0x15, 0x02, 0x0F, 0xF7}, 18, 2, 10},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x10, 0x15, 0x01, 0x00, 0xF7}, 18, 1, 9},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x11, 0x15, 0x00, 0x00, 0xF7}, 18, 0, 0},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x19, 0x15, 0x01, 0x00, 0xF7}, 18, 1, 8},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x1F, 0x15, 0x01, 0x00, 0xF7}, 18, 1, 15},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x12, 0x02, 0x05, 0x00, 0xF7}, 0, 5, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x43, 0x20, 0x01, 0x00, 0xF7}, 69, 1, 2},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x40, 0x20, 0x01, 0x00, 0xF7}, 69, 1, 9},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x4A, 0x20, 0x01, 0x00, 0xF7}, 69, 1, 10},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x43, 0x21, 0x01, 0x00, 0xF7}, 0, 1, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x30, 0x04, 0x00, 0xF7}, 20, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x35, 0x04, 0x00, 0xF7}, 25, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x36, 0x04, 0x00, 0xF7}, 0, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x37, 0x04, 0x00, 0xF7}, 32, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x40, 0x04, 0x00, 0xF7}, 41, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x59, 0x04, 0x00, 0xF7}, 57, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x01, 0x5A, 0x04, 0x00, 0xF7}, 64, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x02, 0x03, 0x04, 0x00, 0xF7}, 68, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x02, 0x04, 0x04, 0x00, 0xF7}, 0, 4, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7}, 19, 0, kNoChannel},
      {{0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, 0, 0, kNoChannel},
      {{0x43, 0x79, 0x06, 0x7F, 0x01, 0x02, 0xF7}, 127, 0, kNoChannel},
      {{0x7E, 0x7F, 0x09, 0x01, 0xF7}, 9, 0, kNoChannel},
      {{0x7E, 0x7F, 0x09, 0x02, 0xF7}, 0, 0, kNoChannel},
  };
  for (const SysExCase& c : cases) {
    MidiEvent e;
    e.status = st::kSysEx;
    e.data = {0xF0, static_cast<uint8_t>(c.body.size())};
    e.data.insert(e.data.end(), c.body.begin(), c.body.end());
    e.size = static_cast<int32_t>(e.data.size());
    e.data.resize(e.data.size() + 8, 0);
    ClassifySysEx(e);
    SCOPED_TRACE(testing::PrintToString(c.body));
    EXPECT_EQ(e.kind, c.kind);
    EXPECT_EQ(e.value, c.value);
    EXPECT_EQ(e.channel, c.channel);
  }
  MidiEvent bare;
  bare.data = {0xF0};
  ClassifySysEx(bare);  // too short to match anything, and no read past it
  EXPECT_EQ(bare.kind, 0u);
}

TEST(PackTimeSignature, PacksOrFallsBackToFourFour) {
  Load load;
  EXPECT_EQ(PackTimeSignature(load.ctx, 3, 2), 0x0304);
  EXPECT_EQ(PackTimeSignature(load.ctx, 6, 3), 0x0608);
  EXPECT_TRUE(load.Codes().empty());
  EXPECT_EQ(PackTimeSignature(load.ctx, 4, 0), 0x0404);
  EXPECT_EQ(PackTimeSignature(load.ctx, 0, 2), 0x0404);
  EXPECT_EQ(PackTimeSignature(load.ctx, 4, 31), 0x0404);  // would not fit
  EXPECT_EQ(load.Codes(), Codes(3, code::kMdtkTimeSignature));
  EXPECT_TRUE(load.reporter.Contains("拍子に異常が発生しました。"));
}

TEST(MasterVolume, FindReportsRepeatsOnceAndReturnsTheLast) {
  Load load;
  TrackBytes t;
  t.Event(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x64, 0xF7})
      .Event(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x5A, 0xF7})
      .Event(0, {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x50, 0xF7})
      .EndOfTrack(0);
  const MidiTrack track = load.Decode(t);
  EXPECT_EQ(FindMasterVolume(load.ctx, track), 0x50);
  EXPECT_EQ(FindMasterVolume(load.ctx, track), 0x50);
  EXPECT_EQ(load.Codes(), (Codes{code::kMdtkMasterVolumeTwice}));
  EXPECT_TRUE(load.reporter.Contains("複数のマスターボリュームが設定されています。"));

  const MidiTrack none = load.Decode(TrackBytes().NoteOn(0, 0, 60, 1).EndOfTrack(0));
  EXPECT_EQ(FindMasterVolume(load.ctx, none), -1);
}

TEST(MasterVolume, PrependKeepsTheOtherTimes) {
  Load load;
  MidiTrack track = load.Decode(TrackBytes().NoteOn(5, 0, 60, 1).EndOfTrack(10));
  PrependMasterVolume(load.ctx, track);
  ASSERT_EQ(track.count(), 3);
  const MidiEvent& mv = track.events[0];
  EXPECT_EQ(mv.status, st::kSysEx);
  EXPECT_EQ(mv.kind, sysex::kMasterVolume);
  EXPECT_EQ(mv.value, 127);
  EXPECT_EQ(mv.channel, kNoChannel);
  EXPECT_EQ(mv.delta, 0);
  EXPECT_EQ(DataOf(mv), (V{0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7}));
  EXPECT_EQ(test::Times(track), (std::vector<int64_t>{0, 5, 15}));
  EXPECT_EQ(FindMasterVolume(load.ctx, track), 127);
}

}  // namespace
}  // namespace velorna
