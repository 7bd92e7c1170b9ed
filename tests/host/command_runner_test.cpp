#include "host/command_runner.h"

#include <gtest/gtest.h>

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

TEST_F(CommandRunner, PollLimitZeroGivesOnePassAndLeavesTheCommandRunning) {
  counter_.Queue(3);
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCommandHidden(ChildCommand(8000, 0).c_str(), nullptr, 1, 0), 0);
  const DWORD elapsed = ElapsedMsSince(start);
  EXPECT_GE(elapsed, 990u);  // the one pass still sleeps its second
  EXPECT_LT(elapsed, 1900u);
  EXPECT_EQ(counter_.dispatched(), 1);
  EXPECT_EQ(ChildProcesses(kChild).size(), 1u) << "the runner must not end the command";
}

TEST_F(CommandRunner, ExitCode259LooksStillRunningUntilTheLastPass) {
  counter_.Queue(5);
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunCommandHidden(ChildCommand(0, STILL_ACTIVE).c_str(), nullptr, 1, 1), 0);
  EXPECT_GE(ElapsedMsSince(start), 1980u);
  EXPECT_EQ(counter_.dispatched(), 2);  // one message per pass, limit + 1 passes
}

// Holds the first dispatched message until the child has ended, so the first
// exit-code read that follows it finds the command finished.
void WaitForChildToEnd(void*) {
  const DWORD start = GetTickCount();
  std::vector<DWORD> children;
  while ((children = ChildProcesses(kChild)).empty() && ElapsedMsSince(start) < 10000) Sleep(10);
  for (DWORD id : children) {
    const host::UniqueKernelHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (process) WaitForSingleObject(process.get(), 10000);
  }
}

TEST_F(CommandRunner, CommandEndedByTheFirstPollReturnsOneWithoutSleeping) {
  counter_.Queue(4);
  counter_.OnFirstMessage(WaitForChildToEnd, nullptr);
  // A failing exit code counts as ended all the same.
  EXPECT_EQ(RunCommandHidden(ChildCommand(0, 7).c_str(), nullptr, 1, 2), 1);
  EXPECT_EQ(counter_.dispatched(), 1) << "a second pass would have dispatched another message";
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
  counter_.OnFirstMessage(WaitForChildToEnd, nullptr);
  counter_.Queue(1);
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

TEST(FsRedirection, SwitchingOffAndBackLeavesTheSystemDirectoryUsable) {
  void* token = DisableFsRedirection();
  const int reverted = RevertFsRedirection(token);
  char directory[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryA(directory, MAX_PATH), 0u);
  EXPECT_TRUE(hosttest::FileExists(std::string(directory) + "\\kernel32.dll"));
  // This 64-bit process is not redirected: nothing to switch back on.
  EXPECT_EQ(token, nullptr);
  EXPECT_EQ(reverted, 0);
}

}  // namespace
