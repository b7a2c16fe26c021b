// The reference engine: every copy goes through a temporary MIDI, AIFF and WAV file in a
// private folder of its own, rendered with the program's effects and mixed one by one.
#pragma once

#include <memory>
#include <string>

#include "conversion/render_engine.h"

namespace velorna {

// `inputPath` names the temporary files after the song.
std::unique_ptr<RenderEngine> MakeFileEngine(const std::string& inputPath);

}  // namespace velorna
