// The in-memory engine: the same sum as the file engine (the drum pass plus every pitched
// note's rendering), without temporary files and without rendering any note's silence,
// spread over several threads.
#pragma once

#include <memory>

#include "conversion/render_engine.h"

namespace velorna {

// `jobs` worker threads (0: one per core), never more than there are renderings. The job's
// SoundFont goes to one thread; the others load their own from its file.
std::unique_ptr<RenderEngine> MakeFastEngine(int jobs);

}  // namespace velorna
