#include "afxwin.h"

namespace {
CWinApp* g_pApp = nullptr;

const DWORD kStandardClasses = 0x4000;  // ICC_STANDARD_CLASSES, of the common controls 6
}

// ---------------------------------------------------------------------------
// Message maps

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap()
{
    static const AFX_MSGMAP_ENTRY entries[] = { { 0, 0, 0, nullptr } };
    static const AFX_MSGMAP map = { nullptr, entries };
    return &map;
}

BOOL CCmdTarget::OnWndMsg(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam,
                          LRESULT* pResult)
{
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr;
         map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* entry = map->lpEntries; entry->pfn != nullptr; ++entry) {
            if (entry->nMessage == message && entry->nCode == code && entry->nID == id) {
                *pResult = entry->pfn(this, wParam, lParam);
                return TRUE;
            }
        }
    }
    return FALSE;
}

// ---------------------------------------------------------------------------
// Application

CWinApp::CWinApp() { g_pApp = this; }

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* AfxGetApp() { return g_pApp; }

// The program is a single executable: its code and its resources share one module.
HINSTANCE AfxGetInstanceHandle() { return ::GetModuleHandleA(nullptr); }
HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR) { return AfxGetResourceHandle(); }

// Dialogs here hold only system and common controls; there is no ActiveX
// container to set up.
void AfxEnableControlContainer() {}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // Dialog templates name the list view and tab classes; register them
    // before any dialog is created. The common controls 6 draw the buttons
    // too, in the system's theme, once their classes are registered; an
    // older library knows no such flag and refuses the call, which then
    // changes nothing.
    INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES };
    ::InitCommonControlsEx(&icc);
    INITCOMMONCONTROLSEX standard = { sizeof(standard), kStandardClasses };
    ::InitCommonControlsEx(&standard);

    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return -1;
    app->m_hInstance = hInstance;
    // A dialog application runs its window inside InitInstance and returns
    // false from it; there is no message loop to enter afterwards.
    app->InitInstance();
    return app->ExitInstance();
}

// ---------------------------------------------------------------------------
// Strings

BOOL CString::LoadString(UINT nID)
{
    int length = ::LoadStringA(AfxGetResourceHandle(), nID, m_text, sizeof(m_text));
    if (length <= 0)
        m_text[0] = '\0';
    return length > 0;
}

// ---------------------------------------------------------------------------
// Dialogs

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    rControl.m_hWnd = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal()
{
    // Without a parent of its own, a dialog is owned by the application's
    // main window, which it disables while it runs.
    CWnd* owner = m_pParentWnd;
    if (owner == nullptr && AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd;
    HWND hParent = owner != nullptr ? owner->m_hWnd : nullptr;
    return ::DialogBoxParamA(AfxGetResourceHandle(), MAKEINTRESOURCEA(m_nIDTemplate), hParent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

namespace {
void CenterWindow(HWND hWnd)
{
    RECT area;
    HWND owner = ::GetWindow(hWnd, GW_OWNER);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    ::GetMonitorInfoA(::MonitorFromWindow(owner != nullptr ? owner : hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    if (owner != nullptr && ::IsWindowVisible(owner) && !::IsIconic(owner))
        ::GetWindowRect(owner, &area);
    else
        area = monitor.rcWork;

    RECT window;
    ::GetWindowRect(hWnd, &window);
    int width = window.right - window.left;
    int height = window.bottom - window.top;
    int x = (area.left + area.right - width) / 2;
    int y = (area.top + area.bottom - height) / 2;
    // Keep it on the screen.
    const RECT& work = monitor.rcWork;
    if (x + width > work.right)
        x = work.right - width;
    if (y + height > work.bottom)
        y = work.bottom - height;
    if (x < work.left)
        x = work.left;
    if (y < work.top)
        y = work.top;
    ::SetWindowPos(hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
}  // namespace

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(hWnd, DWLP_USER, lParam);
        dialog->m_hWnd = hWnd;
        RECT before;
        ::GetWindowRect(hWnd, &before);
        BOOL result = dialog->OnInitDialog();
        // A dialog that its initialisation neither showed nor moved opens
        // centred, over its owner or on the screen.
        RECT after;
        ::GetWindowRect(hWnd, &after);
        if (!::IsWindowVisible(hWnd) && before.left == after.left && before.top == after.top)
            CenterWindow(hWnd);
        return result;
    }
    CDialog* dialog = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(hWnd, DWLP_USER));
    if (dialog == nullptr)
        return FALSE;
    INT_PTR handled = dialog->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY)
        dialog->m_hWnd = nullptr;
    return handled;
}

INT_PTR CDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam)
{
    UINT code = 0;
    UINT id = 0;
    if (message == WM_COMMAND) {
        code = HIWORD(wParam);
        id = LOWORD(wParam);
    } else if (message == WM_NOTIFY) {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        code = header->code;
        id = static_cast<UINT>(header->idFrom);
    }

    // Handlers run message loops of their own (message boxes, the About
    // box), which dispatch further messages to this window: each dispatch
    // keeps its own request for default handling.
    LRESULT result = 0;
    BOOL outerDefault = m_bDefault;
    m_bDefault = FALSE;
    BOOL handled = OnWndMsg(message, code, id, wParam, lParam, &result);
    // Commands the window does not handle are offered to the application.
    if (!handled && message == WM_COMMAND && AfxGetApp() != nullptr)
        handled = AfxGetApp()->OnWndMsg(message, code, id, wParam, lParam, &result);
    BOOL useDefault = m_bDefault;
    m_bDefault = outerDefault;
    if (!handled || useDefault)
        return FALSE;

    // A few messages return their result directly from a dialog procedure;
    // the rest leave it in the window's message result.
    if (message == WM_QUERYDRAGICON)
        return static_cast<INT_PTR>(result);
    if (m_hWnd != nullptr)
        ::SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
