// Every note's plan, held to recorded bytes (recorded again when copies came to end where the
// single pass releases a note, with the events its tail hears, when bends became exact, when
// tails came to ring up to the ending cap and a key struck twice at one tick released the
// first, and when plans came to start from the channel's set-up instead of its history):
// a digest of every plan of a song as the file engine writes it, and the events the fast
// engine renders without the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "audio/render_timing.h"
#include "conversion/copy_timing.h"
#include "conversion/file_engine.h"
#include "conversion/note_plan.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "support/song_builder.h"
#include "support/test_paths.h"

namespace velorna {
namespace {

namespace fs = std::filesystem;
using test::BendRange;
using test::Control;
using test::EndOfTrack;
using test::Events;
using test::MakeSong;
using test::Note;
using test::Program;
using test::RhythmPart;
using test::Tempo;

constexpr uint64_t kFnvOffset = 1469598103934665603ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

void Mix(uint64_t& digest, const void* data, size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (size_t k = 0; k < size; ++k) digest = (digest ^ bytes[k]) * kFnvPrime;
}

// What the file-based road gives the synthesizer: the copy written, read back, timed.
std::vector<TimedEvent> TimedThroughFile(const std::vector<uint8_t>& bytes) {
  SilentReporter silent;
  MidiContext ctx(silent);
  MidiTrack track;
  constexpr int64_t kHeaderBytes = 14;
  EXPECT_GT(ReadTrackChunk(ctx, track, bytes, kHeaderBytes), 0);
  const int32_t division = (bytes[12] << 8) | bytes[13];
  return TimeTrackEvents(track, division).value_or(std::vector<TimedEvent>{});
}

struct Digest {
  uint64_t value = kFnvOffset;
  int copies = 0;
};

// Every pitched note's plan written to memory and folded into one digest, with the
// messages shown; each plan's events must be those its file gives when read back.
Digest DigestOfCopies(const MidiFormat0Data& song, const CentTable& cents) {
  Digest digest;
  RecordingReporter shown;
  MidiContext ctx(shown);
  const auto index = IndexSong(song);
  if (!index) {
    ADD_FAILURE() << "no index";
    return digest;
  }
  const Tuning tuning{KeyTableFromCents(cents), {}};
  NotePlanner planner(*index, tuning);
  for (int32_t i = 0; i < song.track->count(); ++i) {
    const MidiEvent& e = song.track->events[static_cast<size_t>(i)];
    if (e.status != st::kNote || e.channel == kDrumChannel) continue;
    const NotePlan plan = planner.Plan(shown, i);
    if (!plan.sounds) continue;
    auto copy = SongOfPlan(ctx, *index, plan);
    if (!copy) {
      ADD_FAILURE() << "no copy of note " << i;
      return digest;
    }
    SilentReporter silent;
    MidiContext quiet(silent);
    std::vector<uint8_t> bytes;
    const bool written = WriteSmfToMemory(quiet, *copy, bytes);
    Mix(digest.value, &i, sizeof i);
    EXPECT_TRUE(written) << "note " << i;
    if (!written) continue;
    Mix(digest.value, bytes.data(), bytes.size());
    std::vector<TimedEvent> viaFile = TimedThroughFile(bytes);
    DropReplacedSetUp(viaFile);
    bool same = viaFile.size() == plan.events.size();
    for (size_t k = 0; same && k < viaFile.size(); ++k) {
      same = viaFile[k].songSample == plan.events[k].songSample &&
             viaFile[k].blockStart == plan.events[k].blockStart &&
             viaFile[k].message == plan.events[k].message;
    }
    EXPECT_TRUE(same) << "note " << i << ": the plan's events differ from its file's";
    ++digest.copies;
  }
  for (const std::string& text : shown.texts()) Mix(digest.value, text.data(), text.size());
  return digest;
}

std::unique_ptr<MidiFormat0Data> LoadPrepared(const fs::path& path) {
  SilentReporter silent;
  MidiContext ctx(silent);
  MidiLoader loader = LoadSmf(ctx, path.string());
  if (loader.fileLength == 0) return nullptr;
  PrepareSong(ctx, loader);
  return std::move(loader.song);
}

// Pedals held and released, resets, bends inside windows, set and unset bend ranges, a
// rhythm part, tempo changes and notes sharing ticks with their set-up.
std::unique_ptr<MidiFormat0Data> EveryKindOfSetUp() {
  return MakeSong(Events({
      {Tempo(0, 500000), Program(0, 0, 19), Control(0, 0, 64, 127), Note(0, 0, 60, 100),
       Note(0, 1, 62, 50), test::Bend(0, 1, 9000)},
      BendRange(10, 1, 12),
      {Note(0, 1, 64, 300),    test::Bend(40, 1, 7000), Control(20, 0, 121, 0), Note(0, 0, 67, 30),
       Control(40, 0, 64, 0),  Tempo(0, 400000),        Note(0, 2, 48, 200),    RhythmPart(0, 2, 1),
       Note(50, 2, 50, 10),    Control(0, 3, 66, 100),  Note(0, 3, 55, 10),     Note(0, 3, 57, 10),
       Control(20, 1, 121, 0), Note(0, 1, 60, 0),       test::Bend(5, 0, 100),  Note(0, 0, 72, 40),
       Note(0, 9, 36, 20),     Control(10, 0, 64, 100), Note(30, 0, 71, 10),    EndOfTrack(500)},
  }));
}

constexpr CentTable kOddCents{-100, 100, 50, -50, 0, 1, -1, 99, -99, 3, 7, -7};

struct Recorded {
  const char* song;  // a corpus name, or a path
  int copies;
  uint64_t pure;  // digest under the pure intervals
  uint64_t odd;   // digest under kOddCents
};

const Recorded kRecorded[] = {
    {"every-kind", 11, 0xf8e4830372a5399aull, 0x0c2d483c701d6301ull},
    {"test-all-gs-sounds.mid", 5044, 0x095327d6576c1e39ull, 0x5ecc58af198a4c8eull},
    {"test-control-40-damper.mid", 8, 0x417d21bad6d3ea4aull, 0xdaab8a6ac317a4f4ull},
    {"/usr/share/games/openttd/baseset/openmsx/5432gone_redfarn.mid", 938, 0x1f4d1ff0c2119efaull,
     0x91ecdab1f11082c6ull},
    {"/usr/share/games/openttd/baseset/openmsx/coconut_run2.mid", 585, 0xfd782bf5611db0a3ull,
     0x4677cb10eecc0ef6ull},
    {"/usr/share/games/openttd/baseset/openmsx/tttheme2.mid", 3443, 0x1baf671a8840ff53ull,
     0x4364563523128976ull},
};

// A sanitizer build runs some twenty times slower: there the songs of thousands of notes are
// left to the plain build.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kMostCopiesChecked = 1000;
#else
constexpr int kMostCopiesChecked = std::numeric_limits<int>::max();
#endif

TEST(NoteCopies, EveryCopyIsTheRecordedOne) {
  for (const Recorded& r : kRecorded) {
    SCOPED_TRACE(r.song);
    if (r.copies > kMostCopiesChecked) continue;
    const std::string name = r.song;
    std::unique_ptr<MidiFormat0Data> song;
    if (name == "every-kind") {
      song = EveryKindOfSetUp();
    } else {
      const fs::path path =
          name.find('/') == std::string::npos ? test::DataDir() / "corpus" / name : fs::path(name);
      if (!fs::exists(path)) continue;
      song = LoadPrepared(path);
    }
    ASSERT_TRUE(song && song->track);
    const Digest pure = DigestOfCopies(*song, kPureIntervalCents);
    const Digest odd = DigestOfCopies(*song, kOddCents);
    EXPECT_EQ(pure.copies, r.copies);
    EXPECT_EQ(pure.value, r.pure) << std::hex << pure.value;
    EXPECT_EQ(odd.value, r.odd) << std::hex << odd.value;
  }
}

TEST(NoteCopies, SongWithoutEndOfTrackGivesCopiesButNoRendering) {
  const auto song = MakeSong({Note(0, 0, 60, 10), Program(20, 0, 1), Note(0, 0, 62, 5)});
  EXPECT_EQ(DigestOfCopies(*song, kPureIntervalCents).copies, 0);
}

}  // namespace
}  // namespace velorna
