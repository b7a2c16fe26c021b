// What velorna-cli's exit status says, for every command.
#pragma once

#include <csignal>

namespace velorna::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitNotWritten = 1;  // nothing, or not everything, was done
inline constexpr int kExitUsage = 2;
inline constexpr int kExitBySignal = 128;  // plus the signal's number, as a shell reports it
inline constexpr int kExitInterrupted = kExitBySignal + SIGINT;

}  // namespace velorna::cli
