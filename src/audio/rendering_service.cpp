#include "audio/rendering_service.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "audio/aiff_data.h"
#include "audio/aiff_writer.h"
#include "audio/audio_messages.h"
#include "audio/render_timing.h"
#include "base/file_io.h"
#include "base/limits.h"
#include "midi/smf_reader.h"

namespace velorna {
namespace {

constexpr const char* kSoundFontFolder = "/usr/share/sounds/sf2/";
constexpr std::array<const char*, 3> kDefaultSoundFonts = {"FluidR3_GM.sf2", "default-GM.sf2",
                                                           "TimGM6mb.sf2"};
// A MIDI file's tracks as the file holds them.
std::optional<SmfTracks> ReadMidiFile(MidiContext& ctx, const std::string& path) {
  const int64_t size = QueryFileSize(*ctx.reporter, path);
  if (size <= 0 || size > kMaxSmfFileBytes) return std::nullopt;
  std::vector<uint8_t> file(static_cast<size_t>(size));
  if (ReadFileToBuffer(*ctx.reporter, path, file) != size) return std::nullopt;
  return ReadTrackChunks(ctx, file);
}

}  // namespace

std::string DefaultSoundFontPath() {
  for (const char* name : kDefaultSoundFonts) {
    const std::string path = std::string(kSoundFontFolder) + name;
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) return path;
  }
  return std::string(kSoundFontFolder) + kDefaultSoundFonts[0];
}

SoundFontAccess CheckSoundFontAccess(const std::string& soundFont) {
  const auto opens = [](const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char first = 0;
    const ssize_t got = ::read(fd, &first, 1);  // a folder opens, but does not read
    const int error = got < 0 ? errno : 0;
    ::close(fd);
    return error;
  };
  if (!soundFont.empty()) return {soundFont, opens(soundFont)};
  for (const char* name : kDefaultSoundFonts) {
    const std::string path = std::string(kSoundFontFolder) + name;
    if (opens(path) == 0) return {path, 0};
  }
  const std::string fallback = DefaultSoundFontPath();
  return {fallback, opens(fallback)};
}

std::unique_ptr<LoadedSoundFont> ResolveSoundFont(Reporter& reporter,
                                                  const std::string& soundFont) {
  std::vector<std::string> candidates;
  if (!soundFont.empty()) {
    candidates.push_back(soundFont);
  } else {
    for (const char* name : kDefaultSoundFonts) {
      candidates.push_back(std::string(kSoundFontFolder) + name);
    }
  }
  for (const std::string& path : candidates) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) continue;
    if (auto font = LoadSoundFont(path)) return font;
  }
  reporter.ShowText(
      audio_msg::NoSynthesizer(soundFont.empty() ? DefaultSoundFontPath() : soundFont));
  return nullptr;
}

std::string AiffPathFor(const std::string& wavPath) {
  const size_t slash = wavPath.find_last_of('/');
  const size_t dot = wavPath.find_last_of('.');
  const bool inName = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (inName ? wavPath.substr(0, dot) : wavPath) + ".aiff";
}

namespace {

// Reads and times the MIDI file, then renders it into `sink`. "エラー発生 PATH" and false
// when it can't be read or rendered; false alone after a stop.
template <typename Sink>
bool RenderMidiFile(const LoadedSoundFont& font, Reporter& reporter, const std::string& midiPath,
                    const Sink& sink, const RenderOptions& options) {
  const auto fail = [&] {
    reporter.ShowText(audio_msg::kRenderFailed + midiPath);
    return false;
  };

  // The file is the job's own, already checked when it was written.
  SilentReporter quiet;
  MidiContext ctx(quiet);
  const std::optional<SmfTracks> song = ReadMidiFile(ctx, midiPath);
  if (!song) return fail();
  std::vector<const MidiTrack*> tracks;
  for (const auto& t : song->tracks) tracks.push_back(t.get());
  const auto events = TimeTrackEvents(tracks, song->division, options.rates.output);
  if (!events) return fail();
  if (RenderTimedEvents(font, *events, sink, options)) return true;
  const bool stopped = options.stop != nullptr && options.stop->load() != 0;
  return stopped ? false : fail();
}

}  // namespace

bool RenderMidiToWave(const LoadedSoundFont& font, Reporter& reporter, const std::string& midiPath,
                      const std::string& wavPath, const RenderOptions& options) {
  // Written as it is rendered: a note held for an hour is never held in memory.
  const std::string aiffPath = AiffPathFor(wavPath);
  AiffStreamWriter aiff(aiffPath, static_cast<uint32_t>(options.rates.output));
  const RenderSink sink = [&](int64_t frame, std::span<const int16_t> block) {
    return aiff.Append(frame, block);
  };
  if (!RenderMidiFile(font, reporter, midiPath, sink, options)) return false;
  if (!aiff.Close()) {
    reporter.ShowText(audio_msg::kRenderFailed + midiPath);
    return false;
  }
  std::remove(wavPath.c_str());
  return ConvertAiffToWave(reporter, aiffPath, wavPath);
}

bool RenderMidiToSink(const LoadedSoundFont& font, Reporter& reporter, const std::string& midiPath,
                      const FloatRenderSink& sink, const RenderOptions& options) {
  return RenderMidiFile(font, reporter, midiPath, sink, options);
}

}  // namespace velorna
