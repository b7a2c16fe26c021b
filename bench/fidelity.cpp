// The single-pass yardstick for bench/fidelity.sh.
//
//   fidelity strip SONG.mid OUT.mid
//     Writes the song with every reverb and chorus send at 0: at its start, and again after
//     anything that resets a channel (controller 121, system exclusive), each channel gets the
//     SoundFont NRPNs that lower its reverb and chorus send generators by more than any preset
//     or controller can raise them. Both sides then play the very same file.
//   fidelity reference [--dry] SOUNDFONT SONG.mid OUT.wav
//     Renders the song in one pass with FluidSynth, its events placed on Velorna's 64-sample
//     grid, with FluidSynth's own reverb and chorus (or none with --dry), until its sound has
//     died away (at most 10 s past its last event); writes a 16-bit WAV.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "audio/render_synth.h"
#include "audio/render_timing.h"
#include "audio/synth_renderer.h"
#include "audio/wave_data.h"
#include "base/limits.h"
#include "base/reporter.h"
#include "midi/smf_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMidiHeaderBytes = 14;
constexpr size_t kChunkHeaderBytes = 8;
constexpr int kChannelCount = 16;
// SoundFont NRPN: controller 99 = 120 selects generators, 98 the generator, 6/38 its offset
// around 8192 (data 0 gives the largest cut).
constexpr uint8_t kControl = 0xB0;
constexpr uint8_t kNrpnMsb = 99, kNrpnLsb = 98, kDataMsb = 6, kDataLsb = 38;
constexpr uint8_t kSoundFontNrpn = 120, kNrpnNull = 127;
constexpr uint8_t kChorusSendGen = 15, kReverbSendGen = 16;
constexpr uint8_t kResetAllControllers = 121;
// After the last event the reference runs until a second of silence, for at most as long as
// a whole ending may run past it.
constexpr int64_t kTailCapFrames = 10 * velorna::kSampleRate;
constexpr int64_t kSilenceToStop = velorna::kSampleRate;
constexpr float kHalfStep = 0.5f / 32768.0f;

class StderrReporter final : public velorna::Reporter {
 public:
  void Show(const velorna::Report& report) override {
    std::fprintf(stderr, "%s\n", report.text.c_str());
  }
};

std::optional<Bytes> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

uint32_t Be32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) |
         b[at + 3];
}

void PutBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

bool IsTrack(const Bytes& b, size_t at) {
  return at + kChunkHeaderBytes <= b.size() && b[at] == 'M' && b[at + 1] == 'T' &&
         b[at + 2] == 'r' && b[at + 3] == 'k';
}

// Calls visit(offset) for every chunk after the header, while it fits the file.
template <typename Visit>
bool ForEachChunk(const Bytes& file, Visit visit) {
  if (file.size() < kMidiHeaderBytes || Be32(file, 0) != 0x4D546864) return false;  // "MThd"
  size_t pos = kChunkHeaderBytes + Be32(file, 4);
  while (pos + kChunkHeaderBytes <= file.size()) {
    const size_t end = pos + kChunkHeaderBytes + Be32(file, pos + 4);
    if (end > file.size()) return false;
    visit(pos);
    pos = end;
  }
  return true;
}

uint32_t ReadVarLen(const Bytes& b, size_t& pos, size_t end) {
  uint32_t v = 0;
  while (pos < end) {
    const uint8_t c = b[pos++];
    v = (v << 7) | (c & 0x7F);
    if ((c & 0x80) == 0) break;
  }
  return v;
}

void PutVarLen(Bytes& out, uint32_t v) {
  Bytes rev{static_cast<uint8_t>(v & 0x7F)};
  while ((v >>= 7) != 0) rev.push_back(static_cast<uint8_t>(0x80 | (v & 0x7F)));
  out.insert(out.end(), rev.rbegin(), rev.rend());
}

void PutSendCuts(Bytes& out, int channel) {
  const auto status = static_cast<uint8_t>(kControl | channel);
  for (uint8_t gen : {kReverbSendGen, kChorusSendGen}) {
    for (const auto& [controller, value] : {std::pair{kNrpnMsb, kSoundFontNrpn},
                                            {kNrpnLsb, gen},
                                            {kDataLsb, uint8_t{0}},
                                            {kDataMsb, uint8_t{0}}}) {
      PutVarLen(out, 0);
      out.insert(out.end(), {status, controller, value});
    }
  }
  // Deselect, so that the song's own data entries go nowhere they did not go before.
  for (uint8_t controller : {kNrpnMsb, kNrpnLsb}) {
    PutVarLen(out, 0);
    out.insert(out.end(), {status, controller, kNrpnNull});
  }
}

// The events of one track chunk, every one written with its own status byte, with the cuts
// put in where they are needed.
std::optional<Bytes> StripTrack(const Bytes& b, size_t begin, size_t end, bool first) {
  Bytes out;
  if (first) {
    for (int ch = 0; ch < kChannelCount; ++ch) PutSendCuts(out, ch);
  }
  size_t pos = begin;
  uint8_t running = 0;
  while (pos < end) {
    const uint32_t delta = ReadVarLen(b, pos, end);
    if (pos >= end) break;
    uint8_t status = b[pos];
    if (status >= 0x80) {
      ++pos;
    } else {
      status = running;
    }
    PutVarLen(out, delta);
    out.push_back(status);
    if (status == 0xFF || status == 0xF0 || status == 0xF7) {
      const size_t from = pos;
      if (status == 0xFF) ++pos;  // meta type
      const uint32_t length = ReadVarLen(b, pos, end);
      if (pos + length > end) return std::nullopt;
      out.insert(out.end(), b.begin() + static_cast<ptrdiff_t>(from),
                 b.begin() + static_cast<ptrdiff_t>(pos + length));
      pos += length;
      if (status == 0xF0) {
        for (int ch = 0; ch < kChannelCount; ++ch) PutSendCuts(out, ch);
      }
      continue;
    }
    if (status < 0x80) return std::nullopt;  // data without a status
    running = status;
    const size_t dataBytes = (status & 0xE0) == 0xC0 ? 1 : 2;
    if (pos + dataBytes > end) return std::nullopt;
    out.insert(out.end(), b.begin() + static_cast<ptrdiff_t>(pos),
               b.begin() + static_cast<ptrdiff_t>(pos + dataBytes));
    const bool reset = (status & 0xF0) == kControl && b[pos] == kResetAllControllers;
    pos += dataBytes;
    if (reset) PutSendCuts(out, status & 0x0F);
  }
  return out;
}

int Strip(const std::string& in, const std::string& outPath) {
  const std::optional<Bytes> file = ReadFile(in);
  if (!file) return 1;
  Bytes out(file->begin(),
            file->begin() + static_cast<ptrdiff_t>(std::min(file->size(), kChunkHeaderBytes + 6)));
  bool first = true, ok = true;
  const bool walked = ForEachChunk(*file, [&](size_t pos) {
    const size_t begin = pos + kChunkHeaderBytes;
    const size_t end = begin + Be32(*file, pos + 4);
    if (!IsTrack(*file, pos)) return;
    const std::optional<Bytes> events = StripTrack(*file, begin, end, first);
    if (!events) {
      ok = false;
      return;
    }
    first = false;
    const size_t at = out.size();
    out.insert(out.end(), {'M', 'T', 'r', 'k', 0, 0, 0, 0});
    PutBe32(out, at + 4, static_cast<uint32_t>(events->size()));
    out.insert(out.end(), events->begin(), events->end());
  });
  if (!walked || !ok || first) return 1;
  PutBe32(out, 4, 6);  // the header as written: exactly its six bytes
  std::ofstream o(outPath, std::ios::binary);
  o.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
  return o ? 0 : 1;
}

// The song's events as the synthesizer gets them, on Velorna's grid.
std::optional<std::vector<velorna::TimedEvent>> TimedSong(const std::string& path) {
  const std::optional<Bytes> file = ReadFile(path);
  if (!file) return std::nullopt;
  velorna::SilentReporter quiet;
  velorna::MidiContext ctx(quiet);
  std::vector<velorna::MidiTrack> tracks;
  tracks.reserve(file->size() / kChunkHeaderBytes);
  if (!ForEachChunk(*file, [&](size_t pos) {
        if (!IsTrack(*file, pos)) return;
        tracks.emplace_back();
        (void)velorna::ReadTrackChunk(ctx, tracks.back(), *file, static_cast<int64_t>(pos));
      })) {
    return std::nullopt;
  }
  std::vector<const velorna::MidiTrack*> pointers;
  for (const auto& t : tracks) pointers.push_back(&t);
  const int32_t division = (file->at(12) << 8) | file->at(13);
  return velorna::TimeTrackEvents(pointers, division);
}

int Reference(bool dry, const std::string& soundFont, const std::string& song,
              const std::string& outPath) {
  const auto events = TimedSong(song);
  if (!events) {
    std::fprintf(stderr, "%s: not a song\n", song.c_str());
    return 1;
  }
  velorna::InstallSynthLog();
  velorna::FluidSettingsPtr settings = velorna::MakeRenderSettings();
  fluid_settings_t* s = settings.get();
  fluid_settings_setint(s, "synth.reverb.active", dry ? 0 : 1);
  fluid_settings_setint(s, "synth.chorus.active", dry ? 0 : 1);
  fluid_settings_setint(s, "synth.ladspa.active", 0);
  velorna::FluidSynthPtr synth = velorna::MakeRenderSynth(s);
  if (!synth || fluid_synth_sfload(synth.get(), soundFont.c_str(), 1) == FLUID_FAILED) {
    std::fprintf(stderr, "%s: no SoundFont\n", soundFont.c_str());
    return 1;
  }

  std::vector<int16_t> samples;
  std::vector<float> left(velorna::kBlockFrames), right(velorna::kBlockFrames);
  const int64_t lastEvent = events->empty() ? 0 : events->back().blockStart;
  int64_t silentSince = 0;
  size_t next = 0;
  for (int64_t pos = 0; pos < lastEvent + kTailCapFrames; pos += velorna::kBlockFrames) {
    while (next < events->size() && (*events)[next].blockStart <= pos) {
      velorna::SendEvent(synth.get(), (*events)[next++].message);
    }
    fluid_synth_write_float(synth.get(), velorna::kBlockFrames, left.data(), 0, 1, right.data(), 0,
                            1);
    bool audible = false;
    for (int i = 0; i < velorna::kBlockFrames; ++i) {
      audible |= std::fabs(left[i]) >= kHalfStep || std::fabs(right[i]) >= kHalfStep;
      samples.push_back(velorna::FloatToSample(left[i]));
      samples.push_back(velorna::FloatToSample(right[i]));
    }
    if (audible) silentSince = pos + velorna::kBlockFrames;
    if (pos >= lastEvent && pos - silentSince >= kSilenceToStop &&
        fluid_synth_get_active_voice_count(synth.get()) == 0) {
      break;
    }
  }
  samples.resize(static_cast<size_t>(silentSince) * velorna::kChannels);

  velorna::CWaveData wave;
  wave.formatTag = velorna::kWaveFormatPcm;
  wave.channels = velorna::kChannels;
  wave.sampleRate = velorna::kSampleRate;
  wave.bitsPerSample = 16;
  wave.blockAlign = wave.channels * 2;
  wave.byteRate = wave.sampleRate * wave.blockAlign;
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples.data());
  wave.samples.assign(bytes, bytes + samples.size() * sizeof(int16_t));
  StderrReporter reporter;
  return velorna::WriteWaveFile(reporter, outPath, wave) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "strip") return Strip(args[1], args[2]);
  if (args.size() >= 4 && args[0] == "reference") {
    const bool dry = args[1] == "--dry";
    if (args.size() == (dry ? 5u : 4u)) {
      const size_t at = dry ? 2 : 1;
      return Reference(dry, args[at], args[at + 1], args[at + 2]);
    }
  }
  std::fprintf(stderr,
               "usage: %s strip SONG.mid OUT.mid\n"
               "       %s reference [--dry] SOUNDFONT SONG.mid OUT.wav\n",
               argv[0], argv[0]);
  return 2;
}
