#include "RepairDialog.h"

#include "hijack/HijackRepair.h"
#include "infection/InfectionCheck.h"
#include "system/NativeApi.h"
#include "system/Privilege.h"
#include "ui/AboutDialog.h"
#include "ui/Messages.h"
#include "ui/ReportCopy.h"
#include "ui/ResultList.h"
#include "ui/ShowMessage.h"

// What each mode shows and does: its columns (pixels at 96 DPI; a null
// heading ends them), its scan, and its two clears, which may advise a
// restart.
struct ModeActions {
    struct Column {
        const char* heading;
        int width;
    } columns[4];
    void (*scan)(CListCtrl& list);
    void (*clearAll)(CListCtrl& list, int* restartAdvised);
    void (*clearSelected)(CListCtrl& list, int* restartAdvised);
};
const ModeActions kModes[] = {
    { { { "映象劫持项", 120 }, { "指向文件", 290 }, { "发行者", 110 } }, ScanHijacks,
      [](CListCtrl& list, int*) { ClearAllHijacks(list); }, [](CListCtrl& list, int*) { ClearSelectedHijack(list); } },
    { { { "感染文件", 420 }, { "类别", 100 } }, ScanInfections, ClearAllFiles, ClearSelectedFile },
};

namespace {
// The tab strip's figures, in pixels at 96 DPI like the columns'.
const int kTabWidth = 100;
const int kTabHeight = 25;

const UINT kDpiChanged = 0x02E0;  // WM_DPICHANGED, Windows 8.1 and later

// The scale the window is drawn at: its monitor's where Windows knows one
// per window (Windows 10 1607 and later, looked up at run time), else the
// screen's.
int DpiOf(HWND window)
{
    typedef UINT(WINAPI * Fn)(HWND);
    if (const Fn forWindow = SystemFunction<Fn>("user32.dll", "GetDpiForWindow")) {
        if (UINT dpi = forWindow(window))
            return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}
}  // namespace

BEGIN_MESSAGE_MAP(CRepairDialog, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_BN_CLICKED(IDC_CHECK, &CRepairDialog::OnCheck)
    ON_BN_CLICKED(IDC_CLEAR_ALL, &CRepairDialog::OnClearAll)
    ON_BN_CLICKED(IDC_CLEAR_SELECTED, &CRepairDialog::OnClearSelected)
    ON_NOTIFY(TCN_SELCHANGE, IDC_MODE_TAB, &CRepairDialog::OnSelchangeModeTab)
    ON_NOTIFY(LVN_DELETEITEM, IDC_RESULTS, &CRepairDialog::OnDeleteitemResults)
    ON_NOTIFY(LVN_KEYDOWN, IDC_RESULTS, &CRepairDialog::OnKeydownResults)
    ON_MESSAGE(WM_CONTEXTMENU, &CRepairDialog::OnContextMenu)
    ON_COMMAND(IDM_COPY, &CRepairDialog::OnCopy)
    ON_COMMAND(IDM_COPY_ALL, &CRepairDialog::OnCopyAll)
    ON_MESSAGE(kDpiChanged, &CRepairDialog::OnDpiChanged)
    ON_WM_CLOSE()
END_MESSAGE_MAP()

CRepairDialog::CRepairDialog(CWnd* pParent) : CDialog(IDD, pParent)
{
    HINSTANCE resources = AfxFindResourceHandle(MAKEINTRESOURCEA(IDR_MAINFRAME), RT_GROUP_ICON);
    m_hIcon = ::LoadIconA(resources, MAKEINTRESOURCEA(IDR_MAINFRAME));
}

void CRepairDialog::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_MODE_TAB, m_tabMode);
    DDX_Control(pDX, IDC_RESULTS, m_listResults);
}

BOOL CRepairDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    AddAboutMenuEntry();
    m_bRestartAdvised = 0;
    m_bLeaving = 0;
    m_nDpi = DpiOf(m_hWnd);

    m_listResults.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE);
    InsertColumns(&kModes[kHijackMode]);

    m_tabMode.SetMinTabWidth(Scale(kTabWidth));
    m_tabMode.InsertItem(0, "映象劫持");
    m_tabMode.InsertItem(1, "机器狗检测");
    SizeTabs();
    return TRUE;
}

void CRepairDialog::AddAboutMenuEntry()
{
    CMenu sysMenu = GetSystemMenu(FALSE);
    if (sysMenu.m_hMenu == nullptr)
        return;
    CString aboutText;
    aboutText.LoadString(IDS_ABOUTBOX);
    if (!aboutText.IsEmpty()) {
        sysMenu.AppendMenu(MF_SEPARATOR);
        sysMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText);
    }
}

const ModeActions* CRepairDialog::CurrentMode() const
{
    int mode = m_tabMode.GetCurSel();
    return mode == kHijackMode || mode == kInfectionMode ? &kModes[mode] : nullptr;
}

void CRepairDialog::InsertColumns(const ModeActions* mode)
{
    for (int column = 0; mode != nullptr && column < 4 && mode->columns[column].heading != nullptr; ++column)
        m_listResults.InsertColumn(column, mode->columns[column].heading, LVCFMT_LEFT,
                                   Scale(mode->columns[column].width));
}

void CRepairDialog::SizeTabs()
{
    m_tabMode.SetMinTabWidth(Scale(kTabWidth));
    m_tabMode.SetItemSize(Scale(kTabWidth), Scale(kTabHeight));
}

// After a scan the first column fits its longest text, marks included, up
// to half the list, and never narrower than it was laid out; the second
// takes the rest of the two columns' width, and a third keeps its own.
void CRepairDialog::FitColumns()
{
    const ModeActions* mode = CurrentMode();
    if (mode == nullptr)
        return;
    RECT client;
    m_listResults.GetClientRect(&client);
    int least = Scale(mode->columns[0].width);
    int most = (client.right - client.left) / 2;
    m_listResults.SetColumnWidth(0, LVSCW_AUTOSIZE);
    int fit = m_listResults.GetColumnWidth(0);
    int width = fit < least || most < least ? least : fit > most ? most : fit;
    m_listResults.SetColumnWidth(0, width);
    m_listResults.SetColumnWidth(1, Scale(mode->columns[0].width + mode->columns[1].width) - width);
}

void CRepairDialog::OnSysCommand(UINT nID, LPARAM)
{
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDialog about;
        about.DoModal();
    } else {
        Default();
    }
}

void CRepairDialog::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

    RECT client;
    GetClientRect(&client);
    int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CRepairDialog::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CRepairDialog::OnCheck()
{
    if (const ModeActions* mode = CurrentMode())
        mode->scan(m_listResults);
    FitColumns();

    char message[MAX_PATH];
    ::wsprintfA(message, kFoundFormat, m_listResults.GetItemCount());
    ShowMessage(message);
}

void CRepairDialog::OnClearAll()
{
    if (const ModeActions* mode = CurrentMode())
        mode->clearAll(m_listResults, &m_bRestartAdvised);
    FitColumns();
}

void CRepairDialog::OnClearSelected()
{
    if (const ModeActions* mode = CurrentMode())
        mode->clearSelected(m_listResults, &m_bRestartAdvised);
    FitColumns();
}

void CRepairDialog::OnSelchangeModeTab(NMHDR*, LRESULT* pResult)
{
    const ModeActions* mode = CurrentMode();
    m_listResults.DeleteAllItems();
    while (m_listResults.DeleteColumn(0)) {
    }
    InsertColumns(mode);
    *pResult = 0;
}

// A row that goes (a rescan, a mode change, the window's end) releases
// what the scan kept with it.
void CRepairDialog::OnDeleteitemResults(NMHDR* pNMHDR, LRESULT* pResult)
{
    ReleaseRowData(reinterpret_cast<NMLISTVIEW*>(pNMHDR));
    *pResult = 0;
}

// Ctrl+C copies the selected row, as "复制" does.
void CRepairDialog::OnKeydownResults(NMHDR* pNMHDR, LRESULT* pResult)
{
    if (reinterpret_cast<NMLVKEYDOWN*>(pNMHDR)->wVKey == 'C' && ::GetKeyState(VK_CONTROL) < 0)
        OnCopy();
    *pResult = 0;
}

// The list's menu: "复制" the selected row, "复制全部" the whole report.
// From the keyboard it opens at the list's corner.
LRESULT CRepairDialog::OnContextMenu(WPARAM wParam, LPARAM lParam)
{
    if (reinterpret_cast<HWND>(wParam) != m_listResults.m_hWnd) {
        Default();
        return 0;
    }
    POINT at = { static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) };
    if (at.x == -1 && at.y == -1) {
        at.x = at.y = 0;
        ::ClientToScreen(m_listResults.m_hWnd, &at);
    }
    CMenu menu;
    if (!menu.CreatePopupMenu())
        return 0;
    menu.AppendMenu(MF_STRING | (SelectedRow(m_listResults) == -1 ? MF_GRAYED : 0), IDM_COPY, "复制");
    menu.AppendMenu(MF_STRING | (m_listResults.GetItemCount() == 0 ? MF_GRAYED : 0), IDM_COPY_ALL, "复制全部");
    menu.TrackPopupMenu(TPM_RIGHTBUTTON, at.x, at.y, m_hWnd);
    menu.DestroyMenu();
    return 0;
}

void CRepairDialog::OnCopy() { CopyRows(m_listResults, m_hWnd, false); }

void CRepairDialog::OnCopyAll() { CopyRows(m_listResults, m_hWnd, true); }

// The window moved to a screen of another scale: it takes the size Windows
// suggests, and its pixel figures scale with it. Windows itself scales the
// fonts and controls of the dialog (per-monitor awareness v2), in the
// default handling that follows.
LRESULT CRepairDialog::OnDpiChanged(WPARAM wParam, LPARAM lParam)
{
    int dpi = LOWORD(wParam);
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    if (dpi > 0 && suggested != nullptr) {
        SetWindowPos(nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        for (int column = 0; column < 4; ++column)
            m_listResults.SetColumnWidth(column, ::MulDiv(m_listResults.GetColumnWidth(column), dpi, m_nDpi));
        m_nDpi = dpi;
        SizeTabs();
    }
    Default();
    return 0;
}

void CRepairDialog::OnClose()
{
    OnCancel();
    Default();
}

void CRepairDialog::OnCancel()
{
    // The message boxes have no owner, so "退出" and the close box stay live
    // while one is open, and the close box also posts a cancel command: the
    // procedure can be reached again from inside its own question, or after
    // the window has ended. It runs once.
    if (m_bLeaving)
        return;
    m_bLeaving = 1;

    // Files queued for deletion are only removed at the next start.
    if (m_bRestartAdvised) {
        if (!EnablePrivilege("SeShutdownPrivilege"))
            ShowMessage(kPrivilegeFailed);
        else if (ShowMessage(kRestartQuestion, MB_YESNO) == IDYES)
            ::ExitWindowsEx(EWX_REBOOT, 0);
    }
    EndDialog(0);
    CDialog::OnCancel();
}
