#include <gtest/gtest.h>

#include <string>

#include "host/command_outcome.h"
#include "host/legacy_port_closing_batch.h"
#include "host/system_tool_path.h"

namespace {

TEST(LegacyPortClosingBatch, EightLinesWordForWordWith138Before137AndNo136) {
  const auto& commands = LegacyPortClosingCommands();
  ASSERT_EQ(commands.size(), 8u);
  EXPECT_STREQ(commands[0], "netsh firewall set opmode enable");
  const char* ports[] = {"445", "135", "138", "137", "139"};
  for (int i = 0; i < 5; ++i) {
    const std::string expected = std::string("netsh firewall set portopening protocol = ALL port = ") + ports[i] +
                                 " name = " + ports[i] + " mode = DISABLE scope = ALL profile = ALL";
    EXPECT_EQ(commands[i + 1], expected) << i + 1;
  }
  // The service exceptions once the port openings are closed, Remote Administration last.
  EXPECT_STREQ(commands[6], "netsh firewall set service type = FILEANDPRINT mode = DISABLE scope = ALL profile = ALL");
  EXPECT_STREQ(commands[7], "netsh firewall set service type = REMOTEADMIN mode = DISABLE profile = ALL");
  for (const char* line : commands) EXPECT_EQ(std::string(line).find("136"), std::string::npos);
}

TEST(CommandFailureCode, OnlyAStartedEndedCommandExitingZeroSucceeds) {
  CommandOutcome ok;
  ok.started = ok.ended = ok.exitCodeRead = true;
  EXPECT_EQ(CommandFailureCode(ok), 0u);
  CommandOutcome failed = ok;
  failed.exitCode = 1;
  EXPECT_EQ(CommandFailureCode(failed), 1u);
  failed.exitCode = 259;  // a command that ended with STILL_ACTIVE's value
  EXPECT_EQ(CommandFailureCode(failed), 259u);

  CommandOutcome notStarted;
  notStarted.error = 2;
  EXPECT_EQ(CommandFailureCode(notStarted), 2u);
  notStarted.error = 0;  // no reason given is still a failure
  EXPECT_EQ(CommandFailureCode(notStarted), kErrorGenFailure);

  CommandOutcome hung;
  hung.started = true;
  EXPECT_EQ(CommandFailureCode(hung), kErrorTimeout);

  CommandOutcome unreadable;
  unreadable.started = unreadable.ended = true;
  unreadable.error = 6;
  EXPECT_EQ(CommandFailureCode(unreadable), 6u);
  unreadable.error = 0;
  EXPECT_EQ(CommandFailureCode(unreadable), kErrorGenFailure);
}

TEST(SystemToolPath, NamesTheToolInsideTheSystemDirectory) {
  EXPECT_EQ(SystemToolPath("C:\\Windows\\system32", "netsh firewall set opmode enable"),
            "C:\\Windows\\system32\\netsh.exe");
  EXPECT_EQ(SystemToolPath("C:\\Windows\\system32\\", "netsh"), "C:\\Windows\\system32\\netsh.exe");
  EXPECT_EQ(SystemToolPath("C:\\W", "  \tnetsh  x"), "C:\\W\\netsh.exe");
  EXPECT_EQ(SystemToolPath("C:\\W", "netsh.exe firewall"), "C:\\W\\netsh.exe");
  EXPECT_EQ(SystemToolPath("C:\\W", "\"netsh\" firewall"), "C:\\W\\netsh.exe");
  EXPECT_EQ(SystemToolPath("C:\\W", "\"my tool.com\" a"), "C:\\W\\my tool.com");
}

TEST(SystemToolPath, RefusesWhatCouldEscapeTheSystemDirectory) {
  EXPECT_EQ(SystemToolPath("", "netsh firewall"), "");
  EXPECT_EQ(SystemToolPath("C:\\W", nullptr), "");
  for (const char* line :
       {"", "   ", "\"\" x", "..\\netsh x", "C:\\Downloads\\netsh.exe x", "sub/netsh", "\"D:netsh\"", "..", ". x"}) {
    EXPECT_EQ(SystemToolPath("C:\\W", line), "") << line;
  }
}

}  // namespace
