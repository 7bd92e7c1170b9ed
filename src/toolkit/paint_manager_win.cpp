#include "toolkit/paint_manager.h"

#include <memory>

#include "toolkit/button_layout.h"

namespace {

constexpr int kResourceThemeNumber = 5;

struct ThemeSlot {
  std::unique_ptr<CXTPPaintManager> theme;
  int number = 0;
};

// Function-local, so the slot exists whenever a static object's constructor
// asks for the theme, and outlives that object.
ThemeSlot& Slot() {
  static ThemeSlot slot;
  return slot;
}

std::unique_ptr<CXTPPaintManager> MakeTheme(int number) {
  if (number == kResourceThemeNumber) return std::make_unique<CXTPResourceTheme>();
  return std::make_unique<CXTPPaintManager>();
}

class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_previous(object ? ::SelectObject(dc, object) : nullptr) {}
  ~SelectedObject() {
    if (m_previous) ::SelectObject(m_dc, m_previous);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_previous;
};

class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object) : m_object(object) {}
  ~GdiObject() {
    if (m_object) ::DeleteObject(m_object);
  }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ Get() const { return m_object; }

 private:
  HGDIOBJ m_object;
};

toolkit::Box BoxFrom(const RECT& r) { return {r.left, r.top, r.right, r.bottom}; }

RECT RectFrom(const toolkit::Box& b) { return {b.left, b.top, b.right, b.bottom}; }

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  GdiObject brush(::CreateSolidBrush(colour));
  if (brush.Get()) ::FillRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
}

void FrameWidth(HDC dc, RECT rect, COLORREF colour, int width) {
  GdiObject brush(::CreateSolidBrush(colour));
  if (!brush.Get()) return;
  for (int i = 0; i < width; ++i) {
    ::FrameRect(dc, &rect, static_cast<HBRUSH>(brush.Get()));
    ::InflateRect(&rect, -1, -1);
  }
}

// Washes a disabled button's image out towards the face colour.
void Veil(HDC dc, const RECT& area, COLORREF face) {
  HDC memory = ::CreateCompatibleDC(dc);
  if (!memory) return;
  {
    GdiObject bitmap(::CreateCompatibleBitmap(dc, 1, 1));
    SelectedObject selected(memory, bitmap.Get());
    ::SetPixel(memory, 0, 0, face);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 150, 0};
    ::GdiAlphaBlend(dc, area.left, area.top, area.right - area.left, area.bottom - area.top, memory, 0, 0, 1, 1, blend);
  }
  ::DeleteDC(memory);
}

}  // namespace

CXTPPaintManager::~CXTPPaintManager() = default;

CXTPPaintManager* CXTPPaintManager::Current() {
  ThemeSlot& slot = Slot();
  if (!slot.theme) {
    slot.theme = MakeTheme(0);
    slot.number = 0;
  }
  return slot.theme.get();
}

void CXTPPaintManager::SetTheme(int theme) {
  ThemeSlot& slot = Slot();
  slot.theme = MakeTheme(theme);  // the previous theme is released here
  slot.number = theme;
}

int CXTPPaintManager::CurrentThemeNumber() { return Slot().number; }

toolkit::ButtonColours CXTPPaintManager::ButtonColours(toolkit::ButtonVisualState state) const {
  return toolkit::DefaultThemeColours(state);
}

void CXTPPaintManager::DrawButton(const ButtonPaintRequest& request) const {
  HDC dc = request.dc;
  if (!dc) return;
  const toolkit::ButtonVisualState visual = toolkit::ResolveVisualState(request.state);
  const toolkit::ButtonColours colours = ButtonColours(visual);
  const int saved = ::SaveDC(dc);

  FillSolid(dc, request.rect, colours.face);
  FrameWidth(dc, request.rect, colours.border, toolkit::BorderWidth(request.state));

  if (request.font) ::SelectObject(dc, request.font);
  const wchar_t* caption = request.caption ? request.caption : L"";
  RECT measured{0, 0, 0, 0};
  const int length = static_cast<int>(wcslen(caption));
  if (length > 0) ::DrawTextW(dc, caption, length, &measured, DT_CALCRECT | DT_SINGLELINE);
  const toolkit::Extent image{request.image ? request.imageSize.cx : 0, request.image ? request.imageSize.cy : 0};
  const toolkit::Extent text{measured.right - measured.left, measured.bottom - measured.top};
  const toolkit::ButtonLayout layout =
      toolkit::LayOutButton(BoxFrom(request.rect), image, text, visual == toolkit::ButtonVisualState::Pressed);

  if (request.image && layout.image.Width() > 0) {
    ::DrawIconEx(dc, layout.image.left, layout.image.top, request.image, layout.image.Width(), layout.image.Height(), 0,
                 nullptr, DI_NORMAL);
    if (visual == toolkit::ButtonVisualState::Disabled) Veil(dc, RectFrom(layout.image), colours.face);
  }
  if (length > 0 && layout.caption.Width() > 0) {
    RECT textRect = RectFrom(layout.caption);
    ::SetBkMode(dc, TRANSPARENT);
    ::SetTextColor(dc, colours.text);
    ::DrawTextW(dc, caption, length, &textRect, DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_END_ELLIPSIS);
  }
  if (request.state.focused && !request.state.disabled) {
    RECT focus = request.rect;
    ::InflateRect(&focus, -3, -3);
    ::SetTextColor(dc, colours.focusRing);
    ::SetBkColor(dc, colours.face);
    ::DrawFocusRect(dc, &focus);
  }
  ::RestoreDC(dc, saved);
}

toolkit::ButtonColours CXTPResourceTheme::ButtonColours(toolkit::ButtonVisualState state) const {
  return toolkit::ResourceThemeColours(state);
}

CXTPPaintManager* XTPPaintManager() { return CXTPPaintManager::Current(); }
