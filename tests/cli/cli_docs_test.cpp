// docs/command-line.md shows real renderings: its unabridged examples must be
// what the output code prints today.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_arguments.h"
#include "cli/cli_exit_codes.h"
#include "cli/cli_output.h"
#include "sample_reports.h"

namespace qf::cli {
namespace {

std::string ReadDoc() {
  std::ifstream file(QF_COMMAND_LINE_DOC, std::ios::binary);
  EXPECT_TRUE(file) << "cannot read " << QF_COMMAND_LINE_DOC;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The contents of every fenced block, each ending with a newline.
std::vector<std::string> FencedBlocks(const std::string& doc) {
  std::vector<std::string> blocks;
  std::istringstream lines(doc);
  std::string line, block;
  bool inside = false;
  while (std::getline(lines, line)) {
    const size_t fence = line.find("```");
    if (fence != std::string::npos && line.find_first_not_of(' ') == fence) {
      if (inside) blocks.push_back(block);
      inside = !inside;
      block.clear();
      continue;
    }
    // Blocks inside list items are indented; the examples here are not.
    if (inside) block += line + "\n";
  }
  return blocks;
}

bool HasBlock(const std::vector<std::string>& blocks, const std::string& text) {
  for (const std::string& block : blocks) {
    if (block == text) return true;
  }
  return false;
}

TEST(CommandLineDoc, UnabridgedExamplesAreTheRenderingsOfToday) {
  const auto blocks = FencedBlocks(ReadDoc());
  ASSERT_GE(blocks.size(), 10u);

  EXPECT_TRUE(HasBlock(blocks, StatusText(samples::AdvancedExposed())));
  EXPECT_TRUE(HasBlock(blocks, StatusText(samples::LegacyHardened())));
  hardening::HardenReport first;
  first.changed = true;
  first.restorePointSaved = true;
  first.rulesAdded = 12;
  first.after = samples::AdvancedHardened();
  EXPECT_TRUE(HasBlock(blocks, HardenText(first)));
  EXPECT_TRUE(HasBlock(blocks, RestoreText(hardening::RestoreReport{})));
  hardening::HardenReport refused;
  refused.refused = true;
  refused.after = samples::DomainControllerExposed();
  EXPECT_TRUE(HasBlock(blocks, HardenText(refused)));
  EXPECT_TRUE(HasBlock(blocks, CheckLine(samples::AdvancedHardened())));
  EXPECT_TRUE(HasBlock(blocks, WhatIfText(samples::AdvancedWhatIf())));

  const ParsedArguments parsed = ParseArguments({"harde"});
  ASSERT_FALSE(parsed.request);
  EXPECT_TRUE(HasBlock(blocks, UsageErrorText(parsed.error)));
}

TEST(CommandLineDoc, ExitCodeTableMatchesTheProgram) {
  const std::string doc = ReadDoc();
  for (int code : {kExitSuccess, kExitNotHardened, kExitStepFailed, kExitNotElevated, kExitRefused, kExitUsage}) {
    EXPECT_NE(doc.find("\n| " + std::to_string(code) + " | "), std::string::npos) << code;
    EXPECT_NE(UsageText().find("\n  " + std::to_string(code) + " "), std::string::npos) << code;
  }
}

}  // namespace
}  // namespace qf::cli
