#include "support/tone_font.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
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
// Generators (SoundFont 2.01, section 8.1.2).
constexpr uint16_t kGenInstrument = 41;
constexpr uint16_t kGenSampleId = 53;
constexpr uint16_t kGenSampleModes = 54;
constexpr uint16_t kGenScaleTune = 56;
constexpr uint16_t kGenRootKey = 58;
constexpr uint16_t kLoopContinuously = 1;
constexpr uint16_t kMonoSample = 1;

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

}  // namespace

bool WriteToneFont(const std::filesystem::path& path, const ToneFont& tone) {
  const int frames = tone.periodSamples * tone.periods;
  Bytes samples;
  for (int i = 0; i < frames + kGuardSamples; ++i) {
    const double x =
        i < frames ? tone.amplitude * std::sin(2.0 * std::numbers::pi * i / tone.periodSamples)
                   : 0.0;
    Put16(samples, static_cast<uint16_t>(static_cast<int16_t>(std::lround(x * 32767.0))));
  }

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
  Put32(shdr, static_cast<uint32_t>(frames));
  Put32(shdr, static_cast<uint32_t>(tone.periodSamples));
  Put32(shdr, static_cast<uint32_t>(frames - tone.periodSamples));
  Put32(shdr, kSampleRate);
  shdr.push_back(static_cast<uint8_t>(tone.rootKey));
  shdr.push_back(static_cast<uint8_t>(static_cast<int8_t>(tone.correction)));
  Put16(shdr, 0);  // link
  Put16(shdr, kMonoSample);
  PutName(shdr, "EOS");
  shdr.resize(2 * kSampleHeaderBytes, 0);

  const Bytes noModulators(kModulatorBytes, 0);  // only the terminal record
  Bytes version;
  Put16(version, kVersionMajor);
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
