// What became of one hidden command, and the code that names a failure.
#pragma once

#include <cstdint>

struct CommandOutcome {
  bool started = false;       // the process was created
  bool ended = false;         // it was seen to end within the limit
  bool exitCodeRead = false;  // its exit code could be read once it ended
  std::uint32_t exitCode = 0;
  std::uint32_t error = 0;  // system error of the creation or of the exit-code read
};

inline constexpr std::uint32_t kErrorFileNotFound = 2;  // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorGenFailure = 31;   // ERROR_GEN_FAILURE
inline constexpr std::uint32_t kErrorTimeout = 1460;    // ERROR_TIMEOUT

// 0 when the command started, ended in time and exited with 0; otherwise the
// creation error, ERROR_TIMEOUT, the read error (ERROR_GEN_FAILURE when
// the system gave none) or the command's own exit code.
std::uint32_t CommandFailureCode(const CommandOutcome& outcome);
