// A static text label with its own text colour, background colour, font
// and weight.
#pragma once

#include <windows.h>

#include <memory>

#include "framework/framework.h"

class CXColorStatic : public CStatic {
 public:
  CXColorStatic();
  ~CXColorStatic() override;

  void SetTextColor(COLORREF colour, BOOL redraw = TRUE);
  void SetBackgroundColor(COLORREF colour, BOOL redraw = TRUE);
  // Rebuilds the font from the window's (dialog's) font with the new weight.
  void SetBold(BOOL bold, BOOL redraw = TRUE);
  // faceCp936: a code page 936 face name (cut to 31 bytes) or null for the
  // window's font face.
  void SetFont(const char* faceCp936, int points, BOOL redraw = TRUE);
  // A null record changes nothing; the record's weight is replaced by the
  // bold flag's.
  void SetFont(const LOGFONTW* font, BOOL redraw = TRUE);

  COLORREF GetTextColor() const;
  COLORREF GetBackgroundColor() const;
  BOOL GetBold() const;
  HFONT GetFontHandle() const;

  void PreSubclassWindow() override;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint();
  BOOL EraseBackground(HDC dc);
  LOGFONTW WindowFontRecord() const;
  void RedrawIf(BOOL redraw);

  CFont m_font;
  COLORREF m_textColour;
  COLORREF m_backgroundColour;
  std::unique_ptr<CBrush> m_backgroundBrush;  // always of m_backgroundColour
  BOOL m_bold = FALSE;
};

// Logical height for the display of a font of that many points (negative:
// a character height).
int PointsToHeight(int points);
