#include "support/tone_font.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace velorna::test {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kSampleRate = 44100;
constexpr int kGuardSamples = 46;  // silence every sample must be followed by
constexpr int kNameBytes = 20;
constexpr size_t kSampleHeaderBytes = 46;
constexpr size_t kModulatorBytes = 10;
constexpr uint16_t kVersionMajor = 2, kVersionMinor = 1;
constexpr uint16_t kCompressedVersionMajor = 3;
// Generators (SoundFont 2.01, section 8.1.2).
constexpr uint16_t kGenInstrument = 41;
constexpr uint16_t kGenSampleId = 53;
constexpr uint16_t kGenSampleModes = 54;
constexpr uint16_t kGenScaleTune = 56;
constexpr uint16_t kGenRootKey = 58;
constexpr uint16_t kLoopContinuously = 1;
constexpr uint16_t kMonoSample = 1;
constexpr uint16_t kVorbisSample = 0x10;
constexpr double kVorbisQuality = 1.0;  // libsndfile's scale: 1 is the best

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutTag(Bytes& b, const char* tag) {
  b.insert(b.end(), tag, tag + 4);
}
void PutName(Bytes& b, const std::string& name) {
  std::string padded = name;
  padded.resize(kNameBytes, '\0');
  b.insert(b.end(), padded.begin(), padded.end());
}
Bytes Chunk(const char* tag, const Bytes& body) {
  Bytes b;
  PutTag(b, tag);
  Put32(b, static_cast<uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2 != 0) b.push_back(0);
  return b;
}
// A zero-terminated string, padded to an even size as the format's text chunks must be.
Bytes Text(const std::string& text) {
  Bytes b(text.begin(), text.end());
  b.push_back(0);
  if (b.size() % 2 != 0) b.push_back(0);
  return b;
}
Bytes List(const char* type, const std::vector<Bytes>& chunks) {
  Bytes body;
  PutTag(body, type);
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  return Chunk("LIST", body);
}
Bytes Generators(std::initializer_list<std::pair<uint16_t, uint16_t>> gens) {
  Bytes b;
  for (const auto& [oper, amount] : gens) {
    Put16(b, oper);
    Put16(b, amount);
  }
  Put32(b, 0);  // terminal record
  return b;
}
// A preset header: name, preset and bank 0, its first bag, and three unused fields.
void PutPresetHeader(Bytes& b, const std::string& name, uint16_t firstBag) {
  PutName(b, name);
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, firstBag);
  for (int i = 0; i < 3; ++i) Put32(b, 0);
}
// Two bags (the zone and the terminal one), each as (generator index, modulator index).
Bytes Bags(uint16_t generators) {
  Bytes b;
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, generators);
  Put16(b, 0);
  return b;
}

// The samples as one Ogg Vorbis stream, made by libsndfile in memory as SoundFont 3 files
// are made; nothing when it cannot encode.
struct MemoryFile {
  Bytes bytes;
  sf_count_t at = 0;
};
std::optional<Bytes> EncodeVorbis(const std::vector<double>& frames) {
  SF_VIRTUAL_IO io{};
  io.get_filelen = [](void* f) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(f)->bytes.size());
  };
  io.seek = [](sf_count_t offset, int whence, void* f) {
    auto* m = static_cast<MemoryFile*>(f);
    const sf_count_t base = whence == SEEK_SET   ? 0
                            : whence == SEEK_CUR ? m->at
                                                 : static_cast<sf_count_t>(m->bytes.size());
    m->at = std::max<sf_count_t>(0, base + offset);
    return m->at;
  };
  io.read = [](void* ptr, sf_count_t count, void* f) {
    auto* m = static_cast<MemoryFile*>(f);
    const auto size = static_cast<sf_count_t>(m->bytes.size());
    const sf_count_t n = std::clamp<sf_count_t>(size - m->at, 0, count);
    std::memcpy(ptr, m->bytes.data() + m->at, static_cast<size_t>(n));
    m->at += n;
    return n;
  };
  io.write = [](const void* ptr, sf_count_t count, void* f) {
    auto* m = static_cast<MemoryFile*>(f);
    const auto end = static_cast<size_t>(m->at + count);
    if (m->bytes.size() < end) m->bytes.resize(end);
    std::memcpy(m->bytes.data() + m->at, ptr, static_cast<size_t>(count));
    m->at += count;
    return count;
  };
  io.tell = [](void* f) { return static_cast<MemoryFile*>(f)->at; };
  MemoryFile file;
  SF_INFO info{};
  info.samplerate = kSampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
  SNDFILE* out = sf_open_virtual(&io, SFM_WRITE, &info, &file);
  if (!out) return std::nullopt;
  double quality = kVorbisQuality;
  sf_command(out, SFC_SET_VBR_ENCODING_QUALITY, &quality, sizeof quality);
  const auto count = static_cast<sf_count_t>(frames.size());
  const bool written = sf_write_double(out, frames.data(), count) == count;
  if (sf_close(out) != 0 || !written) return std::nullopt;
  return std::move(file.bytes);
}

}  // namespace

bool WriteToneFont(const std::filesystem::path& path, const ToneFont& tone) {
  const int frames = tone.periodSamples * tone.periods;
  std::vector<double> sine;
  for (int i = 0; i < frames + kGuardSamples; ++i) {
    sine.push_back(i < frames
                       ? tone.amplitude * std::sin(2.0 * std::numbers::pi * i / tone.periodSamples)
                       : 0.0);
  }
  // A compressed sample's start and end count bytes of its stream (the end one past its
  // last) and its loop counts frames from its start; an uncompressed one counts frames.
  Bytes samples;
  if (tone.compressed) {
    sine.resize(static_cast<size_t>(frames));
    const std::optional<Bytes> vorbis = EncodeVorbis(sine);
    if (!vorbis) return false;
    samples = *vorbis;
  } else {
    for (const double x : sine) {
      Put16(samples, static_cast<uint16_t>(static_cast<int16_t>(std::lround(x * 32767.0))));
    }
  }
  const auto sampleEnd =
      static_cast<uint32_t>(tone.compressed ? samples.size() : static_cast<size_t>(frames));

  Bytes phdr;
  PutPresetHeader(phdr, "tone", 0);
  PutPresetHeader(phdr, "EOP", 1);

  Bytes inst;
  PutName(inst, "tone");
  Put16(inst, 0);
  PutName(inst, "EOI");
  Put16(inst, 1);

  Bytes shdr;
  PutName(shdr, "sine");
  Put32(shdr, 0);
  Put32(shdr, sampleEnd);
  Put32(shdr, static_cast<uint32_t>(tone.periodSamples));
  Put32(shdr, static_cast<uint32_t>(frames - tone.periodSamples));
  Put32(shdr, kSampleRate);
  shdr.push_back(static_cast<uint8_t>(tone.rootKey));
  shdr.push_back(static_cast<uint8_t>(static_cast<int8_t>(tone.correction)));
  Put16(shdr, 0);  // link
  Put16(shdr, tone.compressed ? kMonoSample | kVorbisSample : kMonoSample);
  PutName(shdr, "EOS");
  shdr.resize(2 * kSampleHeaderBytes, 0);

  const Bytes noModulators(kModulatorBytes, 0);  // only the terminal record
  Bytes version;
  Put16(version, tone.compressed ? kCompressedVersionMajor : kVersionMajor);
  Put16(version, kVersionMinor);
  const Bytes sfbk = [&] {
    Bytes body;
    PutTag(body, "sfbk");
    for (const Bytes& list :
         {List("INFO", {Chunk("ifil", version), Chunk("isng", Text("EMU8000")),
                        Chunk("INAM", Text("tone"))}),
          List("sdta", {Chunk("smpl", samples)}),
          List("pdta",
               {Chunk("phdr", phdr), Chunk("pbag", Bags(1)), Chunk("pmod", noModulators),
                Chunk("pgen", Generators({{kGenInstrument, 0}})), Chunk("inst", inst),
                Chunk("ibag", Bags(4)), Chunk("imod", noModulators),
                Chunk("igen", Generators({{kGenRootKey, static_cast<uint16_t>(tone.rootKey)},
                                          {kGenSampleModes, kLoopContinuously},
                                          {kGenScaleTune, static_cast<uint16_t>(tone.scaleTune)},
                                          {kGenSampleId, 0}})),
                Chunk("shdr", shdr)})}) {
      body.insert(body.end(), list.begin(), list.end());
    }
    return Chunk("RIFF", body);
  }();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(sfbk.data()), static_cast<std::streamsize>(sfbk.size()));
  return static_cast<bool>(out);
}

}  // namespace velorna::test
