// Scale file bytes → decoded settings, which must be in range and survive encoding.
#include <cstddef>
#include <cstdint>

#include "conversion/scale_file.h"
#include "fuzz_reporter.h"

using namespace velorna;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto settings = DecodeScaleFile(data, size);
  fuzz::Require(settings.has_value() == (size >= kScaleFileBytes), "64 bytes make a scale file");
  if (!settings) return 0;
  for (const double cents : settings->cents) {
    fuzz::Require(cents >= -100 && cents <= 100, "offsets within -100..100");
  }
  fuzz::Require(settings->keyIndex >= -1 && settings->keyIndex <= 14, "a key selector index");
  const auto bytes = EncodeScaleFile(*settings);
  const auto again = DecodeScaleFile(bytes.data(), bytes.size());
  fuzz::Require(again && again->cents == settings->cents && again->keyIndex == settings->keyIndex,
                "encoding keeps the settings");
  return 0;
}
