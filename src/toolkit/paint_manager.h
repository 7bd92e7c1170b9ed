// The process-wide visual theme of the toolkit's controls.
#pragma once

#include <windows.h>

#include "toolkit/button_palette.h"

struct ButtonPaintRequest {
  HDC dc = nullptr;
  RECT rect{};
  const wchar_t* caption = L"";
  HICON image = nullptr;  // drawn at imageSize
  SIZE imageSize{};
  HFONT font = nullptr;  // null: the context's current font
  toolkit::ButtonStateFlags state;
};

class CXTPPaintManager {
 public:
  CXTPPaintManager() = default;
  virtual ~CXTPPaintManager();
  CXTPPaintManager(const CXTPPaintManager&) = delete;
  CXTPPaintManager& operator=(const CXTPPaintManager&) = delete;

  // The current theme; creates the default theme (number 0) if none exists.
  static CXTPPaintManager* Current();
  // Creates the theme of that number (5: CXTPResourceTheme, any other: the
  // default theme), releases the previous one, installs the new one and
  // records the number.
  static void SetTheme(int theme);
  static int CurrentThemeNumber();

  virtual toolkit::ButtonColours ButtonColours(toolkit::ButtonVisualState state) const;
  virtual void DrawButton(const ButtonPaintRequest& request) const;
};

// The resource-image theme (number 5).
class CXTPResourceTheme : public CXTPPaintManager {
 public:
  toolkit::ButtonColours ButtonColours(toolkit::ButtonVisualState state) const override;
};

CXTPPaintManager* XTPPaintManager();
