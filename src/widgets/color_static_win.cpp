#include "widgets/color_static.h"

#include <cwchar>
#include <string>

#include "framework/cp936_text.h"
#include "widgets/font_record_rules.h"
#include "widgets/static_draw_flags.h"

namespace {

constexpr UINT kRedrawFlags = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
constexpr int kFallbackDotsPerInch = 96;

HFONT FontOfWindowOrStock(HWND hwnd) {
  auto font = reinterpret_cast<HFONT>(::SendMessageW(hwnd, WM_GETFONT, 0, 0));
  if (!font) font = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  if (!font) font = static_cast<HFONT>(::GetStockObject(ANSI_VAR_FONT));
  return font;
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

CXColorStatic::CXColorStatic()
    : m_textColour(::GetSysColor(COLOR_BTNTEXT)),
      m_backgroundColour(::GetSysColor(COLOR_BTNFACE)),
      m_backgroundBrush(std::make_unique<CBrush>(m_backgroundColour)) {}

CXColorStatic::~CXColorStatic() = default;

void CXColorStatic::PreSubclassWindow() {
  LOGFONTW record{};
  if (::GetObjectW(FontOfWindowOrStock(m_hWnd), sizeof(record), &record) == sizeof(record)) {
    m_font.CreateFontIndirect(&record);
  }
}

LOGFONTW CXColorStatic::WindowFontRecord() const {
  LOGFONTW record{};
  if (m_hWnd && ::GetObjectW(FontOfWindowOrStock(m_hWnd), sizeof(record), &record) != sizeof(record)) {
    record = LOGFONTW{};
  }
  return record;
}

// A hidden label has nothing on screen to redraw; its window's showing draws
// it. (The dialog sets its lines before it first shows.)
void CXColorStatic::RedrawIf(BOOL redraw) {
  if (redraw && m_hWnd && ::IsWindowVisible(m_hWnd)) RedrawWindow(nullptr, nullptr, kRedrawFlags);
}

void CXColorStatic::SetTextColor(COLORREF colour, BOOL redraw) {
  m_textColour = colour;
  RedrawIf(redraw);
}

void CXColorStatic::SetBackgroundColor(COLORREF colour, BOOL redraw) {
  m_backgroundColour = colour;
  m_backgroundBrush = std::make_unique<CBrush>(colour);
  RedrawIf(redraw);
}

void CXColorStatic::SetBold(BOOL bold, BOOL redraw) {
  m_bold = bold;
  // Starts again from the dialog's font, not from the label's own.
  LOGFONTW record = WindowFontRecord();
  record.lfWeight = widgets::WeightForBold(bold);
  SetFont(&record, redraw);
}

void CXColorStatic::SetFont(const char* faceCp936, int points, BOOL redraw) {
  LOGFONTW record{};
  if (faceCp936) {
    const std::wstring face = WideFromCp936(widgets::FaceFieldBytes(faceCp936));
    std::wcsncpy(record.lfFaceName, face.c_str(), LF_FACESIZE - 1);
  } else {
    record = WindowFontRecord();
  }
  record.lfHeight = PointsToHeight(points);
  SetFont(&record, redraw);
}

void CXColorStatic::SetFont(const LOGFONTW* font, BOOL redraw) {
  if (!font) return;
  m_font.DeleteObject();
  LOGFONTW record = *font;
  record.lfWeight = widgets::WeightForBold(m_bold);
  m_font.CreateFontIndirect(&record);
  RedrawIf(redraw);
}

COLORREF CXColorStatic::GetTextColor() const { return m_textColour; }

COLORREF CXColorStatic::GetBackgroundColor() const { return m_backgroundColour; }

BOOL CXColorStatic::GetBold() const { return m_bold; }

HFONT CXColorStatic::GetFontHandle() const { return m_font.GetSafeHandle(); }

LRESULT CXColorStatic::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return EraseBackground(reinterpret_cast<HDC>(wParam));
    default:
      return CStatic::WindowProc(msg, wParam, lParam);
  }
}

void CXColorStatic::Paint() {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(m_hWnd, &paint);
  if (!dc) return;
  const int saved = ::SaveDC(dc);
  ::SetTextColor(dc, m_textColour);
  ::SetBkColor(dc, m_backgroundColour);
  ::SetBkMode(dc, OPAQUE);
  ::SelectObject(dc, m_backgroundBrush->GetSafeHandle());
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  if (m_font.GetSafeHandle()) ::SelectObject(dc, m_font.GetSafeHandle());
  const std::wstring text = WindowText(m_hWnd);
  const auto style = static_cast<std::uint32_t>(::GetWindowLongPtrW(m_hWnd, GWL_STYLE));
  if (!text.empty()) {
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &client, widgets::DrawFlagsFromStaticStyle(style));
  }
  if (saved) ::RestoreDC(dc, -1);
  ::EndPaint(m_hWnd, &paint);
}

BOOL CXColorStatic::EraseBackground(HDC dc) {
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc, &client, m_backgroundBrush->GetSafeHandle());
  return TRUE;
}

namespace {

int DisplayDotsPerInch() {
  int dotsPerInch = kFallbackDotsPerInch;
  if (HDC display = ::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr)) {
    dotsPerInch = ::GetDeviceCaps(display, LOGPIXELSY);
    ::DeleteDC(display);
  }
  return dotsPerInch;
}

}  // namespace

int PointsToHeight(int points) {
  // A display DC costs milliseconds and every panel line asks; the
  // resolution of these systems changes only with a new logon.
  static const int dotsPerInch = DisplayDotsPerInch();
  return widgets::HeightForPoints(points, dotsPerInch);
}
