#include "midi/event_data.h"

#include <algorithm>

#include "base/file_io.h"
#include "base/library_error.h"

namespace velorna {

namespace {

constexpr int32_t kSlack = 8;  // zero bytes kept behind the data
constexpr size_t kRhythmMapByte = 9;

void ShowDataError(MidiContext& ctx) {
  ShowLibraryError(*ctx.reporter, LibraryModule::MUEV, code::kMuevDataError, msg::kEventDataError);
}

}  // namespace

void SetEventData(MidiContext& ctx, MidiEvent& e, std::span<const uint8_t> bytes) {
  const int32_t n = static_cast<int32_t>(bytes.size());
  // The source may be the event's own data: copy before letting go of the old buffer.
  std::vector<uint8_t> buffer = GeneAlloc(*ctx.reporter, bytes.size() + kSlack);
  if (buffer.empty()) {
    e.data.clear();
    e.size = 0;
    return;
  }
  std::copy(bytes.begin(), bytes.end(), buffer.begin());
  e.data = std::move(buffer);
  e.size = n;
  if (n > kEventDataWarnSize) {
    ShowLibraryError(*ctx.reporter, LibraryModule::MUEV, code::kMuevTooLarge,
                     msg::kEventDataTooLarge);
  }
}

uint8_t EventDataByte(MidiContext& ctx, const MidiEvent& e, int64_t i) {
  const int64_t limit = std::min<int64_t>(int64_t{e.size} + kSlack, e.data.size());
  if (e.data.empty() || i < 0 || i >= limit) {
    ShowDataError(ctx);
    return 0;
  }
  return e.data[static_cast<size_t>(i)];
}

void CopyEvent(MidiEvent& to, const MidiEvent& from) {
  const int32_t channel = to.channel;
  to = from;
  to.channel = channel;
}

void MakeMasterVolume(MidiEvent& e) {
  static constexpr uint8_t kBytes[] = {0xF0, 0x07, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x7F, 0xF7};
  e.status = st::kSysEx;
  e.kind = sysex::kMasterVolume;
  e.value = 127;
  e.size = sizeof kBytes;
  e.data.assign(sizeof kBytes + kSlack, 0);
  std::copy(std::begin(kBytes), std::end(kBytes), e.data.begin());
}

bool IsTuningSysExBody(std::span<const uint8_t> body) {
  constexpr uint8_t kNonRealTime = 0x7E;
  constexpr uint8_t kRealTime = 0x7F;
  constexpr uint8_t kTuningStandard = 0x08;
  return body.size() >= 4 && (body[0] == kNonRealTime || body[0] == kRealTime) &&
         body[2] == kTuningStandard;
}

std::optional<int> RhythmMapOf(const MidiEvent& e) {
  if (e.status != st::kSysEx || e.kind != sysex::kRhythmPart) return std::nullopt;
  return e.data.size() > kRhythmMapByte ? e.data[kRhythmMapByte] : e.value;
}

}  // namespace velorna
