#include "audio/soundfont_pitch.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string_view>

#include "audio/byte_order.h"

namespace velorna {

namespace {

using audio_bytes::Le16;
using audio_bytes::Le32;

// The hydra's records (SoundFont 2.04, section 7); SoundFont 3 keeps them.
constexpr size_t kPresetHeaderBytes = 38;
constexpr size_t kBagBytes = 4;
constexpr size_t kGeneratorBytes = 4;
constexpr size_t kInstrumentBytes = 22;
constexpr size_t kSampleHeaderBytes = 46;
constexpr size_t kNameBytes = 20;
// A hydra bigger than this is no SoundFont a synthesizer would load whole either.
constexpr uint32_t kMaxHydraBytes = 64u << 20;

// Generators (section 8.1.2) that bear on a voice's pitch or choose its zone.
constexpr uint16_t kGenModLfoToPitch = 5;
constexpr uint16_t kGenVibLfoToPitch = 6;
constexpr uint16_t kGenModEnvToPitch = 7;
constexpr uint16_t kGenKeyRange = 43;
constexpr uint16_t kGenVelRange = 44;
constexpr uint16_t kGenInstrument = 41;
constexpr uint16_t kGenCoarseTune = 51;
constexpr uint16_t kGenFineTune = 52;
constexpr uint16_t kGenSampleId = 53;
constexpr uint16_t kGenScaleTune = 56;
constexpr uint16_t kGenRootKey = 58;

constexpr double kCentsPerKey = 100;
// SoundFonts whose key pitches are kept: a process uses one or a few.
constexpr size_t kKeptSoundFonts = 4;

struct Hydra {
  std::vector<uint8_t> phdr, pbag, pgen, inst, ibag, igen, shdr;
};

bool Is(const uint8_t* id, std::string_view name) {
  return std::memcmp(id, name.data(), 4) == 0;
}

bool NextIsList(std::ifstream& in, uint64_t pos) {
  uint8_t id[4];
  in.seekg(static_cast<std::streamoff>(pos));
  const bool found = in.read(reinterpret_cast<char*>(id), sizeof id) && Is(id, "LIST");
  in.clear();
  return found;
}

// The pdta list's sub-chunks, found by walking the RIFF form without reading the samples.
std::optional<Hydra> ReadHydra(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t head[12];
  if (!in.read(reinterpret_cast<char*>(head), sizeof head) || !Is(head, "RIFF") ||
      !Is(head + 8, "sfbk")) {
    return std::nullopt;
  }
  const uint64_t end = 8 + uint64_t{Le32(head + 4)};
  uint64_t pos = sizeof head;
  while (pos + 12 <= end) {
    uint8_t list[12];
    in.seekg(static_cast<std::streamoff>(pos));
    if (!in.read(reinterpret_cast<char*>(list), sizeof list)) return std::nullopt;
    const uint32_t size = Le32(list + 4);
    if (Is(list, "LIST") && Is(list + 8, "pdta")) {
      if (size < 4 || size > kMaxHydraBytes) return std::nullopt;
      std::vector<uint8_t> body(size - 4);
      if (!in.read(reinterpret_cast<char*>(body.data()), static_cast<std::streamsize>(body.size())))
        return std::nullopt;
      Hydra h;
      size_t at = 0;
      while (at + 8 <= body.size()) {
        const uint32_t n = Le32(body.data() + at + 4);
        if (n > body.size() - at - 8) return std::nullopt;
        std::vector<uint8_t> data(body.begin() + static_cast<ptrdiff_t>(at + 8),
                                  body.begin() + static_cast<ptrdiff_t>(at + 8 + n));
        const uint8_t* id = body.data() + at;
        if (Is(id, "phdr")) h.phdr = std::move(data);
        if (Is(id, "pbag")) h.pbag = std::move(data);
        if (Is(id, "pgen")) h.pgen = std::move(data);
        if (Is(id, "inst")) h.inst = std::move(data);
        if (Is(id, "ibag")) h.ibag = std::move(data);
        if (Is(id, "igen")) h.igen = std::move(data);
        if (Is(id, "shdr")) h.shdr = std::move(data);
        at += 8 + n + (n & 1u);
      }
      return h;
    }
    pos += 8 + uint64_t{size};
    // RIFF pads an odd chunk to an even size, but SoundFont 3 files are commonly written
    // without the pad byte after their compressed samples; the synthesizer reads on right
    // behind the data, so a list found there is the next one.
    if ((size & 1u) != 0 && !NextIsList(in, pos)) ++pos;
  }
  return std::nullopt;
}

size_t Count(const std::vector<uint8_t>& chunk, size_t record) {
  return chunk.size() / record;
}

// The zones of bags [first, last): the first without its terminal generator is the global
// zone; any later one without it is ignored, as the synthesizer ignores it.
SoundFontPitch::ZoneList ReadZones(const std::vector<uint8_t>& bags,
                                   const std::vector<uint8_t>& gens, size_t first, size_t last,
                                   uint16_t terminal) {
  SoundFontPitch::ZoneList list;
  const size_t bagCount = Count(bags, kBagBytes);
  const size_t genCount = Count(gens, kGeneratorBytes);
  for (size_t b = first; b < last && b + 1 < bagCount; ++b) {
    const size_t g0 = Le16(bags.data() + b * kBagBytes);
    const size_t g1 = std::min<size_t>(Le16(bags.data() + (b + 1) * kBagBytes), genCount);
    SoundFontPitch::Zone zone;
    for (size_t g = g0; g < g1; ++g) {
      const uint8_t* gen = gens.data() + g * kGeneratorBytes;
      const uint16_t oper = Le16(gen);
      const auto amount = static_cast<int16_t>(Le16(gen + 2));
      switch (oper) {
        case kGenKeyRange:
          zone.keys = {gen[2], gen[3]};
          break;
        case kGenVelRange:
          zone.velocities = {gen[2], gen[3]};
          break;
        case kGenCoarseTune:
          zone.coarseTune = amount;
          break;
        case kGenFineTune:
          zone.fineTune = amount;
          break;
        case kGenScaleTune:
          zone.scaleTune = amount;
          break;
        case kGenRootKey:
          zone.rootKey = amount;
          break;
        case kGenModLfoToPitch:
          zone.modLfoToPitch = amount;
          break;
        case kGenVibLfoToPitch:
          zone.vibLfoToPitch = amount;
          break;
        case kGenModEnvToPitch:
          zone.modEnvToPitch = amount;
          break;
        default:
          break;
      }
      if (oper == terminal) {
        zone.link = Le16(gen + 2);
        break;  // generators behind the terminal one are ignored
      }
    }
    if (zone.link >= 0) {
      list.zones.push_back(zone);
    } else if (b == first) {
      list.global = zone;
    }
  }
  return list;
}

// The instrument level sets a generator (its zone, else its global zone, else the default);
// the preset level adds to it.
double Combined(const std::optional<double> SoundFontPitch::Zone::*gen,
                const SoundFontPitch::ZoneList& inst, const SoundFontPitch::Zone& instZone,
                const SoundFontPitch::ZoneList& preset, const SoundFontPitch::Zone& presetZone,
                double otherwise) {
  double value = otherwise;
  if (instZone.*gen) {
    value = *(instZone.*gen);
  } else if (inst.global && (*inst.global).*gen) {
    value = *((*inst.global).*gen);
  }
  if (presetZone.*gen) {
    value += *(presetZone.*gen);
  } else if (preset.global && (*preset.global).*gen) {
    value += *((*preset.global).*gen);
  }
  return value;
}

}  // namespace

VoicePitch PitchAtKey(const LayerPitch& layer, int key) {
  // In FluidSynth's own order and precision: its sum is what it truncates.
  const double nominal = layer.scaleTune * (key - layer.rootPitch / kCentsPerKey) + layer.rootPitch;
  const double computed = nominal + kCentsPerKey * layer.coarseTune + layer.fineTune;
  const double exact = layer.scaleTune * (key * kCentsPerKey - layer.rootPitch) / kCentsPerKey +
                       layer.rootPitch + kCentsPerKey * layer.coarseTune + layer.fineTune;
  return {computed, exact};
}

std::shared_ptr<const SoundFontPitch> SoundFontPitch::Read(const std::string& path) {
  const std::optional<Hydra> h = ReadHydra(path);
  if (!h) return nullptr;
  auto font = std::make_shared<SoundFontPitch>();
  // The last record of each list only ends it.
  for (size_t s = 0; s + 1 < Count(h->shdr, kSampleHeaderBytes); ++s) {
    const uint8_t* rec = h->shdr.data() + s * kSampleHeaderBytes;
    font->samples.push_back({rec[kNameBytes + 20], static_cast<int8_t>(rec[kNameBytes + 21])});
  }
  const size_t instCount = Count(h->inst, kInstrumentBytes);
  for (size_t i = 0; i + 1 < instCount; ++i) {
    const size_t first = Le16(h->inst.data() + i * kInstrumentBytes + kNameBytes);
    const size_t last = Le16(h->inst.data() + (i + 1) * kInstrumentBytes + kNameBytes);
    font->instruments.push_back(ReadZones(h->ibag, h->igen, first, last, kGenSampleId));
  }
  const size_t presetCount = Count(h->phdr, kPresetHeaderBytes);
  for (size_t p = 0; p + 1 < presetCount; ++p) {
    const uint8_t* rec = h->phdr.data() + p * kPresetHeaderBytes;
    const size_t first = Le16(rec + kNameBytes + 4);
    const size_t last = Le16(rec + kPresetHeaderBytes + kNameBytes + 4);
    font->presets.push_back({Le16(rec + kNameBytes + 2), Le16(rec + kNameBytes),
                             ReadZones(h->pbag, h->pgen, first, last, kGenInstrument)});
  }
  return font;
}

const SoundFontPitch::Preset* SoundFontPitch::Find(int bank, int program) const {
  // The first of a bank and program, as the synthesizer keeps it.
  const auto at = [&](int b, int p) -> const Preset* {
    for (const Preset& preset : presets) {
      if (preset.bank == b && preset.program == p) return &preset;
    }
    return nullptr;
  };
  // A melodic channel falls back to bank 0, then to its program 0.
  if (const Preset* found = at(bank, program)) return found;
  if (const Preset* found = at(0, program)) return found;
  return at(0, 0);
}

std::vector<LayerPitch> SoundFontPitch::Layers(int bank, int program, int key, int velocity) const {
  std::vector<LayerPitch> layers;
  const Preset* preset = Find(bank, program);
  if (!preset) return layers;
  for (const Zone& pz : preset->zones.zones) {
    if (!pz.keys.Holds(key) || !pz.velocities.Holds(velocity)) continue;
    if (static_cast<size_t>(pz.link) >= instruments.size()) continue;
    const ZoneList& inst = instruments[static_cast<size_t>(pz.link)];
    for (const Zone& iz : inst.zones) {
      if (!iz.keys.Holds(key) || !iz.velocities.Holds(velocity)) continue;
      if (static_cast<size_t>(iz.link) >= samples.size()) continue;
      const Sample& sample = samples[static_cast<size_t>(iz.link)];
      // The root key is an instrument-level generator only; -1 leaves the sample's.
      std::optional<double> rootKey = iz.rootKey;
      if (!rootKey && inst.global) rootKey = inst.global->rootKey;
      const double root = rootKey && *rootKey > -1 ? *rootKey : sample.rootKey;
      LayerPitch layer;
      layer.rootPitch = root * kCentsPerKey - sample.correction;
      layer.scaleTune = Combined(&Zone::scaleTune, inst, iz, preset->zones, pz, kDefaultScaleTune);
      layer.coarseTune = Combined(&Zone::coarseTune, inst, iz, preset->zones, pz, 0);
      layer.fineTune = Combined(&Zone::fineTune, inst, iz, preset->zones, pz, 0);
      for (const auto gen : {&Zone::modLfoToPitch, &Zone::vibLfoToPitch, &Zone::modEnvToPitch}) {
        layer.modulated = layer.modulated || Combined(gen, inst, iz, preset->zones, pz, 0) != 0;
      }
      layers.push_back(layer);
    }
  }
  return layers;
}

std::shared_ptr<const SoundFontPitch> SharedSoundFontPitch(const std::string& path) {
  struct Kept {
    std::string path;
    uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    std::shared_ptr<const SoundFontPitch> pitch;
  };
  static std::mutex guard;
  static std::vector<Kept> kept;  // the most recently read last
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return nullptr;
  const std::filesystem::file_time_type modified = std::filesystem::last_write_time(path, error);
  if (error) return nullptr;
  {
    const std::lock_guard lock(guard);
    for (const Kept& k : kept) {
      if (k.path == path && k.size == size && k.modified == modified) return k.pitch;
    }
  }
  // Read unlocked: two threads may both read a changed file once, and each keeps a whole one.
  std::shared_ptr<const SoundFontPitch> pitch = SoundFontPitch::Read(path);
  if (!pitch) return nullptr;
  const std::lock_guard lock(guard);
  std::erase_if(kept, [&](const Kept& k) { return k.path == path; });
  if (kept.size() >= kKeptSoundFonts) kept.erase(kept.begin());
  kept.push_back({path, size, modified, pitch});
  return pitch;
}

}  // namespace velorna
