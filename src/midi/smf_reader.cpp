#include "midi/smf_reader.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string_view>
#include <utility>

#include "base/file_io.h"
#include "base/library_error.h"
#include "midi/note_pairing.h"
#include "midi/song_edit.h"
#include "midi/song_time.h"
#include "midi/track_decoder.h"
#include "midi/track_merge.h"

namespace velorna {

namespace {

using Bytes = std::span<const uint8_t>;

constexpr size_t kMacBinaryBytes = 128;
constexpr size_t kHeaderBytes = 14;  // "MThd", length, format, track count, division
constexpr size_t kChunkHeaderBytes = 8;
constexpr int64_t kMinHeaderLength = 6;

bool TagAt(Bytes image, size_t pos, std::string_view tag) {
  return pos <= image.size() && image.size() - pos >= tag.size() &&
         std::memcmp(image.data() + pos, tag.data(), tag.size()) == 0;
}

uint32_t Be16(Bytes image, size_t pos) {
  return (static_cast<uint32_t>(image[pos]) << 8) | image[pos + 1];
}

uint32_t Be32(Bytes image, size_t pos) {
  return (Be16(image, pos) << 16) | Be16(image, pos + 2);
}

bool IsTrackTag(Bytes image, size_t pos) {
  return TagAt(image, pos, "MTrk") || TagAt(image, pos, "XFIH") || TagAt(image, pos, "XFKM");
}

// A 128-byte MacBinary header may stand in front of "MThd".
Bytes SkipMacBinary(Bytes image) {
  if (!TagAt(image, 0, "MThd") && TagAt(image, kMacBinaryBytes, "MThd")) {
    return image.subspan(kMacBinaryBytes);
  }
  return image;
}

// The first chunk follows the header, whose declared length may exceed 6.
int64_t FirstChunkOffset(Bytes image) {
  return static_cast<int64_t>(kChunkHeaderBytes) +
         std::max<int64_t>(kMinHeaderLength, Be32(image, 4));
}

// Chunks of other types are skipped by their length, as readers of the format must.
int64_t SkipForeignChunks(Bytes image, int64_t pos) {
  const auto size = static_cast<int64_t>(image.size());
  while (pos < size && !IsTrackTag(image, static_cast<size_t>(pos))) {
    if (pos + static_cast<int64_t>(kChunkHeaderBytes) > size) return size;
    pos += static_cast<int64_t>(kChunkHeaderBytes) + Be32(image, static_cast<size_t>(pos) + 4);
  }
  return std::min(pos, size);
}

// Counts what a load shows, so that a load that fails silently can still say why.
class CountingReporter final : public Reporter {
 public:
  explicit CountingReporter(Reporter& target) : target_(target) {}
  void Show(const Report& report) override {
    ++count_;
    target_.Show(report);
  }
  int count() const { return count_; }

 private:
  Reporter& target_;
  std::atomic<int> count_{0};
};

class ReporterScope {
 public:
  ReporterScope(MidiContext& ctx, Reporter& replacement) : ctx_(ctx), saved_(ctx.reporter) {
    ctx.reporter = &replacement;
  }
  ~ReporterScope() { ctx_.reporter = saved_; }
  ReporterScope(const ReporterScope&) = delete;
  ReporterScope& operator=(const ReporterScope&) = delete;

 private:
  MidiContext& ctx_;
  Reporter* saved_;
};

void ShowNotMidi(MidiContext& ctx) {
  ShowLibraryError(*ctx.reporter, LibraryModule::MDLD, code::kMdldNotMidi, msg::kNotMidiFile);
}

// Bytes 8-9 behind an optional MacBinary header: 0, 1, or -1 for anything else.
int DetectFormat(Bytes file) {
  const Bytes image = SkipMacBinary(file);
  if (image.size() < kHeaderBytes) return -1;
  const uint32_t format = Be16(image, 8);
  return format <= 1 ? static_cast<int>(format) : -1;
}

bool AcceptDivision(MidiContext& ctx, int32_t division) {
  if (IsUsableDivision(division)) return true;
  ShowNotMidi(ctx);
  return false;
}

bool HasEvents(const MidiFormat1Data& song) {
  return std::any_of(song.tracks.begin(), song.tracks.end(),
                     [](const auto& t) { return t && !t->events.empty(); });
}

// Null when the header is not that of a format-0 file with one track.
std::unique_ptr<MidiFormat0Data> ReadFormat0(MidiContext& ctx, Bytes file) {
  const Bytes image = SkipMacBinary(file.first(std::min<size_t>(file.size(), kSongCapacity)));
  if (image.size() < kHeaderBytes || !TagAt(image, 0, "MThd") || Be16(image, 8) != 0 ||
      Be16(image, 10) != 1) {
    return nullptr;
  }
  auto song = std::make_unique<MidiFormat0Data>();
  song->length = static_cast<int32_t>(image.size());
  song->division = static_cast<int32_t>(Be16(image, 12));
  if (!AcceptDivision(ctx, song->division)) return nullptr;
  const int64_t pos = SkipForeignChunks(image, FirstChunkOffset(image));
  song->track = std::make_unique<MidiTrack>();
  song->pos = static_cast<int32_t>(pos + ReadTrackChunk(ctx, *song->track, image, pos));
  song->state = kSongEvents;
  EventsToNotes(ctx, *song->track);
  song->state = kSongNotes;
  return song;
}

// Null when the header is not that of a format-1 file.
std::unique_ptr<MidiFormat1Data> ReadFormat1(MidiContext& ctx, Bytes file) {
  auto song = std::make_unique<MidiFormat1Data>();
  if (file.size() > static_cast<size_t>(song->capacity)) {
    ShowM1dtError(*ctx.reporter, code::kM1dtTooLarge);
    return song;  // no tracks: a failed load
  }
  const Bytes image = SkipMacBinary(file);
  if (image.size() < kHeaderBytes || !TagAt(image, 0, "MThd")) {
    ShowM1dtError(*ctx.reporter, code::kM1dtNotMidi);
    return nullptr;
  }
  if (Be16(image, 8) != 1) {
    ShowM1dtError(*ctx.reporter, code::kM1dtNotFormat1);
    return nullptr;
  }
  uint32_t declared = Be16(image, 10);
  if (declared >= static_cast<uint32_t>(kMaxFormat1Tracks)) {
    ShowM1dtError(*ctx.reporter, code::kM1dtTrackCount);
    declared = kMaxFormat1Tracks;
  }
  song->division = static_cast<int32_t>(Be16(image, 12));
  if (!AcceptDivision(ctx, song->division)) return nullptr;
  song->length = static_cast<int32_t>(image.size());

  int64_t pos = FirstChunkOffset(image);
  for (uint32_t i = 0; i < declared; ++i) {
    pos = SkipForeignChunks(image, pos);
    if (pos >= static_cast<int64_t>(image.size())) {
      ShowLibraryError(*ctx.reporter, LibraryModule::M1DT, code::kM1dtFallback,
                       msg::kFormat1Fallback);
      break;
    }
    auto track = std::make_unique<MidiTrack>();
    pos += ReadTrackChunk(ctx, *track, image, pos);
    song->tracks.push_back(std::move(track));
  }
  song->pos = static_cast<int32_t>(std::min<int64_t>(pos, song->length));
  song->trackCount = static_cast<int32_t>(song->tracks.size());
  song->state = kSongEvents;
  for (auto& track : song->tracks) EventsToNotes(ctx, *track);
  song->state = kSongNotes;
  return song;
}

// Every song gets a master volume, unless one of its tracks sets it already.
void CompleteMasterVolume(MidiContext& ctx, MidiFormat1Data& song) {
  if (song.tracks.empty()) return;  // there is no track to put it on
  bool found = false;
  for (auto& track : song.tracks) {
    if (FindMasterVolume(ctx, *track) < 0) continue;
    if (found) ShowM1dtError(*ctx.reporter, code::kM1dtMasterVolumeTwice);
    found = true;
  }
  if (found) return;
  MidiTrack* target = song.tracks.front().get();
  for (auto& track : song.tracks) {
    const bool hasChannelEvent =
        std::any_of(track->events.begin(), track->events.end(), [](const MidiEvent& e) {
          return e.channel != kNoChannel && e.status != st::kSysEx && e.status != st::kEscape;
        });
    if (hasChannelEvent) {
      target = track.get();
      break;
    }
  }
  PrependMasterVolume(ctx, *target);
}

// Reads the file image into loader.multiTrack; false when no song came of it.
bool LoadImage(MidiContext& ctx, MidiLoader& loader) {
  const Bytes file(loader.fileBytes);
  switch (DetectFormat(file)) {
    case 0: {
      std::unique_ptr<MidiFormat0Data> song = ReadFormat0(ctx, file);
      if (!song || song->track->events.empty()) return false;
      loader.multiTrack = SplitByChannel(ctx, *song);
      return loader.multiTrack != nullptr;
    }
    case 1: {
      std::unique_ptr<MidiFormat1Data> song = ReadFormat1(ctx, file);
      if (!song || song->trackCount == 0 || !HasEvents(*song)) return false;
      CompleteMasterVolume(ctx, *song);
      loader.multiTrack = std::move(song);
      return true;
    }
    default:
      ShowNotMidi(ctx);
      return false;
  }
}

// Loads loader.fileBytes; a failed load ends with fileLength 0 and has said why.
void LoadLoaderBytes(MidiContext& ctx, MidiLoader& loader, const CountingReporter& counter) {
  if (LoadImage(ctx, loader)) return;
  loader.fileLength = 0;
  loader.multiTrack.reset();
  if (counter.count() == 0) ShowNotMidi(ctx);
}

}  // namespace

int64_t ReadTrackChunk(MidiContext& ctx, MidiTrack& track, std::span<const uint8_t> image,
                       int64_t pos) {
  track.capacity = kTrackCapacity;
  track.length = 0;
  track.pos = 0;
  track.bytes.clear();
  track.events.clear();
  // A chunk that cannot be read leaves a track without events in events form, which the
  // following steps treat like any other empty track.
  track.state = ts::kEvents;
  ctx.decoder.ResetShowOnce();  // also for a chunk that cannot be read

  const auto size = static_cast<int64_t>(image.size());
  if (pos < 0 || pos > size || !IsTrackTag(image, static_cast<size_t>(pos))) {
    ShowMdtkError(*ctx.reporter, code::kMdtkNotMidi);
    return 0;
  }
  const int64_t available = size - pos;
  const int64_t length =
      available < static_cast<int64_t>(kChunkHeaderBytes)
          ? available + 1
          : static_cast<int64_t>(kChunkHeaderBytes) + Be32(image, static_cast<size_t>(pos) + 4);
  if (length > available || length > track.capacity) {
    ShowMdtkError(*ctx.reporter, code::kMdtkInternal);
    // The chunk runs to the end of what was read: nothing after it can be a chunk.
    return available;
  }
  const auto start = image.begin() + static_cast<ptrdiff_t>(pos);
  track.bytes.assign(start, start + static_cast<ptrdiff_t>(length));
  track.length = static_cast<int32_t>(length);
  track.pos = static_cast<int32_t>(kChunkHeaderBytes);
  track.state = ts::kRaw;
  DecodeTrackEvents(ctx, track);
  return length;
}

std::optional<SmfTracks> ReadTrackChunks(MidiContext& ctx, std::span<const uint8_t> file) {
  const Bytes image = SkipMacBinary(file);
  if (image.size() < kHeaderBytes || !TagAt(image, 0, "MThd")) return std::nullopt;
  SmfTracks read;
  read.division = static_cast<int32_t>(Be16(image, 12));
  const auto size = static_cast<int64_t>(image.size());
  int64_t pos = FirstChunkOffset(image);
  for (;;) {
    pos = SkipForeignChunks(image, pos);
    if (pos + static_cast<int64_t>(kChunkHeaderBytes) > size) break;
    auto track = std::make_unique<MidiTrack>();
    const int64_t used = ReadTrackChunk(ctx, *track, image, pos);
    if (used <= 0) break;
    read.tracks.push_back(std::move(track));
    pos += used;
  }
  if (read.tracks.empty()) return std::nullopt;
  return read;
}

std::unique_ptr<MidiFormat1Data> SplitByChannel(MidiContext& ctx, const MidiFormat0Data& song) {
  if (song.state != kSongNotes || !song.track || song.track->state != ts::kNotes) {
    ShowM1dtError(*ctx.reporter, code::kM1dtInternal);
    return nullptr;
  }
  auto multi = std::make_unique<MidiFormat1Data>();
  multi->division = song.division;
  for (int k = 0; k < kSplitTrackCount; ++k) {
    auto track = std::make_unique<MidiTrack>();
    track->state = ts::kNotes;
    multi->tracks.push_back(std::move(track));
  }
  multi->trackCount = kSplitTrackCount;

  std::array<int64_t, kSplitTrackCount> elapsed{};
  for (const MidiEvent& e : song.track->events) {
    for (int64_t& t : elapsed) t += e.delta;
    if (e.IsEndOfTrack()) {
      for (int k = 0; k < kSplitTrackCount; ++k) {
        MidiTrack& track = *multi->tracks[static_cast<size_t>(k)];
        if (!track.events.empty() && track.events.back().IsEndOfTrack()) continue;
        MidiEvent eot;
        eot.status = st::kMeta;
        eot.kind = meta::kEndOfTrack;
        eot.channel = kNoChannel;
        eot.delta = ToDelta(elapsed[static_cast<size_t>(k)]);
        AppendEvent(ctx, track, std::move(eot));
      }
      elapsed.fill(0);
      continue;
    }
    // Track 0: meta events; 1: channel 0 and channel-less system messages; k: channel k-1.
    size_t k = 1;
    if (e.channel >= 0 && e.channel <= 15) {
      k = static_cast<size_t>(e.channel) + 1;
    } else if (e.status == st::kMeta) {
      k = 0;
    }
    MidiEvent copy = e;
    copy.delta = ToDelta(elapsed[k]);
    elapsed[k] = 0;
    AppendEvent(ctx, *multi->tracks[k], std::move(copy));
  }
  multi->state = kSongNotes;
  return multi;
}

MidiLoader LoadSmfFromBytes(MidiContext& ctx, std::span<const uint8_t> bytes,
                            const std::string& name) {
  MidiLoader loader;
  loader.path = name;
  CountingReporter counter(*ctx.reporter);
  ReporterScope scope(ctx, counter);
  if (static_cast<int64_t>(bytes.size()) > kMaxSmfFileBytes) {
    ShowLibraryError(*ctx.reporter, LibraryModule::MDLD, code::kMdldTooLarge, msg::kLoadTooLarge);
    return loader;
  }
  loader.fileLength = static_cast<int64_t>(bytes.size());
  loader.fileBytes.assign(bytes.begin(), bytes.end());
  LoadLoaderBytes(ctx, loader, counter);
  return loader;
}

MidiLoader LoadSmf(MidiContext& ctx, const std::string& path, const FileOpenHook& hook) {
  MidiLoader loader;
  loader.path = path;
  if (path.find('*') != std::string::npos && hook) {
    std::optional<std::string> chosen = hook(path);
    if (!chosen) return loader;  // the user cancelled
    loader.path = *chosen;
  }
  CountingReporter counter(*ctx.reporter);
  ReporterScope scope(ctx, counter);

  // Pipes are read to their end as well; their size is known only then.
  FileContents file = ReadWholeFile(loader.path, static_cast<size_t>(kMaxSmfFileBytes));
  switch (file.status) {
    case ReadStatus::kOk:
      break;
    case ReadStatus::kCannotOpen:
      // The front ends name the song the message belongs to; the text does not repeat it.
      ctx.reporter->ShowText(std::string(msg::kMidiOpenFailed));
      return loader;
    case ReadStatus::kTooLarge:
      // A file too large for a song is most often no song at all (a WAV, say): say so.
      if (!TagAt(SkipMacBinary(Bytes(file.bytes.data(), file.bytes.size())), 0, "MThd")) {
        ShowNotMidi(ctx);
        return loader;
      }
      ShowLibraryError(*ctx.reporter, LibraryModule::MDLD, code::kMdldTooLarge, msg::kLoadTooLarge);
      return loader;
    case ReadStatus::kReadFailed:
      ShowLibraryError(*ctx.reporter, LibraryModule::GENE, code::kGeneFileOpen,
                       msg::kFileOpenFailed);
      return loader;
    case ReadStatus::kOutOfMemory:
      ShowLibraryError(*ctx.reporter, LibraryModule::GENE, code::kGeneOutOfMemory,
                       msg::kOutOfMemory);
      return loader;
  }
  loader.fileLength = static_cast<int64_t>(file.bytes.size());
  loader.fileBytes = std::move(file.bytes);
  LoadLoaderBytes(ctx, loader, counter);
  return loader;
}

void PrepareSong(MidiContext& ctx, MidiLoader& loader) {
  if (!loader.multiTrack || loader.multiTrack->state != kSongNotes) {
    ShowLibraryError(*ctx.reporter, LibraryModule::MDLD, code::kMdldInternal, msg::kLoaderInternal);
    return;
  }
  MidiFormat1Data& multi = *loader.multiTrack;
  auto song = std::make_unique<MidiFormat0Data>();
  song->state = kSongNotes;
  song->division = multi.division;
  song->track = std::make_unique<MidiTrack>();
  song->track->state = ts::kNotes;
  const auto count =
      std::min<size_t>(static_cast<size_t>(std::max(multi.trackCount, 0)), multi.tracks.size());
  // Last to first, so that at equal times a lower-numbered track's events come first.
  for (size_t i = count; i-- > 0;) {
    if (multi.tracks[i]) MergeTrackInto(ctx, 1, *multi.tracks[i], *song->track);
  }
  DestroySong(ctx, loader.multiTrack);
  loader.multiTrack.reset();
  loader.song = std::move(song);
}

}  // namespace velorna
