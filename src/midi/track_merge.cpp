#include "midi/track_merge.h"

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "base/library_error.h"
#include "midi/song_edit.h"

namespace velorna {

namespace {

constexpr std::string_view kNameSeparator = " / ";
constexpr std::string_view kLongName = "long name";

bool IsTrackName(const MidiEvent& e) {
  return e.status == st::kMeta && e.kind == meta::kTrackName;
}

// A later track's note-off at the tick where an earlier track strikes the same channel and
// key reaches a synthesizer after that note-on, and releases the new note at once.
void MarkReleasedByLaterTracks(const MidiTrack& later, MidiTrack& earlier) {
  std::set<std::tuple<int32_t, int32_t, int64_t>> offs;  // channel, key, tick
  int64_t now = 0;
  for (const MidiEvent& e : later.events) {
    now += e.delta;
    if (e.status == st::kNote) offs.emplace(e.channel, e.note, now + std::max(e.duration, 0));
  }
  now = 0;
  for (MidiEvent& e : earlier.events) {
    now += e.delta;
    if (e.status == st::kNote && offs.contains({e.channel, e.note, now})) e.releasedAtStart = true;
  }
}

}  // namespace

int GetTrackName(const MidiTrack& track, std::string& name) {
  name.clear();
  for (const MidiEvent& e : track.events) {
    if (!IsTrackName(e)) continue;
    const size_t n = std::min(static_cast<size_t>(std::max(e.size, 0)), e.data.size());
    // Read as a C string: an empty name is stored as one zero byte.
    const auto end = std::find(e.data.begin(), e.data.begin() + static_cast<ptrdiff_t>(n), 0);
    name.assign(e.data.begin(), end);
    return 1;
  }
  return 0;
}

int RemoveTrackName(MidiTrack& track) {
  for (int32_t i = 0; i < track.count(); ++i) {
    if (IsTrackName(track.events[static_cast<size_t>(i)])) {
      DeleteEventAt(track, i);
      return 1;
    }
  }
  return 0;
}

void PrependTrackName(MidiContext& ctx, MidiTrack& track, const std::string& name) {
  if (name.size() > static_cast<size_t>(kMaxTrackNameBytes)) {
    ShowMdtkError(*ctx.reporter, code::kMdtkDataAddition);
  }
  if (track.count() >= track.maxEvents()) {
    ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
    return;
  }
  MidiEvent e;
  e.status = st::kMeta;
  e.kind = meta::kTrackName;
  e.channel = kNoChannel;
  e.delta = 0;
  if (!name.empty()) {
    e.size = static_cast<int32_t>(name.size());
    e.data.assign(name.size() + 8, 0);
    std::copy(name.begin(), name.end(), e.data.begin());
  }
  track.events.insert(track.events.begin(), std::move(e));
}

void ClearTrack(MidiTrack& track) {
  track.events.clear();
}

void DeleteEventAt(MidiTrack& track, int32_t index) {
  if (index < 0 || index >= track.count()) return;
  const auto i = static_cast<size_t>(index);
  if (i + 1 < track.events.size()) {
    MidiEvent& next = track.events[i + 1];
    next.delta = ToDelta(int64_t{next.delta} + track.events[i].delta);
  }
  track.events.erase(track.events.begin() + index);
}

void FixEndOfTrack(MidiContext& ctx, MidiTrack& track) {
  for (int32_t i = 0; i < track.count() - 1;) {
    if (track.events[static_cast<size_t>(i)].IsEndOfTrack()) {
      DeleteEventAt(track, i);
    } else {
      ++i;
    }
  }
  if (track.events.empty() || !track.events.back().IsEndOfTrack()) {
    MidiEvent eot;
    eot.status = st::kMeta;
    eot.kind = meta::kEndOfTrack;
    eot.channel = kNoChannel;
    // A full track has said so; it stays without its End of Track, which the writer refuses.
    (void)AppendEvent(ctx, track, std::move(eot));
  }
}

void MergeTrackInto(MidiContext& ctx, int nameMode, const MidiTrack& source, MidiTrack& dest) {
  // A copy of a track not in note form would come back empty and the clear below would
  // then lose the destination's events.
  if (source.state != ts::kNotes || dest.state != ts::kNotes) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    return;
  }
  std::unique_ptr<MidiTrack> a = CopyTrack(ctx, dest.capacity, dest);
  std::unique_ptr<MidiTrack> b = CopyTrack(ctx, source.capacity, source);

  if (nameMode == 1) {
    std::string nameA;
    std::string nameB;
    GetTrackName(*a, nameA);
    GetTrackName(*b, nameB);
    // The destination holds the later tracks, so the name lists them last to first.
    std::string joined = nameA.empty() ? nameB : nameA + std::string(kNameSeparator) + nameB;
    RemoveTrackName(*a);
    RemoveTrackName(*b);
    if (joined.size() > static_cast<size_t>(kMaxTrackNameBytes)) joined = kLongName;
    if (!joined.empty()) PrependTrackName(ctx, *a, joined);
  }

  MarkReleasedByLaterTracks(*a, *b);
  ClearTrack(dest);
  std::vector<MidiEvent>& ea = a->events;
  std::vector<MidiEvent>& eb = b->events;
  size_t i = 0;
  size_t j = 0;
  // At equal times the source's events go first: after one is taken the destination's
  // next delta is 0, and a following source event with delta 0 still wins.
  // A full destination has said so once; what does not fit is left out.
  bool room = true;
  while (room && i < ea.size() && j < eb.size()) {
    if (ea[i].delta >= eb[j].delta) {
      ea[i].delta -= eb[j].delta;
      room = AppendEvent(ctx, dest, std::move(eb[j++]));
    } else {
      eb[j].delta -= ea[i].delta;
      room = AppendEvent(ctx, dest, std::move(ea[i++]));
    }
  }
  while (room && j < eb.size()) room = AppendEvent(ctx, dest, std::move(eb[j++]));
  while (room && i < ea.size()) room = AppendEvent(ctx, dest, std::move(ea[i++]));
  a.reset();
  b.reset();
  FixEndOfTrack(ctx, dest);
}

}  // namespace velorna
