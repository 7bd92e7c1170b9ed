#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/dialog_script.h"
#include "widgets/base_color_dialog.h"
#include "widgets/color_static.h"
#include "widgets_test_resources.h"

namespace {

constexpr COLORREF kPanel = RGB(197, 222, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kYellow = RGB(255, 255, 0);
const char kSongTiCp936[] = "\xCB\xCE\xCC\xE5";  // 宋体

class LabelsDialog : public CBaseColorDialog {
 public:
  LabelsDialog() : CBaseColorDialog(IDD_WIDGETS_TEST) {}
  CXColorStatic plain, centredImage, ampersand, noAmpersand, empty, right;

 protected:
  void DoDataExchange(CDataExchange* pDX) override {
    CBaseColorDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PLAIN, plain);
    DDX_Control(pDX, IDC_CENTRED_IMAGE, centredImage);
    DDX_Control(pDX, IDC_AMPERSAND, ampersand);
    DDX_Control(pDX, IDC_NO_AMPERSAND, noAmpersand);
    DDX_Control(pDX, IDC_EMPTY, empty);
    DDX_Control(pDX, IDC_RIGHT, right);
  }
};

using Dialog = ScriptedDialog<LabelsDialog>;

void RunInDialog(const std::function<void(Dialog&)>& steps) {
  Dialog dlg;
  dlg.onShown = [&](Dialog& d) {
    ::UpdateWindow(d.m_hWnd);
    steps(d);
    d.EndDialog(IDOK);
  };
  ASSERT_EQ(dlg.DoModal(), IDOK);
}

// The client area of a window as the screen shows it.
struct Capture {
  int width = 0, height = 0;
  std::vector<COLORREF> pixels;
  COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

Capture CaptureClient(HWND hwnd) {
  Capture c;
  RECT r{};
  ::GetClientRect(hwnd, &r);
  c.width = r.right;
  c.height = r.bottom;
  HDC dc = ::GetDC(hwnd);
  for (int y = 0; y < c.height; ++y)
    for (int x = 0; x < c.width; ++x) c.pixels.push_back(::GetPixel(dc, x, y));
  ::ReleaseDC(hwnd, dc);
  return c;
}

struct Ink {
  int left = -1, top = -1, right = -1, bottom = -1;  // inclusive, -1: none
  bool Any() const { return left >= 0; }
};

Ink InkOf(const Capture& c, COLORREF background) {
  Ink ink;
  for (int y = 0; y < c.height; ++y) {
    for (int x = 0; x < c.width; ++x) {
      if (c.At(x, y) == background) continue;
      if (!ink.Any()) ink = {x, y, x, y};
      ink.left = std::min(ink.left, x);
      ink.right = std::max(ink.right, x);
      ink.top = std::min(ink.top, y);
      ink.bottom = std::max(ink.bottom, y);
    }
  }
  return ink;
}

bool HasPixel(const Capture& c, COLORREF colour) {
  for (COLORREF p : c.pixels)
    if (p == colour) return true;
  return false;
}

LOGFONTW RecordOf(HFONT font) {
  LOGFONTW lf{};
  EXPECT_EQ(::GetObjectW(font, sizeof(lf), &lf), static_cast<int>(sizeof(lf)));
  return lf;
}

HFONT DialogFontOf(const CWnd& label) { return reinterpret_cast<HFONT>(label.SendMessage(WM_GETFONT)); }

COLORREF BrushColour(HBRUSH brush) {
  LOGBRUSH lb{};
  ::GetObjectW(brush, sizeof(lb), &lb);
  return lb.lbColor;
}

// --- Coloured dialog base ------------------------------------------------

TEST(BaseColorDialog, ErasesToThePanelColourAndSystemStaticsShowThrough) {
  RunInDialog([](Dialog& d) {
    const Capture client = CaptureClient(d.m_hWnd);
    EXPECT_EQ(client.At(2, client.height - 2), kPanel);
    EXPECT_EQ(client.At(client.width / 2, client.height - 3), kPanel);
    const Capture plainStatic = CaptureClient(d.GetDlgItem(IDC_SYSTEM_STATIC));
    EXPECT_EQ(plainStatic.At(plainStatic.width - 1, plainStatic.height - 1), kPanel);
    EXPECT_TRUE(InkOf(plainStatic, kPanel).Any());
  });
}

TEST(BaseColorDialog, ControlColourRepliesPerKind) {
  RunInDialog([](Dialog& d) {
    HDC dc = ::CreateCompatibleDC(nullptr);
    HWND edit = d.GetDlgItem(IDC_EDIT);
    HWND list = d.GetDlgItem(IDC_LIST);
    HWND text = d.GetDlgItem(IDC_SYSTEM_STATIC);

    const struct {
      UINT msg;
      HWND control;
      bool panel;
    } cases[] = {
        {WM_CTLCOLORMSGBOX, d.m_hWnd, true}, {WM_CTLCOLOREDIT, edit, false},
        {WM_CTLCOLORLISTBOX, list, false},   {WM_CTLCOLORBTN, d.GetDlgItem(IDOK), true},
        {WM_CTLCOLORDLG, d.m_hWnd, true},    {WM_CTLCOLORSCROLLBAR, d.m_hWnd, true},
        {WM_CTLCOLORSTATIC, text, true},
    };
    HBRUSH panelBrush = nullptr;
    for (const auto& c : cases) {
      ::SetBkMode(dc, OPAQUE);
      const auto brush = reinterpret_cast<HBRUSH>(
          ::SendMessageW(d.m_hWnd, c.msg, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(c.control)));
      ASSERT_NE(brush, nullptr) << std::hex << c.msg;
      if (c.panel) {
        EXPECT_EQ(BrushColour(brush), kPanel) << std::hex << c.msg;
        EXPECT_EQ(::GetBkMode(dc), TRANSPARENT) << std::hex << c.msg;
        if (panelBrush) {
          EXPECT_EQ(brush, panelBrush) << "one brush handed out every time";
        }
        panelBrush = brush;
      } else {
        EXPECT_NE(BrushColour(brush), kPanel) << std::hex << c.msg;
        EXPECT_EQ(::GetBkMode(dc), OPAQUE) << std::hex << c.msg;
      }
    }
    ::DeleteDC(dc);
  });
}

// --- Coloured label ------------------------------------------------------

TEST(ColorStatic, UnconfiguredLabelUsesSystemColoursAndACopyOfTheDialogFont) {
  RunInDialog([](Dialog& d) {
    EXPECT_EQ(d.plain.GetTextColor(), ::GetSysColor(COLOR_BTNTEXT));
    EXPECT_EQ(d.plain.GetBackgroundColor(), ::GetSysColor(COLOR_BTNFACE));
    EXPECT_FALSE(d.plain.GetBold());
    ASSERT_NE(d.plain.GetFontHandle(), nullptr);
    EXPECT_NE(d.plain.GetFontHandle(), DialogFontOf(d.plain));
    const LOGFONTW own = RecordOf(d.plain.GetFontHandle());
    const LOGFONTW dialog = RecordOf(DialogFontOf(d.plain));
    EXPECT_STREQ(own.lfFaceName, dialog.lfFaceName);
    EXPECT_EQ(own.lfHeight, dialog.lfHeight);

    const Capture c = CaptureClient(d.plain.m_hWnd);
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    EXPECT_EQ(c.At(c.width - 1, c.height - 1), face);
    const Ink ink = InkOf(c, face);
    ASSERT_TRUE(ink.Any());
    EXPECT_LT(ink.top, c.height / 4) << "wrapped text starts at the top";
    EXPECT_LT(ink.left, 4) << "left-aligned";
  });
}

TEST(ColorStatic, AlignmentFollowsTheStaticStyle) {
  RunInDialog([](Dialog& d) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const Capture centred = CaptureClient(d.centredImage.m_hWnd);
    const Ink c = InkOf(centred, face);
    ASSERT_TRUE(c.Any());
    const int above = c.top, below = centred.height - 1 - c.bottom;
    EXPECT_GT(above, 3);
    EXPECT_LE(std::abs(above - below), 4) << "one line centred vertically";

    const Capture right = CaptureClient(d.right.m_hWnd);
    const Ink r = InkOf(right, face);
    ASSERT_TRUE(r.Any());
    EXPECT_GE(r.right, right.width - 3);
    EXPECT_GT(r.left, right.width / 2);
  });
}

TEST(ColorStatic, AmpersandUnderlinesAndEmptyTextPaintsOnlyBackground) {
  RunInDialog([](Dialog& d) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const Ink prefixed = InkOf(CaptureClient(d.ampersand.m_hWnd), face);
    const Ink plain = InkOf(CaptureClient(d.noAmpersand.m_hWnd), face);
    ASSERT_TRUE(prefixed.Any());
    ASSERT_TRUE(plain.Any());
    // "&Test" draws as "Test" with T underlined, though SS_NOPREFIX is set.
    EXPECT_EQ(prefixed.left, plain.left);
    EXPECT_EQ(prefixed.right, plain.right);
    EXPECT_GT(prefixed.bottom, plain.bottom);

    d.empty.SetBackgroundColor(kYellow);
    const Capture empty = CaptureClient(d.empty.m_hWnd);
    EXPECT_FALSE(InkOf(empty, kYellow).Any());
    EXPECT_EQ(empty.At(0, 0), kYellow);
  });
}

TEST(ColorStatic, ColoursShowAtOnceOnlyWhenRedrawIsAsked) {
  RunInDialog([](Dialog& d) {
    CXColorStatic& label = d.plain;
    label.SetBold(TRUE, FALSE);
    label.SetBackgroundColor(kRed);
    label.SetTextColor(kBlue);
    Capture c = CaptureClient(label.m_hWnd);
    EXPECT_EQ(c.At(0, c.height - 1), kRed);
    EXPECT_TRUE(HasPixel(c, kBlue));

    label.SetTextColor(kGreen, FALSE);
    const HFONT fontBefore = label.GetFontHandle();
    label.SetFont(static_cast<const LOGFONTW*>(nullptr));  // changes nothing, draws nothing
    EXPECT_EQ(label.GetFontHandle(), fontBefore);
    c = CaptureClient(label.m_hWnd);
    EXPECT_TRUE(HasPixel(c, kBlue));
    EXPECT_FALSE(HasPixel(c, kGreen));

    label.SetBackgroundColor(kYellow, TRUE);
    c = CaptureClient(label.m_hWnd);
    EXPECT_EQ(c.At(0, c.height - 1), kYellow);
    EXPECT_TRUE(HasPixel(c, kGreen));
    EXPECT_FALSE(HasPixel(c, kBlue));
    EXPECT_EQ(label.GetBackgroundColor(), kYellow);
  });
}

// A label of a hidden dialog is not drawn when it changes; the dialog's
// showing draws it, with what it was last given.
TEST(ColorStatic, ChangesWhileHiddenShowWhenTheDialogShows) {
  RunInDialog([](Dialog& d) {
    CXColorStatic& label = d.plain;
    ::ShowWindow(d.m_hWnd, SW_HIDE);
    ASSERT_FALSE(::IsWindowVisible(label.m_hWnd));
    label.SetBackgroundColor(kRed);
    label.SetTextColor(kBlue);
    label.SetTextColor(kGreen);
    ::ShowWindow(d.m_hWnd, SW_SHOW);
    ::UpdateWindow(d.m_hWnd);
    Capture c = CaptureClient(label.m_hWnd);
    EXPECT_EQ(c.At(0, c.height - 1), kRed);
    EXPECT_TRUE(HasPixel(c, kGreen));
    EXPECT_FALSE(HasPixel(c, kBlue));
  });
}

TEST(ColorStatic, FaceFromCodePage936WithPointsAndBold) {
  RunInDialog([](Dialog& d) {
    CXColorStatic& label = d.plain;
    const HFONT dialogFont = DialogFontOf(label);
    label.SetBold(TRUE);
    label.SetFont(kSongTiCp936, 12);
    const LOGFONTW lf = RecordOf(label.GetFontHandle());
    EXPECT_STREQ(lf.lfFaceName, L"\u5B8B\u4F53");
    EXPECT_EQ(lf.lfHeight, PointsToHeight(12));
    EXPECT_EQ(lf.lfWeight, 700);
    EXPECT_EQ(lf.lfCharSet, 0);
    EXPECT_EQ(lf.lfItalic, 0);
    EXPECT_EQ(DialogFontOf(label), dialogFont) << "the window is never given the label's font";

    // Weight changes start again from the dialog font.
    label.SetBold(FALSE);
    const LOGFONTW back = RecordOf(label.GetFontHandle());
    const LOGFONTW dialog = RecordOf(dialogFont);
    EXPECT_STREQ(back.lfFaceName, dialog.lfFaceName);
    EXPECT_EQ(back.lfHeight, dialog.lfHeight);
    EXPECT_EQ(back.lfWeight, 400);

    // No face: the dialog font with the new height.
    label.SetBold(TRUE);
    label.SetFont(static_cast<const char*>(nullptr), 20);
    const LOGFONTW sized = RecordOf(label.GetFontHandle());
    EXPECT_STREQ(sized.lfFaceName, dialog.lfFaceName);
    EXPECT_EQ(sized.lfHeight, PointsToHeight(20));
    EXPECT_EQ(sized.lfWeight, 700);

    // The record's own weight is replaced by the bold flag's.
    LOGFONTW heavy = dialog;
    heavy.lfWeight = 900;
    label.SetFont(&heavy);
    EXPECT_EQ(RecordOf(label.GetFontHandle()).lfWeight, 700);
  });
}

TEST(ColorStatic, LongFacesAreCutWithoutSplittingACharacter) {
  RunInDialog([](Dialog& d) {
    std::string face(30, 'F');
    face += kSongTiCp936;
    d.plain.SetFont(face.c_str(), 10, FALSE);
    EXPECT_EQ(std::wstring(RecordOf(d.plain.GetFontHandle()).lfFaceName), std::wstring(30, L'F'));
    std::string chinese;
    for (int i = 0; i < 20; ++i) chinese += kSongTiCp936;
    d.plain.SetFont(chinese.c_str(), 10, FALSE);
    EXPECT_EQ(std::wstring(RecordOf(d.plain.GetFontHandle()).lfFaceName).size(), 15u);
  });
}

TEST(ColorStatic, RepeatedChangesLeakNoGdiObjects) {
  RunInDialog([](Dialog& d) {
    d.plain.SetBackgroundColor(kRed);
    d.plain.SetFont(kSongTiCp936, 12);
    const DWORD before = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
    for (int i = 0; i < 50; ++i) {
      d.plain.SetBackgroundColor(RGB(i, 0, 0), FALSE);
      d.plain.SetFont(kSongTiCp936, 10 + i % 5, FALSE);
      d.plain.SetBold(i % 2, FALSE);
    }
    EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), before);
  });
}

TEST(ColorStatic, PointsToHeightUsesTheDisplayResolution) {
  HDC display = ::CreateDCW(L"DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(display, nullptr);
  const int dpi = ::GetDeviceCaps(display, LOGPIXELSY);
  ::DeleteDC(display);
  EXPECT_EQ(PointsToHeight(12), -::MulDiv(12, dpi, 72));
  EXPECT_LT(PointsToHeight(9), 0);
}

TEST(ColorStatic, LabelWithoutAWindowKeepsItsSettings) {
  CXColorStatic label;
  label.SetTextColor(kBlue);
  label.SetBackgroundColor(kRed);
  label.SetBold(TRUE);
  EXPECT_EQ(label.GetTextColor(), kBlue);
  EXPECT_EQ(label.GetBackgroundColor(), kRed);
  EXPECT_TRUE(label.GetBold());
}

}  // namespace
