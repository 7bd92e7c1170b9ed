#include "widgets/base_color_dialog.h"

CBaseColorDialog::CBaseColorDialog(UINT templateId, HWND parent)
    : CDialog(templateId, parent),
      m_panelBrush(kPanelBackground),
      m_panelBrushHandle(::CreateSolidBrush(kPanelBackground)) {}

CBaseColorDialog::~CBaseColorDialog() {
  m_panelBrush.DeleteObject();
  if (m_panelBrushHandle) ::DeleteObject(m_panelBrushHandle);
}

void CBaseColorDialog::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

LRESULT CBaseColorDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC) {
    const auto brush =
        OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam), msg - WM_CTLCOLORMSGBOX);
    return reinterpret_cast<LRESULT>(brush);
  }
  if (msg == WM_ERASEBKGND) return OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
  return CDialog::WindowProc(msg, wParam, lParam);
}

HBRUSH CBaseColorDialog::OnCtlColor(HDC dc, HWND control, UINT kind) {
  // The default first: the control may answer for itself, else the system.
  LRESULT answer = 0;
  CWnd* child = FromHandlePermanent(control);
  if (!child || child == this ||
      !child->OnChildNotify(WM_CTLCOLORMSGBOX + kind, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control),
                            &answer)) {
    answer = Default();
  }
  const auto defaultBrush = reinterpret_cast<HBRUSH>(answer);
  if (kind == CTLCOLOR_EDIT || kind == CTLCOLOR_LISTBOX) return defaultBrush;
  ::SetBkMode(dc, TRANSPARENT);
  return m_panelBrushHandle;
}

BOOL CBaseColorDialog::OnEraseBkgnd(HDC dc) {
  const HGDIOBJ previous = ::SelectObject(dc, m_panelBrush.GetSafeHandle());
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, m_panelBrush.GetSafeHandle());
  if (previous) ::SelectObject(dc, previous);
  return TRUE;
}
