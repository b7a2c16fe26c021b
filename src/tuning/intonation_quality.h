// How pure and how steady a tuning of some notes is: what the intonation bench reports and
// the tests of adaptive intonation hold it to.
#pragma once

#include <vector>

#include "tuning/adaptive.h"

namespace velorna {

struct IntonationQuality {
  double mean = 0;   // cents from the nearest just size, over pairs sounding together,
  double p95 = 0;    // weighted by the seconds they do
  double drift = 0;  // largest |mean of `cents`| over the notes sounding in any 10 s of the song
};

// `cents`: each note's pitch, from its key's equal-tempered one.
IntonationQuality MeasureIntonation(const std::vector<IntonationNote>& notes,
                                    const std::vector<double>& cents);

}  // namespace velorna
