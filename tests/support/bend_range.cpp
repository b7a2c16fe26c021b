#include "support/bend_range.h"

#include "conversion/channel_setup.h"

namespace velorna {

double FindBendSensitivity(const MidiFormat0Data& song, int channel, int64_t time) {
  if (!song.track) return 0;
  BendRangeRegisters range;
  int64_t now = 0;
  for (const MidiEvent& e : song.track->events) {
    now += e.delta;
    if (now > time) break;
    if (e.status == st::kControl && e.channel == channel) range.Apply(e);
  }
  return range.Sensitivity();
}

}  // namespace velorna
