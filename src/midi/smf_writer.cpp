#include "midi/smf_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "base/library_error.h"
#include "midi/note_pairing.h"
#include "midi/smf_reader.h"
#include "midi/song_edit.h"
#include "midi/track_encoder.h"

namespace velorna {

namespace {

constexpr int32_t kHeaderBytes = 14;

using Sink = std::function<bool(std::span<const uint8_t>)>;

void ReportInternal(MidiContext& ctx) {
  ShowLibraryError(*ctx.reporter, LibraryModule::M0DT, code::kM0dtInternal, msg::kFormat0Internal);
}

// State 1 -> 0: the file image in `bytes`, the track gone. False (song untouched but for
// the within-tick order) when the track cannot be encoded.
bool Pack(MidiContext& ctx, MidiFormat0Data& song) {
  if (!song.track || song.capacity < kHeaderBytes) {
    ReportInternal(ctx);
    return false;
  }
  MidiTrack& track = *song.track;
  SetupEventsFirst(ctx, track);
  SysExFirst(track);
  NoteOffsBeforeNoteOns(ctx, track);
  // The chunk has to fit behind the header in the song's image.
  track.capacity = std::min(track.capacity, song.capacity - kHeaderBytes);
  EncodeTrack(ctx, track);
  if (track.state != ts::kRaw) return false;

  song.bytes.assign(static_cast<size_t>(song.capacity), 0);
  const auto division = static_cast<uint16_t>(song.division);
  const uint8_t header[kHeaderBytes] = {'M',
                                        'T',
                                        'h',
                                        'd',
                                        0,
                                        0,
                                        0,
                                        6,
                                        0,
                                        0,
                                        0,
                                        1,
                                        static_cast<uint8_t>(division >> 8),
                                        static_cast<uint8_t>(division)};
  std::memcpy(song.bytes.data(), header, sizeof header);
  song.pos = kHeaderBytes;
  std::memcpy(song.bytes.data() + kHeaderBytes, track.bytes.data(),
              static_cast<size_t>(track.length));
  song.length = kHeaderBytes + track.length;
  DestroyTrack(ctx, track);
  song.track.reset();
  song.state = kSongImage;
  return true;
}

bool WriteSong(MidiContext& ctx, MidiFormat0Data& song, const Sink& sink) {
  switch (song.state) {
    case kSongImage: {
      const size_t n = std::min(static_cast<size_t>(std::max(song.length, 0)), song.bytes.size());
      return sink({song.bytes.data(), n});
    }
    case kSongEvents: {
      if (!Pack(ctx, song)) return false;
      const bool written = WriteSong(ctx, song, sink);
      // The song is rebuilt from what was written, whether or not it reached its target.
      auto track = std::make_unique<MidiTrack>();
      const std::span<const uint8_t> image(song.bytes.data(), static_cast<size_t>(song.length));
      song.pos += static_cast<int32_t>(ReadTrackChunk(ctx, *track, image, song.pos));
      song.track = std::move(track);
      song.state = kSongEvents;
      return written;
    }
    case kSongNotes: {
      if (!song.track) {
        ReportInternal(ctx);
        return false;
      }
      NotesToEvents(ctx, *song.track);
      song.state = kSongEvents;
      const bool written = WriteSong(ctx, song, sink);
      if (song.state != kSongEvents || !song.track) {
        ReportInternal(ctx);
        return written;
      }
      EventsToNotes(ctx, *song.track);
      song.state = kSongNotes;
      return written;
    }
    default:
      ReportInternal(ctx);
      return false;
  }
}

}  // namespace

bool WriteSmf(MidiContext& ctx, MidiFormat0Data& song, const std::string& path) {
  return WriteSong(ctx, song, [&](std::span<const uint8_t> bytes) {
    return WriteSmfFile(*ctx.reporter, path, bytes) == 1;
  });
}

bool WriteSmfToMemory(MidiContext& ctx, MidiFormat0Data& song, std::vector<uint8_t>& out) {
  return WriteSong(ctx, song, [&](std::span<const uint8_t> bytes) {
    out.assign(bytes.begin(), bytes.end());
    return true;
  });
}

int WriteSmfFile(Reporter& reporter, const std::string& path, std::span<const uint8_t> bytes) {
  const auto fail = [&] {
    ShowLibraryError(reporter, LibraryModule::GENE, code::kGeneFileOpen, msg::kFileOpenFailed);
    return 0;
  };
  std::FILE* raw = std::fopen(path.c_str(), "wb");
  if (raw == nullptr) return fail();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(raw, &std::fclose);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  // A short file must not pass for a complete one.
  if (!written || std::fclose(file.release()) != 0) {
    std::remove(path.c_str());
    return fail();
  }
  return 1;
}

}  // namespace velorna
