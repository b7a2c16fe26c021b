#pragma once

namespace velorna {

const char* VersionString();

}  // namespace velorna
