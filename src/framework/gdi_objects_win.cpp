#include "framework/framework.h"

CFont::~CFont() { DeleteObject(); }

BOOL CFont::CreateFontIndirect(const LOGFONTW* font) {
  if (!font) return FALSE;
  DeleteObject();
  m_hObject = ::CreateFontIndirectW(font);
  return m_hObject != nullptr;
}

BOOL CFont::DeleteObject() {
  if (!m_hObject) return FALSE;
  const BOOL deleted = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return deleted;
}

HFONT CFont::GetSafeHandle() const { return m_hObject; }

CBrush::CBrush(COLORREF colour) { CreateSolidBrush(colour); }

CBrush::~CBrush() { DeleteObject(); }

BOOL CBrush::CreateSolidBrush(COLORREF colour) {
  DeleteObject();
  m_hObject = ::CreateSolidBrush(colour);
  return m_hObject != nullptr;
}

BOOL CBrush::DeleteObject() {
  if (!m_hObject) return FALSE;
  const BOOL deleted = ::DeleteObject(m_hObject);
  m_hObject = nullptr;
  return deleted;
}

HBRUSH CBrush::GetSafeHandle() const { return m_hObject; }
