// What the status panel shows for the answers of the firewall questions, and
// how each of its lines is written.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "hardening/guarded_ports.h"
#include "hardening/host_reports.h"

using ColourRef = std::uint32_t;  // 0x00BBGGRR, as the window system takes it

inline constexpr ColourRef kColourGreen = 0x008000;
inline constexpr ColourRef kColourRed = 0x0000FF;
inline constexpr ColourRef kColourBlue = 0xFF0000;
inline constexpr ColourRef kColourPanelBackground = 0xFFDEC5;

inline constexpr int kFirewallLineId = 1000;
inline constexpr int kProgressLineId = 1008;
inline constexpr int kHardenButtonId = 1007;
inline constexpr int kExitButtonId = 1;  // IDOK

// A guarded port and the control of its status line; in the order the
// panel is written (the 136 and 137 ids are out of sequence).
struct PortLine {
  int port;
  int controlId;
};
inline constexpr std::array<PortLine, 6> kPortLines{
    {{445, 1001}, {135, 1002}, {136, 1004}, {137, 1003}, {138, 1005}, {139, 1006}}};

constexpr bool PortLinesFollowGuardedPorts() {
  for (std::size_t i = 0; i < kPortLines.size(); ++i) {
    if (kPortLines[i].port != kGuardedPorts[i]) return false;
  }
  return kPortLines.size() == kGuardedPorts.size();
}
static_assert(PortLinesFollowGuardedPorts(), "the panel lists the guarded ports in their order");

// Text and colour of one line.
struct LineLook {
  const char* textCp936;
  ColourRef textColour;
};

LineLook FirewallLook(bool firewallOn);
// The advanced policy answers whether a rule blocks the port.
LineLook PortLookFromBlocked(bool blocked);
// The legacy profile answers whether the port is open.
LineLook PortLookFromOpen(bool open);

// The five label operations of one line write.
enum class LineOperation {
  SetText,
  SetTextColourRedraw,
  SetBoldNoRedraw,
  SetFontNoRedraw,
  SetBackgroundRedraw,
};
enum class LineKind { Firewall, Port, Progress };

std::array<LineOperation, 5> LineWriteOrder(LineKind kind);

struct LineStyle {
  int fontPoints;
  bool bold;
  const char* faceCp936;
  ColourRef background;
};
LineStyle StyleOf(LineKind kind);

// The progress line's last text and colour after a run.
struct CompletionLook {
  const char* textCp936;
  ColourRef colour;
};
CompletionLook CompletionLookOf(bool complete);

// An undo is done when the host reads as the restore point had it and the
// restore point is gone, or when there was none: blue; else red.
bool IsRestoreDone(const qf::hardening::RestoreReport& report);
CompletionLook RestoreLookOf(const qf::hardening::RestoreReport& report);
// What an undo that is not done prints on standard output: its failed steps,
// what still differs, whether the restore point was kept.
std::vector<std::string> RestoreFailureLines(const qf::hardening::RestoreReport& report);
