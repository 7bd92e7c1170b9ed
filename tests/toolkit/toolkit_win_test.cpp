#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "framework/dialog_script.h"
#include "toolkit/paint_manager.h"
#include "toolkit/xtp_button.h"
#include "toolkit_test_resources.h"

namespace {

// A solid square icon of one colour.
class SolidIcon {
 public:
  SolidIcon(int size, COLORREF colour) {
    HDC screen = ::GetDC(nullptr);
    HBITMAP colourBits = ::CreateCompatibleBitmap(screen, size, size);
    HBITMAP maskBits = ::CreateBitmap(size, size, 1, 1, nullptr);
    HDC dc = ::CreateCompatibleDC(screen);
    HGDIOBJ old = ::SelectObject(dc, colourBits);
    HBRUSH brush = ::CreateSolidBrush(colour);
    RECT r{0, 0, size, size};
    ::FillRect(dc, &r, brush);
    ::SelectObject(dc, maskBits);
    ::PatBlt(dc, 0, 0, size, size, BLACKNESS);  // opaque everywhere
    ::SelectObject(dc, old);
    ::DeleteObject(brush);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    ICONINFO info{TRUE, 0, 0, maskBits, colourBits};
    icon = ::CreateIconIndirect(&info);
    ::DeleteObject(colourBits);
    ::DeleteObject(maskBits);
  }
  ~SolidIcon() { ::DestroyIcon(icon); }
  HICON icon;
};

class ButtonsDialog : public CDialog {
 public:
  ButtonsDialog() : CDialog(IDD_TOOLKIT_TEST) {}
  CXTPButton exit, harden;
  std::vector<std::pair<int, int>> commands;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDOK, exit);
    DDX_Control(pDX, IDC_HARDEN, harden);
  }
  bool OnCommand(int id, int notifyCode, HWND control) override {
    if (id == IDC_HARDEN) {
      commands.emplace_back(id, notifyCode);
      return true;
    }
    return CDialog::OnCommand(id, notifyCode, control);
  }
};

using Dialog = ScriptedDialog<ButtonsDialog>;

void RunInDialog(const std::function<void(Dialog&)>& steps, std::vector<std::pair<int, int>>* commands = nullptr) {
  Dialog dlg;
  dlg.onShown = [&](Dialog& d) {
    ::UpdateWindow(d.m_hWnd);
    steps(d);
    d.EndDialog(IDCANCEL);
  };
  ASSERT_EQ(dlg.DoModal(), IDCANCEL);
  if (commands) *commands = dlg.commands;
}

std::vector<COLORREF> Pixels(HWND hwnd, RECT* area) {
  ::GetClientRect(hwnd, area);
  std::vector<COLORREF> pixels;
  HDC dc = ::GetDC(hwnd);
  for (int y = 0; y < area->bottom; ++y)
    for (int x = 0; x < area->right; ++x) pixels.push_back(::GetPixel(dc, x, y));
  ::ReleaseDC(hwnd, dc);
  return pixels;
}

// Width and height of the largest run of one colour along a row and a column.
SIZE ExtentOf(HWND hwnd, COLORREF colour) {
  RECT r{};
  const std::vector<COLORREF> p = Pixels(hwnd, &r);
  LONG left = r.right, right = -1, top = r.bottom, bottom = -1;
  for (LONG y = 0; y < r.bottom; ++y)
    for (LONG x = 0; x < r.right; ++x)
      if (p[static_cast<size_t>(y * r.right + x)] == colour) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  if (right < 0) return {0, 0};
  return {right - left + 1, bottom - top + 1};
}

COLORREF Colour(toolkit::Colour c) { return static_cast<COLORREF>(c); }

void ClickAt(HWND button) {
  RECT r{};
  ::GetWindowRect(button, &r);
  ::SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(2, inputs, sizeof(INPUT));
  PumpPending();
}

// --- Theme ---------------------------------------------------------------

TEST(Theme, AccessorCreatesTheDefaultThemeAndSelectionReplacesIt) {
  CXTPPaintManager* first = XTPPaintManager();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(CXTPPaintManager::Current(), first);
  EXPECT_EQ(CXTPPaintManager::CurrentThemeNumber(), 0);
  EXPECT_EQ(dynamic_cast<CXTPResourceTheme*>(first), nullptr);

  CXTPPaintManager::SetTheme(5);
  CXTPPaintManager* resource = XTPPaintManager();
  EXPECT_NE(dynamic_cast<CXTPResourceTheme*>(resource), nullptr);
  EXPECT_EQ(CXTPPaintManager::CurrentThemeNumber(), 5);
  EXPECT_EQ(resource->ButtonColours(toolkit::ButtonVisualState::Normal).face,
            toolkit::ResourceThemeColours(toolkit::ButtonVisualState::Normal).face);

  CXTPPaintManager::SetTheme(2);
  EXPECT_EQ(CXTPPaintManager::CurrentThemeNumber(), 2);
  EXPECT_EQ(dynamic_cast<CXTPResourceTheme*>(XTPPaintManager()), nullptr);
  CXTPPaintManager::SetTheme(5);
}

// --- Button --------------------------------------------------------------

TEST(XtpButton, BecomesOwnerDrawnKeepsTheDefaultAndPaintsInTheThemeColours) {
  CXTPPaintManager::SetTheme(5);
  RunInDialog([](Dialog& d) {
    EXPECT_EQ(::GetWindowLongPtrW(d.harden.m_hWnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_EQ(::GetWindowLongPtrW(d.exit.m_hWnd, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    EXPECT_TRUE(d.exit.IsDefaultButton());
    EXPECT_FALSE(d.harden.IsDefaultButton());
    EXPECT_NE(d.exit.SendMessage(WM_GETDLGCODE) & DLGC_DEFPUSHBUTTON, 0);

    const COLORREF normalFace = Colour(toolkit::ResourceThemeColours(toolkit::ButtonVisualState::Normal).face);
    const COLORREF disabledFace = Colour(toolkit::ResourceThemeColours(toolkit::ButtonVisualState::Disabled).face);
    RECT r{};
    std::vector<COLORREF> p = Pixels(d.harden.m_hWnd, &r);
    EXPECT_EQ(p[static_cast<size_t>(6 * r.right + 6)], normalFace);
    EXPECT_NE(p[0], normalFace) << "a border frames the face";

    ::EnableWindow(d.harden.m_hWnd, FALSE);
    ::UpdateWindow(d.harden.m_hWnd);
    p = Pixels(d.harden.m_hWnd, &r);
    EXPECT_EQ(p[static_cast<size_t>(6 * r.right + 6)], disabledFace);
  });
}

TEST(XtpButton, ShowsItsIconAtTheAskedSize) {
  SolidIcon red(48, RGB(255, 0, 0));
  RunInDialog([&](Dialog& d) {
    d.harden.SetIcon({32, 32}, red.icon, nullptr, TRUE);
    ::UpdateWindow(d.harden.m_hWnd);
    SIZE shown = ExtentOf(d.harden.m_hWnd, RGB(255, 0, 0));
    EXPECT_EQ(shown.cx, 32);
    EXPECT_EQ(shown.cy, 32);
    EXPECT_EQ(d.harden.GetIconSize().cx, 32);

    d.harden.SetIcon({16, 16}, red.icon, nullptr, FALSE);
    ::UpdateWindow(d.harden.m_hWnd);
    shown = ExtentOf(d.harden.m_hWnd, RGB(255, 0, 0));
    EXPECT_EQ(shown.cx, 32) << "no redraw asked: the old picture stays";
    ::InvalidateRect(d.harden.m_hWnd, nullptr, FALSE);
    ::UpdateWindow(d.harden.m_hWnd);
    shown = ExtentOf(d.harden.m_hWnd, RGB(255, 0, 0));
    EXPECT_EQ(shown.cx, 16);
    EXPECT_EQ(shown.cy, 16);
  });
}

TEST(XtpButton, SetIconReleasesTheImageItReplaces) {
  SolidIcon blue(32, RGB(0, 0, 255));
  CXTPButton button;  // no window: images are still built and owned
  button.SetIcon({16, 16}, blue.icon);
  HICON first = button.GetIcon();
  ASSERT_NE(first, nullptr);
  EXPECT_NE(first, blue.icon) << "an image of its own";
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(first, &info));
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);

  const DWORD userBefore = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  for (int i = 0; i < 30; ++i) button.SetIcon({24, 24}, blue.icon, blue.icon);
  EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS), userBefore);
  EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);

  EXPECT_FALSE(::GetIconInfo(first, &info)) << "the first image is destroyed";
  EXPECT_NE(button.GetHotIcon(), nullptr);
  button.SetIcon({24, 24}, nullptr);
  EXPECT_EQ(button.GetIcon(), nullptr);
  EXPECT_EQ(button.GetHotIcon(), nullptr);
  // The caller's icon is untouched.
  EXPECT_TRUE(::GetIconInfo(blue.icon, &info));
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
}

TEST(XtpButton, ClicksArriveAsBnClickedOnlyWhileEnabled) {
  std::vector<std::pair<int, int>> commands;
  RunInDialog(
      [](Dialog& d) {
        ::SetForegroundWindow(d.m_hWnd);
        ClickAt(d.harden.m_hWnd);
        ::EnableWindow(d.harden.m_hWnd, FALSE);
        ClickAt(d.harden.m_hWnd);
        ::EnableWindow(d.harden.m_hWnd, TRUE);
        d.harden.SendMessage(BM_CLICK);
        PumpPending();
      },
      &commands);
  EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{IDC_HARDEN, BN_CLICKED}, {IDC_HARDEN, BN_CLICKED}}));
}

TEST(XtpButton, EnterPressesTheDefaultButton) {
  Dialog dlg;
  dlg.onShown = [](Dialog& d) { ::PostMessageW(d.harden.m_hWnd, WM_KEYDOWN, VK_RETURN, 0); };
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

}  // namespace
