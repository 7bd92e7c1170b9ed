// Owner-drawn push button bound to a template button; draws its caption and
// an icon with the current theme and reports clicks as BN_CLICKED.
#pragma once

#include <windows.h>

#include "framework/framework.h"

class CXTPButton : public CWnd {
 public:
  CXTPButton() = default;
  ~CXTPButton() override;

  // Builds images of the given size from the icons, replacing (and
  // releasing) any earlier ones; redraw invalidates without erasing.
  void SetIcon(SIZE size, HICON normal, HICON hot = nullptr, BOOL redraw = TRUE);

  HICON GetIcon() const;     // the owned normal image, or null
  HICON GetHotIcon() const;  // the owned hot image, or null
  SIZE GetIconSize() const;
  bool IsDefaultButton() const;

  void PreSubclassWindow() override;
  bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

 protected:
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  class OwnedIcon {
   public:
    OwnedIcon() = default;
    ~OwnedIcon();
    OwnedIcon(const OwnedIcon&) = delete;
    OwnedIcon& operator=(const OwnedIcon&) = delete;
    void Reset(HICON icon = nullptr);
    HICON Get() const { return m_icon; }

   private:
    HICON m_icon = nullptr;
  };

  void DrawItem(const DRAWITEMSTRUCT& item);
  void TrackLeave();

  OwnedIcon m_normal;
  OwnedIcon m_hot;
  SIZE m_iconSize{};
  bool m_isDefault = false;
  bool m_hotTracking = false;
};
