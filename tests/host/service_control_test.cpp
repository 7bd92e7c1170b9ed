#include "host/service_control.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/unique_handles.h"
#include "wine_test_support.h"

namespace {

using host::UniqueServiceHandle;
using hosttest::ElapsedMsSince;

// The service program built beside the tests, unless the service manager is
// of the other bitness and cannot start it (QF_HOST_SERVICE_PROGRAM).
std::string ServiceProgram() {
  char value[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("QF_HOST_SERVICE_PROGRAM", value, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(value, n) : hosttest::HelperPath("qf_host_service.exe");
}

// A service of the tests' own, registered in the prefix under a unique name
// and removed again, process included, at the end of the test.
class TestService {
 public:
  TestService(const char* tag, const std::string& arguments, DWORD startType = SERVICE_DEMAND_START)
      : name_(std::string("qfhost_") + tag + "_" + std::to_string(GetCurrentProcessId())),
        manager_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {
    binaryPath_ = hosttest::Quoted(ServiceProgram()) + " " + arguments;
    if (!manager_) return;
    service_.reset(CreateServiceA(manager_.get(), name_.c_str(), ("Quillfort test " + name_).c_str(),
                                  SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_IGNORE,
                                  binaryPath_.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  ~TestService() {
    if (!service_) return;
    SERVICE_STATUS status = {};
    ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
    const DWORD start = GetTickCount();
    while (State() != SERVICE_STOPPED && ElapsedMsSince(start) < 3000) Sleep(50);
    EndProcess();
    DeleteService(service_.get());
  }
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool registered() const { return static_cast<bool>(service_); }
  const char* name() const { return name_.c_str(); }
  const std::string& binaryPath() const { return binaryPath_; }

  DWORD State() const {
    SERVICE_STATUS status = {};
    return QueryServiceStatus(service_.get(), &status) ? status.dwCurrentState : 0;
  }
  // Start type, binary path and display name as the manager holds them.
  bool Config(DWORD& startType, std::string& binaryPath, std::string& displayName) const {
    alignas(QUERY_SERVICE_CONFIGA) BYTE buffer[8192];
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer);
    DWORD needed = 0;
    if (!QueryServiceConfigA(service_.get(), config, sizeof(buffer), &needed)) return false;
    startType = config->dwStartType;
    binaryPath = config->lpBinaryPathName;
    displayName = config->lpDisplayName;
    return true;
  }

 private:
  void EndProcess() {
    SERVICE_STATUS_PROCESS status = {};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof(status),
                              &needed) ||
        status.dwProcessId == 0) {
      return;
    }
    const host::UniqueKernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, status.dwProcessId));
    if (process && TerminateProcess(process.get(), 0)) WaitForSingleObject(process.get(), 3000);
  }

  std::string name_;
  std::string binaryPath_;
  UniqueServiceHandle manager_;
  UniqueServiceHandle service_;
};

TEST(ServiceControl, ImmediateServiceRunsWhenTheStartReturns) {
  TestService service("immediate", "immediate");
  ASSERT_TRUE(service.registered());
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 1);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(ServiceControl, AlreadyRunningServiceReturnsZeroAtOnce) {
  TestService service("running", "immediate");
  ASSERT_TRUE(service.registered());
  ASSERT_EQ(StartServiceAndWait(service.name(), 1), 1);
  ASSERT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
  const DWORD start = GetTickCount();
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 0);
  EXPECT_LT(ElapsedMsSince(start), 500u);
}

TEST(ServiceControl, DisabledServiceStartsOnlyAfterSwitchingToAutomatic) {
  TestService service("disabled", "immediate", SERVICE_DISABLED);
  ASSERT_TRUE(service.registered());
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 0);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));

  EXPECT_NE(SetServiceStartType(service.name(), SERVICE_AUTO_START), 0);
  DWORD startType = 0;
  std::string binaryPath, displayName;
  ASSERT_TRUE(service.Config(startType, binaryPath, displayName));
  EXPECT_EQ(startType, static_cast<DWORD>(SERVICE_AUTO_START));
  // Every other setting stays as it was.
  EXPECT_EQ(binaryPath, service.binaryPath());
  EXPECT_EQ(displayName, std::string("Quillfort test ") + service.name());

  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 1);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
}

TEST(ServiceControl, UnknownAndNullNamesReturnZero) {
  EXPECT_EQ(SetServiceStartType("qfhost_no_such_service", SERVICE_AUTO_START), 0);
  EXPECT_EQ(StartServiceAndWait("qfhost_no_such_service", 1), 0);
  EXPECT_EQ(SetServiceStartType(nullptr, SERVICE_AUTO_START), 0);
  EXPECT_EQ(StartServiceAndWait(nullptr, 1), 0);
}

TEST(ServiceControl, PendingRoundsEndInRunning) {
  TestService service("pending", "pending 4 300");
  ASSERT_TRUE(service.registered());
  const DWORD start = GetTickCount();
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 1);
  const DWORD elapsed = ElapsedMsSince(start);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_GE(elapsed, 600u);  // four rounds half a hint apart
  EXPECT_LT(elapsed, 5000u);
}

TEST(ServiceControl, NoWaitReturnsWhileTheServiceIsStillPending) {
  TestService service("nowait", "pending 4 1000");
  ASSERT_TRUE(service.registered());
  EXPECT_EQ(StartServiceAndWait(service.name(), 0), 1);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_START_PENDING));
}

TEST(ServiceControl, StuckServiceEndsTheWaitSoonAfterItsHint) {
  TestService service("stuck", "stuck 1200");
  ASSERT_TRUE(service.registered());
  const DWORD start = GetTickCount();
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 1);
  const DWORD elapsed = ElapsedMsSince(start);
  std::printf("stuck service wait: %lu ms\n", static_cast<unsigned long>(elapsed));
  EXPECT_GE(elapsed, 1200u);
  EXPECT_LT(elapsed, 4000u);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_START_PENDING));
}

TEST(ServiceControl, ServiceThatStopsInsteadOfRunningEndsTheWait) {
  TestService service("fail", "fail");
  ASSERT_TRUE(service.registered());
  const DWORD start = GetTickCount();
  EXPECT_EQ(StartServiceAndWait(service.name(), 1), 1);
  const DWORD elapsed = ElapsedMsSince(start);
  std::printf("stopping service wait: %lu ms\n", static_cast<unsigned long>(elapsed));
  EXPECT_LT(elapsed, 3000u);
  EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));
}

// ---- what a start came to, as the hardening run reads it --------------------

TEST(ServiceOutcome, MissingServiceNamesTheSystemError) {
  EXPECT_EQ(SetServiceStartTypeError("qfhost_no_such_service", SERVICE_AUTO_START),
            static_cast<unsigned long>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(SetServiceStartTypeError(nullptr, SERVICE_AUTO_START), static_cast<unsigned long>(ERROR_INVALID_PARAMETER));
  const ServiceStartOutcome outcome = StartServiceUntilRunning("qfhost_no_such_service");
  EXPECT_FALSE(outcome.accepted);
  EXPECT_EQ(ServiceStartFailureCode(outcome), static_cast<std::uint32_t>(ERROR_SERVICE_DOES_NOT_EXIST));
}

TEST(ServiceOutcome, RunningAndAlreadyRunningServicesSucceed) {
  TestService service("outcome_running", "pending 2 300");
  ASSERT_TRUE(service.registered());
  EXPECT_EQ(SetServiceStartTypeError(service.name(), SERVICE_AUTO_START), 0ul);
  const ServiceStartOutcome first = StartServiceUntilRunning(service.name());
  EXPECT_TRUE(first.accepted);
  EXPECT_EQ(ServiceStartFailureCode(first), 0u);
  const ServiceStartOutcome again = StartServiceUntilRunning(service.name());
  EXPECT_FALSE(again.accepted);
  EXPECT_EQ(again.error, static_cast<std::uint32_t>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_EQ(ServiceStartFailureCode(again), 0u) << "seen running, so the step succeeded";
}

TEST(ServiceOutcome, DisabledStuckAndStoppingServicesFailWithTheirReason) {
  TestService disabled("outcome_disabled", "immediate", SERVICE_DISABLED);
  ASSERT_TRUE(disabled.registered());
  EXPECT_EQ(ServiceStartFailureCode(StartServiceUntilRunning(disabled.name())),
            static_cast<std::uint32_t>(ERROR_SERVICE_DISABLED));

  TestService stuck("outcome_stuck", "stuck 300");
  ASSERT_TRUE(stuck.registered());
  EXPECT_EQ(ServiceStartFailureCode(StartServiceUntilRunning(stuck.name())),
            static_cast<std::uint32_t>(ERROR_SERVICE_REQUEST_TIMEOUT));

  TestService stopping("outcome_fail", "fail");
  ASSERT_TRUE(stopping.registered());
  EXPECT_EQ(ServiceStartFailureCode(StartServiceUntilRunning(stopping.name())),
            static_cast<std::uint32_t>(ERROR_SERVICE_SPECIFIC_ERROR));
}

TEST(ServiceOutcome, WindowMessagesAreDispatchedWhileAStuckServiceIsAwaited) {
  TestService service("outcome_responsive", "stuck 1200");
  ASSERT_TRUE(service.registered());
  hosttest::MessageCounter counter;
  ASSERT_NE(SetTimer(counter.window(), 1, 100, nullptr), 0u);
  counter.Queue(2);
  const DWORD start = GetTickCount();
  StartServiceAndWait(service.name(), 1);
  const DWORD elapsed = ElapsedMsSince(start);
  KillTimer(counter.window(), 1);
  const auto timers = std::count(counter.seen.begin(), counter.seen.end(), static_cast<UINT>(WM_TIMER));
  EXPECT_EQ(counter.dispatched(), 2);
  // A wait that dispatches nothing sees no tick at all; a loaded machine
  // delivers fewer than one per 100 ms, so ask for a few only.
  EXPECT_GE(elapsed, 1000u);
  EXPECT_GE(timers, 3) << elapsed << " ms";
}

}  // namespace
