#include "tuning/song_tuning.h"

#include <array>
#include <map>
#include <optional>
#include <span>
#include <utility>

#include "midi/event_data.h"
#include "midi/midi_constants.h"
#include "tuning/mts.h"

namespace velorna {
namespace {

using namespace mts;

constexpr int kOneByteCentre = 64;       // 1-byte scale/octave: cents above or below this
constexpr int kTwoByteCentre = 1 << 13;  // 2-byte: 100 cents either side of this

using KeyPitches = std::array<std::optional<double>, kKeyCount>;  // absolute cents
using OctaveCents = std::array<double, kPitchClassCount>;

struct ChannelTuning {
  int rpnMsb = rpn::kNull;
  int rpnLsb = rpn::kNull;
  bool nrpn = false;
  int bank = 0;
  int program = 0;  // a channel that never chooses hears program 0 of bank 0
  std::optional<OctaveCents> octave;
};

// The message's body after F0 and its length field, without the closing F7.
std::span<const uint8_t> Body(const MidiEvent& e) {
  const size_t size = std::min(static_cast<size_t>(std::max(e.size, 0)), e.data.size());
  size_t at = 1;
  while (at < size && at < 5 && (e.data[at] & 0x80) != 0) ++at;
  ++at;
  if (at > size) return {};
  std::span<const uint8_t> body(e.data.data() + at, size - at);
  if (!body.empty() && body.back() == 0xF7) body = body.first(body.size() - 1);
  return body;
}

class SongTuningReader {
 public:
  bool any = false;

  std::optional<double> TargetOf(int channel, int key) const {
    const ChannelTuning& c = channels_[static_cast<size_t>(channel)];
    const auto table = tables_.find({c.bank, c.program});
    if (table != tables_.end()) {
      if (const std::optional<double>& pitch = table->second[static_cast<size_t>(key)])
        return *pitch - key * kCentsPerSemitone;
    }
    if (c.octave) return (*c.octave)[static_cast<size_t>(key % kPitchClassCount)];
    return std::nullopt;
  }

  void Control(const MidiEvent& e) {
    ChannelTuning& c = channels_[static_cast<size_t>(e.channel)];
    switch (e.kind) {
      case cc::kRpnMsb:
      case cc::kRpnLsb:
        (e.kind == cc::kRpnMsb ? c.rpnMsb : c.rpnLsb) = e.value;
        c.nrpn = false;
        break;
      case cc::kNrpnMsb:
      case cc::kNrpnLsb:
        c.nrpn = true;
        break;
      case cc::kDataEntryMsb:
        if (c.nrpn || c.rpnMsb != 0) break;
        if (c.rpnLsb == rpn::kTuningProgram) {
          c.program = e.value;
          any = true;
        } else if (c.rpnLsb == rpn::kTuningBank) {
          c.bank = e.value;
          any = true;
        }
        break;
      default:
        break;
    }
  }

  void SysEx(const MidiEvent& e) {
    const std::span<const uint8_t> b = Body(e);
    if (!IsTuningSysExBody(b)) return;
    const uint8_t form = b[3];
    const std::span<const uint8_t> rest = b.subspan(4);
    if (form == kBulkDump || form == kBankBulkDump) {
      const size_t head = form == kBankBulkDump ? 2 : 1;
      if (rest.size() < head + kNameBytes + 3 * kKeyCount) return;
      const int bank = form == kBankBulkDump ? rest[0] : 0;
      KeyPitches& table = tables_[{bank, rest[head - 1]}];
      const auto words = rest.subspan(head + kNameBytes);
      for (size_t k = 0; k < kKeyCount; ++k)
        if (const auto pitch = DecodeMtsPitch(words.subspan(3 * k).first<3>())) table[k] = pitch;
      any = true;
    } else if (form == kSingleNote || form == kBankSingleNote) {
      const size_t head = form == kBankSingleNote ? 3 : 2;
      if (rest.size() < head) return;
      const int bank = form == kBankSingleNote ? rest[0] : 0;
      KeyPitches& table = tables_[{bank, rest[head - 2]}];
      const size_t count = rest[head - 1];
      for (size_t n = 0; n < count && head + 4 * n + 4 <= rest.size(); ++n) {
        const auto change = rest.subspan(head + 4 * n, 4);
        if (const auto pitch = DecodeMtsPitch(change.subspan(1).first<3>()))
          table[change[0] & kDataMask] = pitch;
      }
      any = true;
    } else if (form == kOctaveOneByte || form == kOctaveTwoBytes) {
      const size_t width = form == kOctaveOneByte ? 1 : 2;
      if (rest.size() < 3 + width * kPitchClassCount) return;
      OctaveCents cents{};
      for (size_t pc = 0; pc < kPitchClassCount; ++pc) {
        const uint8_t* v = &rest[3 + width * pc];
        cents[pc] = width == 1 ? v[0] - kOneByteCentre
                               : (((v[0] & kDataMask) << 7 | (v[1] & kDataMask)) - kTwoByteCentre) *
                                     kCentsPerSemitone / kTwoByteCentre;
      }
      // Three bytes of channel bits: 14-15, 7-13, 0-6.
      const uint32_t mask = static_cast<uint32_t>(rest[0] & 0x03) << 14 |
                            static_cast<uint32_t>(rest[1] & kDataMask) << 7 |
                            static_cast<uint32_t>(rest[2] & kDataMask);
      for (int c = 0; c < kMidiChannels; ++c)
        if ((mask >> c) & 1U) channels_[static_cast<size_t>(c)].octave = cents;
      any = true;
    }
  }

 private:
  std::array<ChannelTuning, kMidiChannels> channels_{};
  std::map<std::pair<int, int>, KeyPitches> tables_;
};

}  // namespace

bool IsMtsMessage(const MidiEvent& e) {
  return e.status == st::kSysEx && IsTuningSysExBody(Body(e));
}

std::vector<KeyTarget> SongTuningTargets(const MidiFormat0Data& song) {
  if (!song.track) return {};
  const auto& events = song.track->events;
  std::vector<KeyTarget> targets(events.size());
  SongTuningReader reader;
  bool governs = false;
  for (size_t i = 0; i < events.size(); ++i) {
    const MidiEvent& e = events[i];
    if (e.status == st::kSysEx) reader.SysEx(e);
    const bool channel = e.channel >= 0 && e.channel < kMidiChannels;
    if (channel && e.status == st::kControl) reader.Control(e);
    if (channel && e.status == st::kNote && reader.any && e.note >= 0 && e.note < kKeyCount) {
      targets[i] = reader.TargetOf(e.channel, e.note);
      governs = governs || targets[i].has_value();
    }
  }
  if (!governs) return {};
  return targets;
}

Tuning WithSongTuning(const Tuning& chosen, const MidiFormat0Data& song) {
  const std::vector<KeyTarget> own = SongTuningTargets(song);
  if (own.empty()) return chosen;
  Tuning merged = chosen;
  merged.notes.resize(own.size());
  const auto& events = song.track->events;
  for (size_t i = 0; i < own.size(); ++i) {
    if (events[i].status != st::kNote) continue;
    const auto index = static_cast<int32_t>(i);
    merged.notes[i] = own[i] ? own[i] : velorna::TargetOf(chosen, index, events[i].note);
  }
  return merged;
}

}  // namespace velorna
