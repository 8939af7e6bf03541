// The program's class library: the few MFC-shaped classes a dialog
// application needs, each a thin layer over the Win32 calls it names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commctrl.h>

#include <type_traits>

class CCmdTarget;
class CWnd;

// ---------------------------------------------------------------------------
// Message maps: one static, ordered table per class.

typedef LRESULT (*AFX_PMSG)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // WM_xxx
    UINT nCode;     // notification code, for WM_COMMAND and WM_NOTIFY
    UINT nID;       // control ID, for WM_COMMAND and WM_NOTIFY
    AFX_PMSG pfn;   // null ends the table
};

// The base class's map is reached through its getter, as in MFC, so that
// every map is constant data: no guarded initialisation at run time.
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();  // null for the root
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Adapters from a table entry to a handler of a given shape. Each is
// instantiated with the handler itself, so a table row is plain data.
namespace afx {
template <class> struct MemberOf;
template <class C, class R, class... A> struct MemberOf<R (C::*)(A...)> { typedef C type; };

template <auto F> LRESULT Call_v(CCmdTarget* p, WPARAM, LPARAM)
{
    typedef typename MemberOf<decltype(F)>::type C;
    (static_cast<C*>(p)->*F)();
    return 0;
}

template <auto F> LRESULT Call_SysCommand(CCmdTarget* p, WPARAM wParam, LPARAM lParam)
{
    typedef typename MemberOf<decltype(F)>::type C;
    (static_cast<C*>(p)->*F)(static_cast<UINT>(wParam), lParam);
    return 0;
}

template <auto F> LRESULT Call_h(CCmdTarget* p, WPARAM, LPARAM)
{
    typedef typename MemberOf<decltype(F)>::type C;
    return reinterpret_cast<LRESULT>((static_cast<C*>(p)->*F)());
}

template <auto F> LRESULT Call_Message(CCmdTarget* p, WPARAM wParam, LPARAM lParam)
{
    typedef typename MemberOf<decltype(F)>::type C;
    return (static_cast<C*>(p)->*F)(wParam, lParam);
}

template <auto F> LRESULT Call_Notify(CCmdTarget* p, WPARAM, LPARAM lParam)
{
    typedef typename MemberOf<decltype(F)>::type C;
    LRESULT result = 0;
    (static_cast<C*>(p)->*F)(reinterpret_cast<NMHDR*>(lParam), &result);
    return result;
}
}  // namespace afx

#define DECLARE_MESSAGE_MAP()                             \
protected:                                                \
    static const AFX_MSGMAP* GetThisMessageMap();         \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                       \
    const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
    const AFX_MSGMAP* theClass::GetThisMessageMap()                                  \
    {                                                                                \
        typedef theClass ThisClass;                                                  \
        typedef baseClass TheBaseClass;                                              \
        static_assert(std::is_base_of<TheBaseClass, ThisClass>::value,               \
                      "a message map chains to a base class of its own");            \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                  \
            { 0, 0, 0, nullptr }                                           \
        };                                                                 \
        static const AFX_MSGMAP map = { &TheBaseClass::GetThisMessageMap, entries }; \
        return &map;                                                       \
    }

#define ON_MESSAGE(message, memberFxn) { (message), 0, 0, &afx::Call_Message<memberFxn> },
#define ON_COMMAND(id, memberFxn) { WM_COMMAND, 0, (id), &afx::Call_v<memberFxn> },
#define ON_BN_CLICKED(id, memberFxn) { WM_COMMAND, BN_CLICKED, (id), &afx::Call_v<memberFxn> },
#define ON_NOTIFY(code, id, memberFxn) \
    { WM_NOTIFY, static_cast<UINT>(code), (id), &afx::Call_Notify<memberFxn> },
#define ON_WM_SYSCOMMAND() { WM_SYSCOMMAND, 0, 0, &afx::Call_SysCommand<&ThisClass::OnSysCommand> },
#define ON_WM_PAINT() { WM_PAINT, 0, 0, &afx::Call_v<&ThisClass::OnPaint> },
#define ON_WM_QUERYDRAGICON() { WM_QUERYDRAGICON, 0, 0, &afx::Call_h<&ThisClass::OnQueryDragIcon> },
#define ON_WM_CLOSE() { WM_CLOSE, 0, 0, &afx::Call_v<&ThisClass::OnClose> },

// ---------------------------------------------------------------------------

class CCmdTarget {
public:
    virtual ~CCmdTarget() {}

    // Runs the handler that the class's map (or a base class's) holds for
    // the message; false when no table has one.
    BOOL OnWndMsg(UINT message, UINT code, UINT id, WPARAM wParam, LPARAM lParam,
                  LRESULT* pResult);

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
};

class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;

    virtual BOOL InitInstance() { return TRUE; }
    // The process's exit code, once InitInstance has returned false.
    virtual int ExitInstance() { return 0; }
    BOOL Enable3dControls() { return TRUE; }  // the system draws controls in 3-D itself

    void OnHelp() {}  // the program ships no help file

    HINSTANCE m_hInstance = nullptr;
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
HINSTANCE AfxFindResourceHandle(LPCSTR lpszName, LPCSTR lpszType);
void AfxEnableControlContainer();
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nCmdShow);

// Holds texts loaded from the string table; a longer text is cut to fit.
class CString {
public:
    BOOL LoadString(UINT nID);
    BOOL IsEmpty() const { return m_text[0] == '\0'; }
    operator LPCSTR() const { return m_text; }

private:
    char m_text[256] = "";
};

class CMenu {
public:
    explicit CMenu(HMENU hMenu = nullptr) : m_hMenu(hMenu) {}
    BOOL CreatePopupMenu() { return (m_hMenu = ::CreatePopupMenu()) != nullptr; }
    BOOL DestroyMenu() { return ::DestroyMenu(m_hMenu); }
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr)
    {
        return ::AppendMenuA(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
    }
    BOOL TrackPopupMenu(UINT nFlags, int x, int y, HWND hWnd)
    {
        return ::TrackPopupMenu(m_hMenu, nFlags, x, y, 0, hWnd, nullptr);
    }

    HMENU m_hMenu;
};

class CWnd : public CCmdTarget {
public:
    HWND GetSafeHwnd() const { return m_hWnd; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    CMenu GetSystemMenu(BOOL bRevert) const { return CMenu(::GetSystemMenu(m_hWnd, bRevert)); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void SetRedraw(BOOL bRedraw) { SendMessage(WM_SETREDRAW, bRedraw, 0); }
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags)
    {
        return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
    }
    void Invalidate() { ::InvalidateRect(m_hWnd, nullptr, TRUE); }

    HWND m_hWnd = nullptr;

protected:
    // Lets the window's default procedure handle the message being dispatched.
    void Default() { m_bDefault = TRUE; }
    BOOL m_bDefault = FALSE;
};

class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr)
        : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

    virtual INT_PTR DoModal();
    void EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

protected:
    virtual void DoDataExchange(CDataExchange*) {}

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};

class CListCtrl : public CWnd {
public:
    DWORD SetExtendedStyle(DWORD dwNewStyle)
    {
        return static_cast<DWORD>(SendMessage(LVM_SETEXTENDEDLISTVIEWSTYLE, 0, dwNewStyle));
    }
    int InsertColumn(int nCol, LPCSTR lpszColumnHeading, int nFormat, int nWidth)
    {
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = nFormat;
        column.cx = nWidth;
        column.pszText = const_cast<LPSTR>(lpszColumnHeading);
        return static_cast<int>(SendMessage(LVM_INSERTCOLUMNA, nCol, reinterpret_cast<LPARAM>(&column)));
    }
    BOOL DeleteColumn(int nCol) { return static_cast<BOOL>(SendMessage(LVM_DELETECOLUMN, nCol)); }
    int GetColumnWidth(int nCol) const { return static_cast<int>(SendMessage(LVM_GETCOLUMNWIDTH, nCol)); }
    BOOL SetColumnWidth(int nCol, int cx) { return static_cast<BOOL>(SendMessage(LVM_SETCOLUMNWIDTH, nCol, MAKELPARAM(cx, 0))); }
    int InsertItem(UINT nMask, int nItem, LPCSTR lpszItem, UINT nState, UINT nStateMask, int nImage,
                   LPARAM lParam)
    {
        LVITEMA item = {};
        item.mask = nMask;
        item.iItem = nItem;
        item.pszText = const_cast<LPSTR>(lpszItem);
        item.state = nState;
        item.stateMask = nStateMask;
        item.iImage = nImage;
        item.lParam = lParam;
        return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    }
    int InsertItem(UINT nMask, int nItem, LPCWSTR lpszItem, UINT nState, UINT nStateMask, int nImage,
                   LPARAM lParam)
    {
        LVITEMW item = {};
        item.mask = nMask;
        item.iItem = nItem;
        item.pszText = const_cast<LPWSTR>(lpszItem);
        item.state = nState;
        item.stateMask = nStateMask;
        item.iImage = nImage;
        item.lParam = lParam;
        return static_cast<int>(SendMessage(LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL SetItemText(int nItem, int nSubItem, LPCWSTR lpszText)
    {
        LVITEMW item = {};
        item.iSubItem = nSubItem;
        item.pszText = const_cast<LPWSTR>(lpszText);
        return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTW, nItem, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL SetItemText(int nItem, int nSubItem, LPCSTR lpszText)
    {
        LVITEMA item = {};
        item.iSubItem = nSubItem;
        item.pszText = const_cast<LPSTR>(lpszText);
        return static_cast<BOOL>(SendMessage(LVM_SETITEMTEXTA, nItem, reinterpret_cast<LPARAM>(&item)));
    }
    int GetItemText(int nItem, int nSubItem, LPSTR lpszText, int nLen) const
    {
        LVITEMA item = {};
        item.iSubItem = nSubItem;
        item.pszText = lpszText;
        item.cchTextMax = nLen;
        return static_cast<int>(SendMessage(LVM_GETITEMTEXTA, nItem, reinterpret_cast<LPARAM>(&item)));
    }
    BOOL DeleteAllItems() { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
    int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
    DWORD_PTR GetItemData(int nItem) const
    {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = nItem;
        return SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) ? item.lParam : 0;
    }
    int GetNextItem(int nItem, int nFlags) const
    {
        return static_cast<int>(SendMessage(LVM_GETNEXTITEM, nItem, MAKELPARAM(nFlags, 0)));
    }
};

class CTabCtrl : public CWnd {
public:
    int GetCurSel() const { return static_cast<int>(SendMessage(TCM_GETCURSEL)); }
    int SetMinTabWidth(int cx) { return static_cast<int>(SendMessage(TCM_SETMINTABWIDTH, 0, cx)); }
    LONG InsertItem(int nItem, LPCSTR lpszItem)
    {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<LPSTR>(lpszItem);
        return static_cast<LONG>(SendMessage(TCM_INSERTITEMA, nItem, reinterpret_cast<LPARAM>(&item)));
    }
    DWORD SetItemSize(int cx, int cy)
    {
        return static_cast<DWORD>(SendMessage(TCM_SETITEMSIZE, 0, MAKELPARAM(cx, cy)));
    }
};

class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};
