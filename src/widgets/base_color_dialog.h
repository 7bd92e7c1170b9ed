// A dialog painted in the panel colour, whose system-drawn controls show
// through to it.
#pragma once

#include <windows.h>

#include "framework/framework.h"

constexpr COLORREF kPanelBackground = 0xFFDEC5;  // red 197, green 222, blue 255

class CBaseColorDialog : public CDialog {
 public:
  CBaseColorDialog(UINT templateId, HWND parent = nullptr);
  ~CBaseColorDialog() override;

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  HBRUSH OnCtlColor(HDC dc, HWND control, UINT kind);
  BOOL OnEraseBkgnd(HDC dc);

  CBrush m_panelBrush;                  // erases the client area
  HBRUSH m_panelBrushHandle = nullptr;  // handed out to control-colour requests
};
