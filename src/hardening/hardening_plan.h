// The steps of one hardening run, in order, for a host class. The dialog
// carries out every step; a front without a window skips the ones that only
// show something.
#pragma once

#include <string>
#include <vector>

enum class HardeningAction {
  EnableControl,  // control, enable
  ShowProgress,   // text (code page 936)
  TurnOnLegacyFirewall,
  SetServiceStartType,   // text (service name), number (start type)
  StartServiceAndWait,   // text (service name), number (wait flag)
  ReopenAdvancedPolicy,  // when it fails, the steps that need the policy are skipped
  EnableAdvancedFirewall,
  AddBlockRule,      // number (IP protocol), portText
  RunSystemCommand,  // text (one netsh command line of the legacy batch)
  CloseLegacyProfile,
  OpenLegacyProfile,
  RefreshStatusAdvanced,
  RefreshStatusLegacy,
  ShowCompletion,  // the completion or the failure text, as the run turned out
};

// The dialog's controls a run switches off while it works.
enum class FrontControl { HardenButton, ExitButton };

struct HardeningStep {
  HardeningAction action;
  FrontControl control = FrontControl::HardenButton;
  bool enable = false;
  const char* text = nullptr;
  long number = 0;
  const wchar_t* portText = nullptr;
  bool needsAdvancedPolicy = false;
};

inline constexpr unsigned long kServiceAutoStart = 2;  // SERVICE_AUTO_START
inline constexpr long kWaitUntilRunning = 1;
inline constexpr long kProtocolTcp = 6;
inline constexpr long kProtocolUdp = 17;
inline constexpr char kAdvancedFirewallService[] = "MpsSvc";
inline constexpr char kLegacyFirewallService[] = "SharedAccess";

// The status panel reads the advanced policy wherever the run hardens through it.
bool UsesAdvancedRefresh(int hostClass);
// Vista and later have the advanced policy and MpsSvc and are hardened through them.
bool HardensThroughAdvancedPolicy(int hostClass);
// Windows 2000, XP, Server 2003 and unrecognised hosts use SharedAccess and netsh.
bool HardensThroughNetsh(int hostClass);

std::vector<HardeningStep> HardeningPlan(int hostClass);

// Whether the step's success is part of a complete run. Switching the legacy
// firewall first is not: where the profile is not there yet, the later steps
// do the work.
bool IsCheckedStep(HardeningAction action);
// How standard output names the step, e.g. "StartServiceAndWait MpsSvc".
std::string StepName(const HardeningStep& step);
