#include "toolkit/xtp_button.h"

#include <string>

#include "toolkit/paint_manager.h"

CXTPButton::OwnedIcon::~OwnedIcon() { Reset(); }

void CXTPButton::OwnedIcon::Reset(HICON icon) {
  if (m_icon) ::DestroyIcon(m_icon);
  m_icon = icon;
}

namespace {

// An icon of exactly the size asked, owned by the caller. A resource icon
// is rebuilt from its best resource image; any other is scaled.
HICON SizedCopy(HICON icon, SIZE size) {
  if (!icon) return nullptr;
  HANDLE copy = ::CopyImage(icon, IMAGE_ICON, size.cx, size.cy, LR_COPYFROMRESOURCE);
  if (!copy) copy = ::CopyImage(icon, IMAGE_ICON, size.cx, size.cy, 0);
  return static_cast<HICON>(copy);
}

std::wstring WindowText(HWND hwnd) {
  const int length = ::GetWindowTextLengthW(hwnd);
  if (length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const int copied = ::GetWindowTextW(hwnd, text.data(), length + 1);
  text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
  return text;
}

}  // namespace

CXTPButton::~CXTPButton() = default;

void CXTPButton::SetIcon(SIZE size, HICON normal, HICON hot, BOOL redraw) {
  m_normal.Reset(SizedCopy(normal, size));
  m_hot.Reset(SizedCopy(hot, size));
  m_iconSize = m_normal.Get() ? size : SIZE{};
  if (redraw && m_hWnd) ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

HICON CXTPButton::GetIcon() const { return m_normal.Get(); }

HICON CXTPButton::GetHotIcon() const { return m_hot.Get(); }

SIZE CXTPButton::GetIconSize() const { return m_iconSize; }

bool CXTPButton::IsDefaultButton() const { return m_isDefault; }

void CXTPButton::PreSubclassWindow() {
  const LONG_PTR style = ::GetWindowLongPtrW(m_hWnd, GWL_STYLE);
  m_isDefault = (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
  ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW);
}

bool CXTPButton::OnChildNotify(UINT msg, WPARAM, LPARAM lParam, LRESULT* result) {
  if (msg != WM_DRAWITEM) return false;
  const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
  if (!item || item->CtlType != ODT_BUTTON) return false;
  DrawItem(*item);
  *result = TRUE;
  return true;
}

void CXTPButton::DrawItem(const DRAWITEMSTRUCT& item) {
  const std::wstring caption = WindowText(m_hWnd);
  ButtonPaintRequest request;
  request.dc = item.hDC;
  request.rect = item.rcItem;
  request.caption = caption.c_str();
  request.state.disabled = (item.itemState & ODS_DISABLED) != 0 || !::IsWindowEnabled(m_hWnd);
  request.state.pressed = (item.itemState & ODS_SELECTED) != 0;
  request.state.focused = (item.itemState & ODS_FOCUS) != 0;
  request.state.hot = m_hotTracking;
  request.state.isDefault = m_isDefault;
  request.image = (request.state.hot && m_hot.Get()) ? m_hot.Get() : m_normal.Get();
  request.imageSize = m_iconSize;
  request.font = reinterpret_cast<HFONT>(::SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
  XTPPaintManager()->DrawButton(request);
}

void CXTPButton::TrackLeave() {
  TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, m_hWnd, 0};
  ::TrackMouseEvent(&track);
}

LRESULT CXTPButton::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_ERASEBKGND:
      return TRUE;  // the owner drawing covers every pixel
    case WM_GETDLGCODE:
      // Owner-drawn buttons would drop out of the dialog manager's
      // default-button handling; take part as a push button.
      return DLGC_BUTTON | (m_isDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_SETSTYLE: {
      const UINT type = static_cast<UINT>(wParam) & BS_TYPEMASK;
      if (type == BS_DEFPUSHBUTTON || type == BS_PUSHBUTTON) {
        m_isDefault = type == BS_DEFPUSHBUTTON;
        const WPARAM kept = (wParam & ~static_cast<WPARAM>(BS_TYPEMASK)) | BS_OWNERDRAW;
        const LRESULT result = CWnd::WindowProc(msg, kept, lParam);
        if (lParam) ::InvalidateRect(m_hWnd, nullptr, FALSE);
        return result;
      }
      break;
    }
    case WM_MOUSEMOVE:
      if (!m_hotTracking) {
        m_hotTracking = true;
        TrackLeave();
        ::InvalidateRect(m_hWnd, nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      m_hotTracking = false;
      ::InvalidateRect(m_hWnd, nullptr, FALSE);
      break;
    case WM_ENABLE:
      if (!wParam) m_hotTracking = false;
      ::InvalidateRect(m_hWnd, nullptr, FALSE);
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, wParam, lParam);
}
