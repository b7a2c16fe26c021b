// Plans against the single pass: over random songs, what each plan gives its synthesizer is
// what the whole song, written and played in one pass, gives it for those events.
#include "conversion/note_plan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <span>
#include <vector>

#include "conversion/copy_timing.h"
#include "midi/smf_reader.h"
#include "midi/smf_writer.h"
#include "support/song_builder.h"

namespace velorna {
namespace {

constexpr int kSongs = 60;
constexpr int kEventsPerSong = 160;
constexpr int kDivision = 96;
constexpr int kChannels[] = {0, 1, 2, kDrumChannel};
constexpr int kStatusMask = 0xF0;

// Tempo changes, four channels (one of them the drums), controllers, pedals, resets, bends,
// pressure, programs and bend ranges, overlapping notes of few keys, many events at one tick.
std::vector<MidiEvent> RandomSong(uint32_t seed) {
  std::mt19937 random(seed);
  const auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(random); };
  std::vector<MidiEvent> events;
  for (int n = 0; n < kEventsPerSong; ++n) {
    const int32_t delta = pick(0, 2) == 0 ? pick(1, 80) : 0;
    const int ch = kChannels[pick(0, 3)];
    switch (pick(0, 11)) {
      case 0:
        events.push_back(test::Tempo(delta, pick(200000, 1000000)));
        break;
      case 1:
        events.push_back(test::Control(delta, ch, 7 + 4 * pick(0, 1), pick(0, 127)));
        break;
      case 2:
        events.push_back(test::Control(delta, ch, 64, pick(0, 1) * 127));
        break;
      case 3:
        events.push_back(test::Control(delta, ch, pick(0, 5) == 0 ? 121 : 1, pick(0, 127)));
        break;
      case 4:
        events.push_back(test::Bend(delta, ch, pick(0, 16383)));
        break;
      case 5: {
        MidiEvent pressure = test::Program(delta, ch, pick(0, 127));
        pressure.status = st::kChannelPressure;
        events.push_back(pressure);
        break;
      }
      case 6:
        events.push_back(test::Program(delta, ch, pick(0, 8)));
        break;
      case 7: {
        auto range = test::BendRange(delta, ch, pick(1, 12));
        events.insert(events.end(), range.begin(), range.end());
        break;
      }
      default:
        events.push_back(
            test::Note(delta, ch, pick(58, 64), pick(0, 4) == 0 ? 0 : pick(1, 300), pick(1, 127)));
    }
  }
  events.push_back(test::EndOfTrack(pick(0, 50)));
  return events;
}

// The single pass: the whole song written, read back and timed as one rendering gets it.
std::vector<TimedEvent> SinglePass(const std::vector<MidiEvent>& events) {
  SilentReporter silent;
  MidiContext ctx(silent);
  auto song = test::MakeSong(events, kDivision);
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(WriteSmfToMemory(ctx, *song, bytes));
  MidiTrack track;
  constexpr int64_t kHeaderBytes = 14;
  EXPECT_GT(ReadTrackChunk(ctx, track, bytes, kHeaderBytes), 0);
  return TimeTrackEvents(track, kDivision).value_or(std::vector<TimedEvent>{});
}

bool Same(const TimedEvent& a, const TimedEvent& b) {
  return a.songSample == b.songSample && a.message == b.message;
}
bool IsNoteMessage(const TimedEvent& e) {
  const int type = e.message[0] & kStatusMask;
  return type == st::kNoteOn || type == st::kNoteOff;
}
bool OfChannel(const TimedEvent& e, int ch) {
  return e.message[0] < 0xF0 && (e.message[0] & 0x0F) == ch;
}

// What the events of channel `ch` in front of a note-on leave set: the last message of each
// controller (of a plan, those it takes from the song). (A program change behind a note at its tick
// is the next note's, where the single pass would give it to both: programs are left to the order
// check.)
std::map<int, std::vector<uint8_t>> ControllersBefore(std::span<const TimedEvent> events, int ch,
                                                      bool plan) {
  std::map<int, std::vector<uint8_t>> last;
  for (const TimedEvent& e : events) {
    if ((!plan || e.source >= 0) && OfChannel(e, ch) &&
        (e.message[0] & kStatusMask) == st::kControl)
      last[e.message[1]] = e.message;
  }
  return last;
}

// The plan's events taken from the song (not its note-off, which the plan may move to where
// the single pass releases the note), in the single pass's order at its samples.
::testing::AssertionResult InSinglePassOrder(const std::vector<TimedEvent>& plan,
                                             const std::vector<TimedEvent>& pass) {
  size_t at = 0;
  for (const TimedEvent& e : plan) {
    if (e.source < 0 || (e.message[0] & kStatusMask) == st::kNoteOff) continue;
    while (at < pass.size() && !Same(pass[at], e)) ++at;
    if (at == pass.size())
      return ::testing::AssertionFailure() << "event from " << e.source << " at sample "
                                           << e.songSample << " out of the single pass's order";
    ++at;
  }
  return ::testing::AssertionSuccess();
}

TEST(NotePlans, GiveEachNoteItsEventsAsTheSinglePassDoes) {
  const Tuning unchanged{KeyTableFromCents(CentTable{}), {}};
  int notes = 0;
  for (uint32_t seed = 1; seed <= kSongs; ++seed) {
    SCOPED_TRACE(seed);
    const std::vector<MidiEvent> events = RandomSong(seed);
    const std::vector<TimedEvent> pass = SinglePass(events);
    const auto song = test::MakeSong(events, kDivision);
    const auto index = IndexSong(*song);
    ASSERT_TRUE(index);
    RecordingReporter shown;
    NotePlanner planner(*index, unchanged);
    for (int32_t i = 0; i < song->track->count(); ++i) {
      const MidiEvent& e = song->track->events[static_cast<size_t>(i)];
      if (e.status != st::kNote || e.channel == kDrumChannel || e.velocity == 0) continue;
      SCOPED_TRACE(i);
      const NotePlan plan = planner.Plan(shown, i);
      ASSERT_TRUE(plan.sounds);
      EXPECT_TRUE(InSinglePassOrder(plan.events, pass));
      // Inside the note's window, every event of its channel reaches it unchanged.
      const auto on = std::find_if(plan.events.begin(), plan.events.end(), [](const auto& p) {
        return (p.message[0] & kStatusMask) == st::kNoteOn;
      });
      const auto off = std::find_if(on, plan.events.end(), [](const auto& p) {
        return (p.message[0] & kStatusMask) == st::kNoteOff;
      });
      ASSERT_TRUE(on != plan.events.end() && off != plan.events.end());
      EXPECT_EQ(on->blockStart, plan.firstBlock);
      // The note starts from the channel's controllers as the single pass has left them.
      const auto struck =
          std::find_if(pass.begin(), pass.end(), [&](const auto& p) { return Same(p, *on); });
      EXPECT_EQ(ControllersBefore({plan.events.begin(), on}, e.channel, true),
                ControllersBefore({pass.begin(), struck}, e.channel, false));
      for (const TimedEvent& heard : pass) {
        if (heard.songSample <= on->songSample || heard.songSample >= off->songSample ||
            !OfChannel(heard, e.channel) || IsNoteMessage(heard))
          continue;
        EXPECT_TRUE(std::any_of(on, off, [&](const TimedEvent& p) { return Same(p, heard); }))
            << "sample " << heard.songSample << " missing inside the window";
      }
      ++notes;
    }
    EXPECT_TRUE(shown.texts().empty());
    // The drum pass gets exactly the single pass's drum channel and system messages, but for
    // the set-up no voice hears.
    std::vector<TimedEvent> drums;
    for (const TimedEvent& p : PlanDrums(*index).events)
      if (p.source >= 0) drums.push_back(p);
    std::vector<TimedEvent> expected;
    for (const TimedEvent& p : pass)
      if (OfChannel(p, kDrumChannel) || p.message[0] >= 0xF0) expected.push_back(p);
    DropReplacedSetUp(expected);
    ASSERT_EQ(drums.size(), expected.size());
    for (size_t k = 0; k < drums.size(); ++k) EXPECT_TRUE(Same(drums[k], expected[k])) << k;
  }
  EXPECT_GT(notes, kSongs * 20);
}

}  // namespace
}  // namespace velorna
