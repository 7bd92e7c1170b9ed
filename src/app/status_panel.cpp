#include "app/status_panel.h"

#include "app/panel_texts.h"

LineLook FirewallLook(bool firewallOn) {
  return firewallOn ? LineLook{kTextFirewallOn, kColourGreen} : LineLook{kTextFirewallOff, kColourRed};
}

LineLook PortLookFromBlocked(bool blocked) {
  return blocked ? LineLook{kTextPortBlocked, kColourRed} : LineLook{kTextPortAllowed, kColourGreen};
}

LineLook PortLookFromOpen(bool open) { return PortLookFromBlocked(!open); }

std::array<LineOperation, 5> LineWriteOrder(LineKind kind) {
  using Op = LineOperation;
  if (kind == LineKind::Port) {
    return {Op::SetTextColourRedraw, Op::SetText, Op::SetBoldNoRedraw, Op::SetFontNoRedraw, Op::SetBackgroundRedraw};
  }
  return {Op::SetText, Op::SetTextColourRedraw, Op::SetBoldNoRedraw, Op::SetFontNoRedraw, Op::SetBackgroundRedraw};
}

LineStyle StyleOf(LineKind kind) {
  const int points = kind == LineKind::Progress ? 16 : 12;
  return LineStyle{points, true, kPanelFaceCp936, kColourPanelBackground};
}

CompletionLook CompletionLookOf(bool complete) {
  if (complete) return {kTextHardeningDone, kColourBlue};
  return {kTextHardeningIncomplete, kColourRed};
}
