#include <gtest/gtest.h>

#include "host/command_runner.h"
#include "host/legacy_port_closing_batch.h"
#include "wine_test_support.h"

namespace {

using hosttest::ElapsedMsSince;
using hosttest::FileExists;
using hosttest::HelperPath;
using hosttest::OwnFolder;

// A netsh.exe that leaves a marker when run, planted beside the test program
// and in the current directory: the two places a plain search looks first.
class PlantedNetsh : public ::testing::Test {
 protected:
  void SetUp() override {
    besideProgram_ = OwnFolder() + "netsh.exe";
    inCurrentDirectory_ = folder_.File("netsh.exe");
    ASSERT_TRUE(CopyFileA(HelperPath("qf_host_planted_tool.exe").c_str(), besideProgram_.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(HelperPath("qf_host_planted_tool.exe").c_str(), inCurrentDirectory_.c_str(), FALSE));
    GetCurrentDirectoryA(MAX_PATH, savedDirectory_);
    ASSERT_TRUE(SetCurrentDirectoryA(folder_.path().c_str()));
  }
  void TearDown() override {
    SetCurrentDirectoryA(savedDirectory_);
    for (const std::string& planted : {besideProgram_, inCurrentDirectory_}) {
      DeleteFileA(planted.c_str());
      DeleteFileA((planted + ".ran").c_str());
    }
  }
  bool PlantedRan() const { return FileExists(besideProgram_ + ".ran") || FileExists(inCurrentDirectory_ + ".ran"); }

  hosttest::ScratchFolder folder_{"planted"};
  std::string besideProgram_;
  std::string inCurrentDirectory_;
  char savedDirectory_[MAX_PATH] = {};
};

TEST_F(PlantedNetsh, APlainSearchWouldPickThePlantedTool) {
  // Shows the planting is effective, so the tests below mean something.
  ASSERT_EQ(RunCommandHidden("netsh firewall set opmode enable", nullptr, 1, 2), 1);
  EXPECT_TRUE(PlantedRan());
}

TEST_F(PlantedNetsh, SystemCommandRunsOnlyTheSystemDirectorysTool) {
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunSystemCommand("netsh firewall set opmode enable"), 1);
  EXPECT_LT(ElapsedMsSince(start), 16000u);
  EXPECT_FALSE(PlantedRan());
}

TEST_F(PlantedNetsh, LegacyBatchRunsEveryCommandAndReturnsTheLastResult) {
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunLegacyPortClosing(), 1);
  const DWORD elapsed = ElapsedMsSince(start);
  EXPECT_FALSE(PlantedRan());
  // A run of a tool that ends at once per command (Wine's own netsh takes a
  // good part of a second to start under load).
  EXPECT_LT(elapsed, kLegacyPortClosingCommandCount * 2500u);
  std::printf("legacy batch under Wine: %lu ms\n", static_cast<unsigned long>(elapsed));
}

TEST(SystemCommand, RefusesToolsNamedWithAPath) {
  EXPECT_EQ(RunSystemCommand("..\\netsh firewall set opmode enable"), 0);
  EXPECT_EQ(RunSystemCommand((hosttest::Quoted(HelperPath("qf_host_child.exe")) + " 0 0").c_str()), 0);
  EXPECT_EQ(RunSystemCommand(""), 0);
  EXPECT_EQ(RunSystemCommand(nullptr), 0);
}

TEST(SystemCommand, MissingSystemToolIsNotStarted) {
  const DWORD start = GetTickCount();
  EXPECT_EQ(RunSystemCommand("qf_host_no_such_tool firewall"), 0);
  EXPECT_LT(ElapsedMsSince(start), 900u);
  const CommandOutcome outcome = RunSystemCommandFor("qf_host_no_such_tool firewall");
  EXPECT_FALSE(outcome.started);
  EXPECT_NE(CommandFailureCode(outcome), 0u);
}

TEST(SystemCommand, OutcomeOfTheSystemsOwnToolIsReadBack) {
  // Wine's netsh answers the legacy firewall commands and exits 0.
  const CommandOutcome outcome = RunSystemCommandFor("netsh firewall set opmode enable");
  EXPECT_TRUE(outcome.started);
  EXPECT_TRUE(outcome.ended);
  EXPECT_TRUE(outcome.exitCodeRead);
  EXPECT_EQ(CommandFailureCode(outcome), outcome.exitCode);
}

}  // namespace
