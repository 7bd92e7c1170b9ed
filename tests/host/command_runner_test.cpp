#include "host/command_runner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "host/unique_handles.h"
#include "wine_test_support.h"

namespace {

using hosttest::ChildProcesses;
using hosttest::ElapsedMsSince;
using hosttest::EndChildProcesses;
using hosttest::HelperPath;
using hosttest::MessageCounter;
using hosttest::Quoted;

constexpr char kChild[] = "qf_host_child.exe";

std::string ChildCommand(unsigned sleepMs, unsigned exitCode) {
  return Quoted(HelperPath(kChild)) + " " + std::to_string(sleepMs) + " " + std::to_string(exitCode);
}

class CommandRunner : public ::testing::Test {
 protected:
  void TearDown() override { EndChildProcesses(kChild); }
  MessageCounter counter_;
};

TEST_F(CommandRunner, NoWaitReturnsOneAtOnceWithoutDispatching) {
  counter_.Queue(3);
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCommandHidden(ChildCommand(5000, 0).c_str(), nullptr, 0, 15), 1);
  EXPECT_LT(ElapsedMsSince(start), 900u);
  EXPECT_EQ(counter_.dispatched(), 0);
  EXPECT_EQ(ChildProcesses(kChild).size(), 1u);
}

TEST_F(CommandRunner, PollLimitZeroBoundsTheWaitToOneSecondAndLeavesTheCommandRunning) {
  counter_.Queue(3);
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCommandHidden(ChildCommand(8000, 0).c_str(), nullptr, 1, 0), 0);
  const DWORD elapsed = ElapsedMsSince(start);
  EXPECT_GE(elapsed, 990u);
  EXPECT_LT(elapsed, 1900u);
  EXPECT_EQ(counter_.dispatched(), 3) << "every queued message is dispatched while waiting";
  EXPECT_EQ(ChildProcesses(kChild).size(), 1u) << "the runner must not end the command";
}

TEST_F(CommandRunner, TheLimitBoundsTheWholeWaitAndReportsATimeout) {
  const DWORD start = GetTickCount();
  const CommandOutcome outcome = RunCommandHiddenFor(ChildCommand(8000, 0).c_str(), nullptr, 1);
  const DWORD elapsed = ElapsedMsSince(start);
  EXPECT_GE(elapsed, 1990u);  // limit 1: two seconds
  EXPECT_LT(elapsed, 3000u);
  EXPECT_TRUE(outcome.started);
  EXPECT_FALSE(outcome.ended);
  EXPECT_EQ(CommandFailureCode(outcome), kErrorTimeout);
  EXPECT_EQ(ChildProcesses(kChild).size(), 1u);
}

TEST_F(CommandRunner, CommandEndingAfterATenthOfASecondIsSeenThenWithItsExitCode) {
  const DWORD start = GetTickCount();
  const CommandOutcome outcome = RunCommandHiddenFor(ChildCommand(100, 7).c_str(), nullptr, 15);
  const DWORD elapsed = ElapsedMsSince(start);
  std::printf("command of 100 ms seen ended after %lu ms\n", static_cast<unsigned long>(elapsed));
  EXPECT_GE(elapsed, 100u);
  EXPECT_LT(elapsed, 1000u) << "the old runner looked first after a whole second";
  EXPECT_TRUE(outcome.ended);
  ASSERT_TRUE(outcome.exitCodeRead);
  EXPECT_EQ(outcome.exitCode, 7u);
  EXPECT_EQ(CommandFailureCode(outcome), 7u);
  // A failing exit code counts as ended for the classic result.
  EXPECT_EQ(RunCommandHidden(ChildCommand(100, 7).c_str(), nullptr, 1, 15), 1);
}

TEST_F(CommandRunner, ExitCode259IsAnEndedCommandNotARunningOne) {
  const DWORD start = GetTickCount();
  const CommandOutcome outcome = RunCommandHiddenFor(ChildCommand(0, STILL_ACTIVE).c_str(), nullptr, 3);
  EXPECT_LT(ElapsedMsSince(start), 1500u);
  EXPECT_TRUE(outcome.ended);
  EXPECT_EQ(outcome.exitCode, static_cast<std::uint32_t>(STILL_ACTIVE));
  EXPECT_EQ(CommandFailureCode(outcome), static_cast<std::uint32_t>(STILL_ACTIVE));
}

TEST_F(CommandRunner, MessagesAreDispatchedAsTheyComeDuringTheWait) {
  ASSERT_NE(SetTimer(counter_.window(), 1, 100, nullptr), 0u);
  EXPECT_EQ(RunCommandHidden(ChildCommand(1500, 0).c_str(), nullptr, 1, 15), 1);
  KillTimer(counter_.window(), 1);
  const auto timers = std::count(counter_.seen.begin(), counter_.seen.end(), static_cast<UINT>(WM_TIMER));
  EXPECT_GE(timers, 5) << "a 100 ms timer during a 1.5 s wait";
}

TEST_F(CommandRunner, ChildInheritsNoHandleAndGetsAHiddenWindowRecord) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  const host::UniqueKernelHandle event(CreateEventA(&inheritable, TRUE, TRUE, nullptr));
  ASSERT_TRUE(event);
  const std::string probe =
      Quoted(HelperPath(kChild)) + " handle " + std::to_string(reinterpret_cast<ULONG_PTR>(event.get()));
  // The probe sees the handle when it is inherited, so its answer means something.
  ASSERT_EQ(hosttest::RunInheritingHandles(probe), 1);
  const CommandOutcome outcome = RunCommandHiddenFor(probe.c_str(), nullptr, 15);
  ASSERT_TRUE(outcome.exitCodeRead);
  EXPECT_EQ(outcome.exitCode, 0u) << "the runner's child holds the parent's inheritable handle";

  hosttest::ScratchFolder folder("startup");
  const std::string report = folder.File("startup.txt");
  ASSERT_EQ(RunCommandHidden((Quoted(HelperPath(kChild)) + " startup " + Quoted(report)).c_str(), nullptr, 1, 15), 1);
  unsigned long flags = 0;
  unsigned show = 99;
  ASSERT_EQ(std::sscanf(hosttest::ReadText(report).c_str(), "%lu %u", &flags, &show), 2);
  EXPECT_EQ(flags & STARTF_USESHOWWINDOW, static_cast<unsigned long>(STARTF_USESHOWWINDOW));
  EXPECT_EQ(flags & STARTF_USESTDHANDLES, 0ul);
  EXPECT_EQ(show, static_cast<unsigned>(SW_HIDE));
}

TEST_F(CommandRunner, CommandThatCannotStartReturnsZeroWithoutPolling) {
  counter_.Queue(2);
  const std::string missing = Quoted(HelperPath("qf_host_no_such_program.exe")) + " 1 2";
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCommandHidden(missing.c_str(), nullptr, 1, 2), 0);
  EXPECT_LT(ElapsedMsSince(start), 900u);
  EXPECT_EQ(counter_.dispatched(), 0);
  EXPECT_EQ(RunCommandHidden(nullptr, nullptr, 1, 2), 0);
}

TEST_F(CommandRunner, RunsInTheGivenCurrentDirectory) {
  hosttest::ScratchFolder folder("cwd");
  const std::string report = folder.File("cwd.txt");
  const std::string command = ChildCommand(0, 0) + " " + Quoted(report);
  ASSERT_EQ(RunCommandHidden(command.c_str(), folder.path().c_str(), 1, 2), 1);
  EXPECT_EQ(lstrcmpiA(hosttest::ReadText(report).c_str(), folder.path().c_str()), 0)
      << hosttest::ReadText(report) << " vs " << folder.path();
}

TEST(PumpOneMessage, DispatchesOneMessageAndNeverWaits) {
  MessageCounter counter;
  const DWORD start = GetTickCount();
  PumpOneMessage();  // empty queue: back at once
  EXPECT_LT(ElapsedMsSince(start), 200u);
  counter.Queue(2);
  PumpOneMessage();
  EXPECT_EQ(counter.dispatched(), 1);
  PumpOneMessage();
  EXPECT_EQ(counter.dispatched(), 2);
}

TEST(PumpOneMessage, TakesThreadMessagesOffTheQueue) {
  MessageCounter counter;
  PostThreadMessageA(GetCurrentThreadId(), WM_APP + 3, 0, 0);
  PumpOneMessage();
  MSG message;
  EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
}

TEST(PumpOneMessage, TranslatesKeysBeforeDispatching) {
  MessageCounter counter;
  PostMessageA(counter.window(), WM_KEYDOWN, 'A', 0x001E0001);
  PumpOneMessage();
  PumpOneMessage();  // the character message the translation queued
  ASSERT_GE(counter.seen.size(), 2u);
  EXPECT_EQ(counter.seen[0], static_cast<UINT>(WM_KEYDOWN));
  EXPECT_EQ(counter.seen[1], static_cast<UINT>(WM_CHAR));
}

bool RunsUnderWow64() {
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto isWow64 = reinterpret_cast<IsWow64ProcessFunction>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
  BOOL wow64 = FALSE;
  return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

TEST(FsRedirection, SwitchingOffAndBackLeavesTheSystemDirectoryUsable) {
  void* token = DisableFsRedirection();
  const int reverted = RevertFsRedirection(token);
  char directory[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(directory, MAX_PATH), 0u);
  EXPECT_TRUE(hosttest::FileExists(std::string(directory) + "\\kernel32.dll"));
  if (RunsUnderWow64()) {
    // A 32-bit process on a 64-bit host: redirection was off and is on again.
    EXPECT_EQ(reverted, 1);
  } else {
    // A native process is not redirected: nothing to switch back on.
    EXPECT_EQ(token, nullptr);
    EXPECT_EQ(reverted, 0);
  }
}

}  // namespace
