// The main dialog: status panel, hardening button and exit button.
#pragma once

#include <windows.h>

#include <string>

#include "hardening/hardening_run.h"
#include "app/status_panel.h"
#include "toolkit/xtp_button.h"
#include "widgets/base_color_dialog.h"
#include "widgets/color_static.h"

class CPortmoatDlg : public CBaseColorDialog, private HardeningFront {
 public:
  explicit CPortmoatDlg(HWND parent = nullptr);
  ~CPortmoatDlg() override;

  // One hardening run for the host's class. A press while a run goes on
  // (its waits dispatch messages) is ignored.
  void OnHarden();
  // Undoes what runs changed, from the restore point, as the console
  // program's restore does; ignored while a run goes on.
  void OnRestore();
  void EnableItem(int controlId, BOOL enable);
  // textCp936: code page 936 bytes; blue unless told otherwise.
  void ShowProgress(std::string textCp936);
  void ShowProgress(std::string textCp936, COLORREF colour);
  int RefreshStatusAdvanced();
  int RefreshStatusLegacy();
  // What the last refresh showed.
  const PanelReading& LastReading() const { return m_lastReading; }
  bool IsHardening() const { return m_hardening; }

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int notifyCode, HWND control) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void PaintMinimized();
  // What a run shows, as the dialog shows it.
  void EnableControl(FrontControl control, bool enable) override;
  void ShowProgress(const char* textCp936) override;
  void ShowReading(const PanelReading& reading) override;
  void ShowCompletion(bool complete, const HardeningOutcome& outcome, const PanelReading& reading) override;
  void IdentifyHost();
  // Enables the system menu's undo item only when a restore point exists
  // and no run goes on.
  void UpdateUndoItem();
  // A close request that came during a run or an undo, after it.
  void CarryOutHeldClose();
  CXColorStatic& PortLabel(int controlId);
  // Writes the firewall line, then the six port lines, from m_lastReading.
  void ShowReading();
  void WriteLine(CXColorStatic& label, HWND textWindow, LineKind kind, const char* textCp936, COLORREF colour);

  HICON m_hIcon;
  HICON m_hHardenIcon;
  HICON m_hExitIcon;
  CXTPButton m_exitButton;
  CXColorStatic m_port445Line;
  CXColorStatic m_port135Line;
  CXColorStatic m_port136Line;
  CXColorStatic m_port137Line;
  CXColorStatic m_port138Line;
  CXColorStatic m_port139Line;
  CXColorStatic m_firewallLine;
  CXTPButton m_hardenButton;
  CXColorStatic m_progressLine;
  PanelReading m_lastReading;
  bool m_hardening = false;
  // A close request (IDOK or IDCANCEL) that came during a run, carried out after it.
  int m_heldClose = 0;
};
