#include "framework/framework.h"

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
  if (!pDX || !pDX->m_pDlgWnd || control.m_hWnd) return;
  control.SubclassDlgItem(static_cast<UINT>(id), pDX->m_pDlgWnd);
}

CDialog::CDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

CDialog::~CDialog() = default;

namespace {
HINSTANCE ResourceModule() {
  CWinApp* app = AfxGetApp();
  if (app && app->m_hInstance) return app->m_hInstance;
  return ::GetModuleHandleW(nullptr);
}
}  // namespace

INT_PTR CDialog::DoModal() {
  if (m_hWnd) return -1;  // already showing
  return ::DialogBoxParamW(ResourceModule(), MAKEINTRESOURCEW(m_templateId), m_parent, &CDialog::StartProc,
                           reinterpret_cast<LPARAM>(this));
}

// The dialog procedure binds the object on WM_INITDIALOG; from then on the
// window procedure of the object sees every message, and the dialog
// procedure answers FALSE so the dialog manager's defaults apply.
INT_PTR CALLBACK CDialog::StartProc(HWND hwnd, UINT msg, WPARAM, LPARAM lParam) {
  if (msg != WM_INITDIALOG) return FALSE;
  auto* self = reinterpret_cast<CDialog*>(lParam);
  if (!self || !self->SubclassWindow(hwnd)) return TRUE;
  self->m_current = {msg, 0, lParam};
  return self->OnInitDialog();
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  if (!m_hWnd) return FALSE;
  CDataExchange exchange;
  exchange.m_pDlgWnd = this;
  exchange.m_bSaveAndValidate = saveAndValidate;
  DoDataExchange(&exchange);
  return TRUE;
}

void CDialog::EndDialog(int result) {
  if (m_hWnd) ::EndDialog(m_hWnd, result);
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

bool CDialog::OnCommand(int id, int notifyCode, HWND) {
  // Escape, the close box and Enter arrive with code 0, as a click does.
  if (notifyCode == BN_CLICKED && id == IDOK) {
    OnOK();
    return true;
  }
  if (notifyCode == BN_CLICKED && id == IDCANCEL) {
    OnCancel();
    return true;
  }
  CWinApp* app = AfxGetApp();
  return notifyCode == BN_CLICKED && app && app->OnCommand(id);
}

LRESULT CDialog::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam))) return 0;
      break;
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      CWnd* child = item ? FromHandlePermanent(item->hwndItem) : nullptr;
      LRESULT result = 0;
      if (child && child->OnChildNotify(msg, wParam, lParam, &result)) return result;
      break;
    }
    default:
      break;
  }
  return CWnd::WindowProc(msg, wParam, lParam);
}
