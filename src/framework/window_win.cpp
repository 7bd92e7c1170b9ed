#include "framework/framework.h"

namespace {
// The window property that points from a bound window to its object.
constexpr wchar_t kObjectProperty[] = L"Quillfort.CWnd";
}  // namespace

CWnd::~CWnd() {
  // An object that dies before its window gives the window back.
  if (m_hWnd) UnsubclassWindow();
}

HWND CWnd::GetSafeHwnd() const { return m_hWnd; }

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  if (!hwnd) return nullptr;
  return static_cast<CWnd*>(::GetPropW(hwnd, kObjectProperty));
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  if (!parent || !parent->m_hWnd) return FALSE;
  HWND item = ::GetDlgItem(parent->m_hWnd, static_cast<int>(id));
  return item ? SubclassWindow(item) : FALSE;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  if (m_hWnd || !hwnd || !::IsWindow(hwnd) || FromHandlePermanent(hwnd)) return FALSE;
  if (!::SetPropW(hwnd, kObjectProperty, this)) return FALSE;
  m_hWnd = hwnd;
  PreSubclassWindow();
  m_originalProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
  if (!m_originalProc) {
    ::RemovePropW(hwnd, kObjectProperty);
    m_hWnd = nullptr;
    return FALSE;
  }
  return TRUE;
}

HWND CWnd::UnsubclassWindow() {
  HWND hwnd = m_hWnd;
  if (!hwnd) return nullptr;
  if (m_originalProc) {
    ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_originalProc));
  }
  Detach();
  return hwnd;
}

void CWnd::Detach() {
  if (m_hWnd) ::RemovePropW(m_hWnd, kObjectProperty);
  m_hWnd = nullptr;
  m_originalProc = nullptr;
}

HWND CWnd::GetDlgItem(int id) const { return m_hWnd ? ::GetDlgItem(m_hWnd, id) : nullptr; }

BOOL CWnd::RedrawWindow(const RECT* rect, HRGN region, UINT flags) {
  return m_hWnd ? ::RedrawWindow(m_hWnd, rect, region, flags) : FALSE;
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return m_hWnd ? ::SendMessageW(m_hWnd, msg, wParam, lParam) : 0;
}

void CWnd::PreSubclassWindow() {}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

LRESULT CWnd::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) { return CallOriginal(msg, wParam, lParam); }

LRESULT CWnd::Default() { return CallOriginal(m_current.msg, m_current.wParam, m_current.lParam); }

LRESULT CWnd::CallOriginal(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (!m_hWnd) return 0;
  if (!m_originalProc) return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
  return ::CallWindowProcW(m_originalProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CWnd* self = FromHandlePermanent(hwnd);
  if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);

  const CurrentMessage outer = self->m_current;
  self->m_current = {msg, wParam, lParam};
  const LRESULT result = self->WindowProc(msg, wParam, lParam);
  self->m_current = outer;

  if (msg == WM_NCDESTROY && self->m_hWnd == hwnd) {
    // The window is gone: hand the original procedure back and let go.
    const WNDPROC original = self->m_originalProc;
    self->Detach();
    if (original) ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == self) app->OnMainWindowGone();
  }
  return result;
}
