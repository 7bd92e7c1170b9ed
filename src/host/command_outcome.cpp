#include "host/command_outcome.h"

std::uint32_t CommandFailureCode(const CommandOutcome& outcome) {
  // A creation that failed without saying why still must not read as success.
  if (!outcome.started) return outcome.error != 0 ? outcome.error : kErrorGenFailure;
  if (!outcome.ended) return kErrorTimeout;
  if (!outcome.exitCodeRead) return outcome.error != 0 ? outcome.error : kErrorGenFailure;
  return outcome.exitCode;
}
