#include "audio/render_synth.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <new>

#include "audio/sample_rounding.h"
#include "base/address_space.h"
#include "midi/event_data.h"
#include "midi/midi_constants.h"
#include "midi/midi_types.h"

namespace velorna {

namespace {
// Room asked for before a SoundFont is loaded: its samples, their copy while they are
// read, and the synthesizer's own tables.
constexpr int64_t kLoadRoomFactor = 2;
constexpr int64_t kLoadRoomExtra = int64_t{64} << 20;
constexpr double kSampleScale = 32768.0;
constexpr long kSampleMin = -32768;
constexpr long kSampleMax = 32767;

// Throws std::bad_alloc unless the address space a load needs is left under the limit.
void EnsureRoomToLoad(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return;  // the load will fail on its own
  if (!AddressSpaceFits(static_cast<int64_t>(size) * kLoadRoomFactor + kLoadRoomExtra))
    throw std::bad_alloc();
}

// FluidSynth shares a file's samples between all its loads in the process, and counts
// them outside its own lock when a load finds them already there: a load racing another
// load or an unload could count wrong, and an unload then frees samples a SoundFont still
// plays (heard as a wrong sound, or a crash). Every load and unload of ours takes this
// lock. Creating the owner under it also keeps the first synthesizers of two threads from
// racing FluidSynth's one-time set-up of its default modulators.
std::mutex& SampleCacheLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

LoadedSoundFont::~LoadedSoundFont() {
  const std::lock_guard lock(SampleCacheLock());
  owner.synth.reset();  // before its settings
  owner.settings.reset();
}

FluidSettingsPtr MakeRenderSettings(int polyphony) {
  FluidSettingsPtr settings = MakeDrySynthSettings();
  if (!settings) return nullptr;
  fluid_settings_t* s = settings.get();
  fluid_settings_setnum(s, "synth.gain", 0.2);
  fluid_settings_setint(s, "synth.polyphony", polyphony);
  fluid_settings_setint(s, "synth.threadsafe-api", 0);  // one thread per synthesizer
  fluid_settings_setint(s, "synth.cpu-cores", 1);
  return settings;
}

DrySynth MakeRenderSynth() {
  return MakeDrySynth(MakeRenderSettings());
}

FluidSynthPtr MakeRenderSynth(fluid_settings_t* settings) {
  return FluidSynthPtr(settings ? new_fluid_synth(settings) : nullptr);
}

std::unique_ptr<LoadedSoundFont> LoadSoundFont(const std::string& path) {
  EnsureRoomToLoad(path);
  auto font = std::make_unique<LoadedSoundFont>();
  font->path = path;
  {
    // A failed load is let go of only once the lock is free again: letting go takes it.
    const std::lock_guard lock(SampleCacheLock());
    font->owner = MakeRenderSynth();
    if (fluid_synth_t* owner = font->owner.synth.get()) {
      const int id = fluid_synth_sfload(owner, path.c_str(), 0);
      if (id != FLUID_FAILED) font->sfont = fluid_synth_get_sfont_by_id(owner, id);
    }
  }
  if (font->sfont == nullptr) return nullptr;
  return font;
}

int16_t FloatToSample(float x) {
  const int64_t v = RoundSample(static_cast<double>(x) * kSampleScale);
  return static_cast<int16_t>(std::clamp<int64_t>(v, kSampleMin, kSampleMax));
}

SoundFontLoan::SoundFontLoan(fluid_synth_t* synth, fluid_sfont_t* sfont)
    : synth_(synth), sfont_(sfont) {
  added_ = fluid_synth_add_sfont(synth_, sfont_) != FLUID_FAILED;
}

SoundFontLoan::~SoundFontLoan() {
  if (added_) fluid_synth_remove_sfont(synth_, sfont_);
}

void SendEvent(fluid_synth_t* synth, const std::vector<uint8_t>& m) {
  if (m.empty()) return;
  const uint32_t type = m[0] & kStatusTypeMask;
  const int channel = static_cast<int>(m[0] & kStatusChannelMask);
  const int d1 = m.size() > 1 ? m[1] : 0;
  const int d2 = m.size() > 2 ? m[2] : 0;
  switch (type) {
    case st::kNoteOff:
      fluid_synth_noteoff(synth, channel, d1);
      break;
    case st::kNoteOn:
      fluid_synth_noteon(synth, channel, d1, d2);
      break;
    case st::kKeyPressure:
      fluid_synth_key_pressure(synth, channel, d1, d2);
      break;
    case st::kControl:
      fluid_synth_cc(synth, channel, d1, d2);
      break;
    case st::kProgram:
      fluid_synth_program_change(synth, channel, d1);
      break;
    case st::kChannelPressure:
      fluid_synth_channel_pressure(synth, channel, d1);
      break;
    case st::kPitchBend:
      fluid_synth_pitch_bend(synth, channel, d1 | (d2 << kDataBits));
      break;
    case st::kSysEx:
      // The synthesizer wants the message without its F0 and F7 framing. A song's own
      // tuning messages are in its notes' targets already: heard again, they would count
      // twice.
      if (m[0] == st::kSysEx && m.size() >= 2 && !IsTuningSysExBody(std::span(m).subspan(1))) {
        fluid_synth_sysex(synth, reinterpret_cast<const char*>(m.data()) + 1,
                          static_cast<int>(m.size()) - 2, nullptr, nullptr, nullptr, 0);
      }
      break;
    default:
      break;
  }
}

}  // namespace velorna
