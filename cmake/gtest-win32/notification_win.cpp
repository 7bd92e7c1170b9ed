// GoogleTest's thread start-up gate on a manual-reset event.
#include <windows.h>

#include <cstdlib>

#include "gtest/internal/custom/gtest-port.h"

namespace testing {
namespace internal {

Notification::Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (event_ == nullptr) std::abort();  // a gate that never opens would hang the test
}

Notification::~Notification() { CloseHandle(event_); }

void Notification::Notify() { SetEvent(event_); }

void Notification::WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

}  // namespace internal
}  // namespace testing
