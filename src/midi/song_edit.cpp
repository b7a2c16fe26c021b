#include "midi/song_edit.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/library_error.h"

namespace velorna {

namespace {

bool HasRoom(MidiContext& ctx, const MidiTrack& track) {
  if (track.count() < track.maxEvents()) return true;
  ShowMdtkError(*ctx.reporter, code::kMdtkTooMuchData);
  return false;
}

}  // namespace

MidiEvent MakeControlChange(int channel, uint32_t controller, int32_t value) {
  MidiEvent e;
  e.status = st::kControl;
  e.channel = channel;
  e.kind = controller;
  e.value = value;
  return e;
}

std::unique_ptr<MidiFormat0Data> CopySong(MidiContext& ctx, const MidiFormat0Data& song) {
  // The image is not copied, and its buffer is left to whoever fills it.
  auto copy = std::make_unique<MidiFormat0Data>();
  copy->capacity = kSongCapacity;
  copy->division = song.division;
  copy->state = song.state;
  if (song.track) {
    copy->track = CopyTrack(ctx, kTrackCapacity, *song.track);
  } else {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    copy->track = std::make_unique<MidiTrack>();
  }
  return copy;
}

void DestroySong(MidiContext& ctx, std::unique_ptr<MidiFormat0Data>& song) {
  if (!song) return;
  if (song->track) DestroyTrack(ctx, *song->track);
  song.reset();
}

void DestroySong(MidiContext& ctx, std::unique_ptr<MidiFormat1Data>& song) {
  if (!song) return;
  for (auto& track : song->tracks) {
    if (track) DestroyTrack(ctx, *track);
  }
  song->tracks.clear();
  song->trackCount = 0;
  song.reset();
}

std::unique_ptr<MidiTrack> CopyTrack(MidiContext& ctx, int32_t capacity, const MidiTrack& source) {
  auto track = std::make_unique<MidiTrack>();
  track->capacity = capacity;
  if (source.state != ts::kNotes) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    return track;
  }
  track->events.reserve(std::min<size_t>(source.events.size(), track->maxEvents()));
  for (const MidiEvent& e : source.events) {
    // One message for a source that does not fit, not one per event left over.
    if (!AppendEvent(ctx, *track, e)) break;
  }
  track->state = ts::kNotes;
  return track;
}

void DestroyTrack(MidiContext& ctx, MidiTrack& track) {
  for (const MidiEvent& e : track.events) {
    if (e.size >= kEventDataWarnSize && e.kind != sysex::kYamahaVoice) {
      ShowMdtkError(*ctx.reporter, code::kMdtkAddFailed);
    }
  }
  track.events.clear();
  track.events.shrink_to_fit();
  track.bytes.clear();
  track.bytes.shrink_to_fit();
  track.length = 0;
  track.pos = 0;
}

bool AppendEvent(MidiContext& ctx, MidiTrack& track, MidiEvent event) {
  if (!HasRoom(ctx, track)) return false;
  track.events.push_back(std::move(event));
  return true;
}

bool InsertEventAtTime(MidiContext& ctx, MidiEvent event, MidiTrack& track, int64_t t, int mode) {
  if (!HasRoom(ctx, track)) return false;
  t = std::max<int64_t>(t, 0);
  auto& events = track.events;
  const size_t n = events.size();

  int64_t d = 0;
  for (size_t i = 0; i + 1 < n; ++i) {
    const int64_t c = d + events[i].delta;
    if (c >= t) {
      event.delta = ToDelta(t - d);
      events[i].delta = ToDelta(c - t);
      events.insert(events.begin() + static_cast<ptrdiff_t>(i), std::move(event));
      if (mode == 2) return true;
      // Behind every event of time t, but never behind an End of Track.
      size_t k = i;
      while (k + 1 < events.size() && events[k + 1].delta == 0 && !events[k + 1].IsEndOfTrack()) {
        events[k + 1].delta = events[k].delta;
        events[k].delta = 0;
        std::swap(events[k], events[k + 1]);
        ++k;
      }
      return true;
    }
    d = c;
  }

  // t lies behind every event but the last (d is now the time of event n - 2).
  event.delta = ToDelta(t - d);
  if (n == 0) {
    events.push_back(std::move(event));
    return true;
  }
  MidiEvent& last = events.back();
  last.delta = ToDelta(int64_t{last.delta} - event.delta);
  events.insert(events.end() - 1, std::move(event));
  return true;
}

int32_t ToDelta(int64_t ticks) {
  return static_cast<int32_t>(std::clamp<int64_t>(ticks, 0, std::numeric_limits<int32_t>::max()));
}

void RemoveDisabledEvents(MidiTrack& track) {
  auto& events = track.events;
  int64_t carried = 0;
  size_t kept = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].status == st::kDisabled) {
      carried += events[i].delta;
      continue;
    }
    events[i].delta = ToDelta(events[i].delta + carried);
    carried = 0;
    if (kept != i) events[kept] = std::move(events[i]);
    ++kept;
  }
  events.resize(kept);
}

}  // namespace velorna
