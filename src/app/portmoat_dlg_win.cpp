#include "app/portmoat_dlg.h"

#include <netfw.h>

#include <cstdio>
#include <utility>
#include <vector>

#include "resource.h"
#include "app/minimized_icon.h"
#include "app/panel_texts.h"
#include "app/portmoat_app.h"
#include "app/run_guard.h"
#include "framework/cp936_text.h"
#include "hardening/host_access.h"
#include "host/host_identification.h"
#include "host/host_role_win.h"

CPortmoatDlg::CPortmoatDlg(HWND parent)
    : CBaseColorDialog(IDD_QUILLFORT_DIALOG, parent),
      m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)),
      m_hHardenIcon(AfxGetApp()->LoadIcon(IDI_HARDEN)),
      m_hExitIcon(AfxGetApp()->LoadIcon(IDI_EXIT)) {}

// The icons are shared resource icons; the system frees them with the module.
CPortmoatDlg::~CPortmoatDlg() = default;

void CPortmoatDlg::DoDataExchange(CDataExchange* pDX) {
  CBaseColorDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDOK, m_exitButton);
  DDX_Control(pDX, IDC_PORT445_STATUS, m_port445Line);
  DDX_Control(pDX, IDC_PORT135_STATUS, m_port135Line);
  DDX_Control(pDX, IDC_PORT136_STATUS, m_port136Line);
  DDX_Control(pDX, IDC_PORT137_STATUS, m_port137Line);
  DDX_Control(pDX, IDC_PORT138_STATUS, m_port138Line);
  DDX_Control(pDX, IDC_PORT139_STATUS, m_port139Line);
  DDX_Control(pDX, IDC_FIREWALL_STATUS, m_firewallLine);
  DDX_Control(pDX, IDC_HARDEN, m_hardenButton);
  DDX_Control(pDX, IDC_PROGRESS, m_progressLine);
}

BOOL CPortmoatDlg::OnInitDialog() {
  CBaseColorDialog::OnInitDialog();

  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  m_hardenButton.SetIcon(SIZE{32, 32}, m_hHardenIcon, nullptr, TRUE);
  m_exitButton.SetIcon(SIZE{16, 16}, m_hExitIcon, nullptr, TRUE);

  IdentifyHost();
  // The template stays as it is: the undo item joins the system menu here.
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_UNDO_HARDENING, WideFromCp936(kTextUndoMenuItem).c_str());
  }
  UpdateUndoItem();
  ShowProgress(std::string());
  if (UsesAdvancedRefresh(g_hostClass)) {
    RefreshStatusAdvanced();
  } else {
    RefreshStatusLegacy();
  }
  // The system focuses the first tab stop, the exit button.
  return TRUE;
}

void CPortmoatDlg::IdentifyHost() {
  g_bitnessCode = GetBitnessCode();
  g_hostLabel = GetHostLabel();
  ClassifyHost();
}

bool CPortmoatDlg::OnCommand(int id, int notifyCode, HWND control) {
  // Enter, Escape, the close box and Alt+F4 all arrive here; during a run
  // the dialog must not end under it.
  if (m_hardening && notifyCode == BN_CLICKED && (id == IDOK || id == IDCANCEL)) {
    if (m_heldClose == 0) m_heldClose = id;
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDC_HARDEN) {
    OnHarden();
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDOK) {
    OnOK();
    return true;
  }
  return CBaseColorDialog::OnCommand(id, notifyCode, control);
}

LRESULT CPortmoatDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      if (IsIconic(m_hWnd)) {
        PaintMinimized();
        return 0;
      }
      break;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(m_hIcon);
    case WM_INITMENUPOPUP:
      if (HIWORD(lParam) != 0) UpdateUndoItem();
      break;
    case WM_SYSCOMMAND:
      // The low four bits are the system's own.
      if ((wParam & 0xFFF0) == IDM_UNDO_HARDENING) {
        OnRestore();
        return 0;
      }
      break;
    default:
      break;
  }
  return CBaseColorDialog::WindowProc(msg, wParam, lParam);
}

void CPortmoatDlg::PaintMinimized() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(m_hWnd, &client);
  const IconOrigin origin = CentredIconOrigin(client.right - client.left, client.bottom - client.top,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON));
  DrawIcon(dc, origin.x, origin.y, m_hIcon);
  EndPaint(m_hWnd, &paint);
}

void CPortmoatDlg::EnableItem(int controlId, BOOL enable) {
  if (HWND item = GetDlgItem(controlId)) {
    EnableWindow(item, enable);
  }
}

void CPortmoatDlg::OnHarden() {
  if (m_hardening) return;
  // A domain controller or a host with shares is asked about once, before
  // anything changes.
  const host::HostRole role = host::ReadHostRole();
  if (role.ServesGuardedPorts() && !ConfirmRunOnServingHost(m_hWnd, role)) {
    LogDialogRefusal(role, m_lastReading);
    return;
  }
  m_hardening = true;
  const HardeningRunResult run = RunHardening(g_hostClass, g_advancedFirewall, g_legacyFirewall, *this);
  m_hardening = false;
  LogDialogRun(run, role);
  UpdateUndoItem();
  CarryOutHeldClose();
}

void CPortmoatDlg::OnRestore() {
  if (m_hardening) return;
  m_hardening = true;
  UpdateUndoItem();
  EnableControl(FrontControl::HardenButton, false);
  EnableControl(FrontControl::ExitButton, false);
  ShowProgress(kTextRestoreStarted);
  const qf::hardening::RestoreReport report = qf::hardening::RunRestore(g_hostClass, *this);
  if (UsesAdvancedRefresh(g_hostClass)) {
    RefreshStatusAdvanced();
  } else {
    RefreshStatusLegacy();
  }
  if (!IsRestoreDone(report)) {
    for (const std::string& line : RestoreFailureLines(report)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  const CompletionLook look = RestoreLookOf(report);
  ShowProgress(look.textCp936, look.colour);
  LogDialogRestore(report, m_lastReading);
  EnableControl(FrontControl::HardenButton, true);
  EnableControl(FrontControl::ExitButton, true);
  m_hardening = false;
  UpdateUndoItem();
  CarryOutHeldClose();
}

void CPortmoatDlg::CarryOutHeldClose() {
  if (const int held = m_heldClose) {
    m_heldClose = 0;
    if (held == IDOK) {
      OnOK();
    } else {
      OnCancel();
    }
  }
}

void CPortmoatDlg::UpdateUndoItem() {
  HMENU menu = GetSystemMenu(m_hWnd, FALSE);
  if (menu == nullptr) return;
  const bool available = !m_hardening && qf::hardening::LoadRestorePoint(g_hostClass).found;
  EnableMenuItem(menu, IDM_UNDO_HARDENING, MF_BYCOMMAND | (available ? MF_ENABLED : MF_GRAYED));
}

void CPortmoatDlg::EnableControl(FrontControl control, bool enable) {
  EnableItem(control == FrontControl::HardenButton ? IDC_HARDEN : IDOK, enable ? TRUE : FALSE);
}

void CPortmoatDlg::ShowProgress(const char* textCp936) {
  ShowProgress(std::string(textCp936 != nullptr ? textCp936 : ""));
}

void CPortmoatDlg::ShowReading(const PanelReading& reading) {
  m_lastReading = reading;
  ShowReading();
}

void CPortmoatDlg::ShowCompletion(bool complete, const HardeningOutcome& outcome, const PanelReading& reading) {
  if (!complete) {
    for (const std::string& line : IncompleteRunLines(g_hostClass, outcome, reading)) std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  const CompletionLook look = CompletionLookOf(complete);
  ShowProgress(look.textCp936, look.colour);
}

CXColorStatic& CPortmoatDlg::PortLabel(int controlId) {
  switch (controlId) {
    case IDC_PORT445_STATUS:
      return m_port445Line;
    case IDC_PORT135_STATUS:
      return m_port135Line;
    case IDC_PORT136_STATUS:
      return m_port136Line;
    case IDC_PORT137_STATUS:
      return m_port137Line;
    case IDC_PORT138_STATUS:
      return m_port138Line;
    default:
      return m_port139Line;
  }
}

void CPortmoatDlg::WriteLine(CXColorStatic& label, HWND textWindow, LineKind kind, const char* textCp936,
                             COLORREF colour) {
  const LineStyle style = StyleOf(kind);
  for (LineOperation operation : LineWriteOrder(kind)) {
    switch (operation) {
      case LineOperation::SetText:
        if (textWindow != nullptr) {
          SetWindowTextW(textWindow, WideFromCp936(textCp936).c_str());
        }
        break;
      case LineOperation::SetTextColourRedraw:
        label.SetTextColor(colour, TRUE);
        break;
      case LineOperation::SetBoldNoRedraw:
        label.SetBold(style.bold ? TRUE : FALSE, FALSE);
        break;
      case LineOperation::SetFontNoRedraw:
        label.SetFont(style.faceCp936, style.fontPoints, FALSE);
        break;
      case LineOperation::SetBackgroundRedraw:
        label.SetBackgroundColor(style.background, TRUE);
        break;
    }
  }
}

void CPortmoatDlg::ShowProgress(std::string textCp936) { ShowProgress(std::move(textCp936), kColourBlue); }

void CPortmoatDlg::ShowProgress(std::string textCp936, COLORREF colour) {
  WriteLine(m_progressLine, m_progressLine.GetSafeHwnd(), LineKind::Progress, textCp936.c_str(), colour);
}

void CPortmoatDlg::ShowReading() {
  const LineLook firewall = FirewallLook(m_lastReading.firewallOn);
  WriteLine(m_firewallLine, GetDlgItem(kFirewallLineId), LineKind::Firewall, firewall.textCp936, firewall.textColour);
  for (size_t i = 0; i < kPortLines.size(); ++i) {
    const PortLine& line = kPortLines[i];
    const LineLook look = PortLookFromBlocked(m_lastReading.portBlocked[i]);
    WriteLine(PortLabel(line.controlId), GetDlgItem(line.controlId), LineKind::Port, look.textCp936, look.textColour);
  }
}

int CPortmoatDlg::RefreshStatusAdvanced() {
  ShowReading(ReadAdvancedPanel(g_advancedFirewall));
  return 1;
}

int CPortmoatDlg::RefreshStatusLegacy() {
  ShowReading(ReadLegacyPanel(g_legacyFirewall));
  return 1;
}
