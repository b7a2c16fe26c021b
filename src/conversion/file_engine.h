// The reference engine: every copy goes through a temporary MIDI, AIFF and WAV file in a
// private folder of its own, rendered with the program's effects and mixed one by one.
#pragma once

#include <memory>

#include "conversion/render_engine.h"

namespace velorna {

std::unique_ptr<RenderEngine> MakeFileEngine();

}  // namespace velorna
