// Thin dialog framework: windows bound to C++ objects by subclassing, modal
// dialogs from the module's templates, data exchange, RAII GDI objects and
// the application object driven by AfxWinMain.
#pragma once

#include <windows.h>

#include <string>

// The framework's help command; the application routes it to OnHelp.
constexpr UINT ID_HELP = 0xE146;  // 57670

class CDialog;

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;

  HWND GetSafeHwnd() const;
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  BOOL SubclassWindow(HWND hwnd);
  HWND UnsubclassWindow();
  HWND GetDlgItem(int id) const;
  BOOL RedrawWindow(const RECT* rect = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE);
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  virtual void PreSubclassWindow();

  // The bound object of a window, or null when no object is bound.
  static CWnd* FromHandlePermanent(HWND hwnd);

  // A parent offers notifications such as WM_DRAWITEM back to the child
  // they are about; true when the child handled it and set *result.
  virtual bool OnChildNotify(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);

 protected:
  // Each class handles its messages and passes the rest to its base
  // class's WindowProc; CWnd's calls the window's original procedure.
  virtual LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam);
  // The original procedure with the message being handled.
  LRESULT Default();

 private:
  struct CurrentMessage {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
  };
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT CallOriginal(UINT msg, WPARAM wParam, LPARAM lParam);
  void Detach();

  WNDPROC m_originalProc = nullptr;
  CurrentMessage m_current{};

  friend class CDialog;
};

class CDataExchange {
 public:
  CDialog* m_pDlgWnd = nullptr;
  BOOL m_bSaveAndValidate = FALSE;
};

// Binds the dialog item to the object the first time; later exchanges do nothing.
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT templateId, HWND parent = nullptr);
  ~CDialog() override;

  virtual INT_PTR DoModal();
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void EndDialog(int result);

 protected:
  virtual void DoDataExchange(CDataExchange* pDX);
  virtual BOOL OnInitDialog();  // runs UpdateData(FALSE)
  virtual void OnOK();          // UpdateData(TRUE), then EndDialog(IDOK)
  virtual void OnCancel();      // EndDialog(IDCANCEL)
  // True when handled. Default: IDOK -> OnOK, IDCANCEL -> OnCancel, other
  // commands go on to the application object.
  virtual bool OnCommand(int id, int notifyCode, HWND control);
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

  UINT m_templateId;
  HWND m_parent;

 private:
  static INT_PTR CALLBACK StartProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
};

class CStatic : public CWnd {};

// Owning font handle.
class CFont {
 public:
  CFont() = default;
  ~CFont();
  CFont(const CFont&) = delete;
  CFont& operator=(const CFont&) = delete;

  HFONT m_hObject = nullptr;
  BOOL CreateFontIndirect(const LOGFONTW* font);
  BOOL DeleteObject();
  HFONT GetSafeHandle() const;
};

// Owning brush handle.
class CBrush {
 public:
  CBrush() = default;
  explicit CBrush(COLORREF colour);
  ~CBrush();
  CBrush(const CBrush&) = delete;
  CBrush& operator=(const CBrush&) = delete;

  HBRUSH m_hObject = nullptr;
  BOOL CreateSolidBrush(COLORREF colour);
  BOOL DeleteObject();
  HBRUSH GetSafeHandle() const;
};

class CWinApp {
 public:
  // Registers itself as the process's application object.
  explicit CWinApp(const wchar_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  virtual int ExitInstance();
  // Commands no window handled; true when handled.
  virtual bool OnCommand(int id);

  HICON LoadIcon(UINT id) const;
  void SetRegistryKey(const wchar_t* key);
  void EnableControlContainer();

  const wchar_t* GetAppName() const;
  const wchar_t* GetRegistryKey() const;
  bool IsControlContainerEnabled() const;

  HINSTANCE m_hInstance;
  CWnd* m_pMainWnd = nullptr;

 protected:
  // No help content ships with the program: the help command is accepted
  // and nothing is shown.
  virtual void OnHelp();

 private:
  friend int AfxWinMain(HINSTANCE instance);
  friend class CWnd;
  int RunMessageLoop();
  // The main window was destroyed: a running message loop ends.
  void OnMainWindowGone();

  std::wstring m_appName;
  std::wstring m_registryKey;
  bool m_controlContainer = false;
  int m_quitCode = 0;
  bool m_loopRunning = false;
};

CWinApp* AfxGetApp();
// InitInstance; a message loop only when it returns TRUE; then ExitInstance,
// whose result is returned.
int AfxWinMain(HINSTANCE instance);
