// The main window as its user meets it: the layout, the buttons in hijack
// mode, the mode switch and the ways out, driven from a second thread.
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/DialogTemplate.h"
#include "support/ImportHook.h"
#include "support/Prefix.h"
#include "support/WatchedFiles.h"
#include "ui/RepairDialog.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>

using namespace testing_support;

namespace {

const char kCaption[] = "Tarvik";
const std::vector<std::string> kHijackColumns = { "映象劫持项", "指向文件", "发行者" };
const std::vector<std::string> kInfectionColumns = { "感染文件", "类别" };

BOOL CALLBACK FindShownIcon(HWND child, LPARAM found)
{
    char className[32] = "";
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Static") == 0 && IsWindowVisible(child) &&
        (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && SendMessageA(child, STM_GETICON, 0, 0) != 0)
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

bool ShowsAnIcon(HWND box)
{
    bool found = false;
    EnumChildWindows(box, FindShownIcon, reinterpret_cast<LPARAM>(&found));
    return found;
}

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES };
        InitCommonControlsEx(&icc);
        ResetHijacks();
        DeletePending();
    }
    void TearDown() override
    {
        ResetHijacks();
        DeletePending();
    }

    // Runs the main window until the script has closed it; returns DoModal's result.
    INT_PTR Run(const std::function<void(DialogDriver&)>& script)
    {
        INT_PTR result = -2;
        CRepairDialog dialog;
        RunDriven(kCaption, [&] { result = dialog.DoModal(); }, script);
        return result;
    }
};

TEST(MainWindowTemplate, HasTheLayoutOfTheMainWindow)
{
    DialogTemplate t;
    ASSERT_TRUE(LoadDialogTemplate(IDD_ORVEX_DIALOG, &t));
    EXPECT_EQ("Tarvik", t.caption);
    EXPECT_EQ("宋体", t.font);
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(347, t.cx);
    EXPECT_EQ(301, t.cy);
    const DWORD frame = DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU;
    EXPECT_EQ(frame, t.style & frame);
    EXPECT_EQ(0u, t.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));

    ExpectControls(t, {
        { IDC_CLEAR_ALL, "Button", "全部清除", 85, 259, 50, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON },
        { IDCANCEL, "Button", "退出", 262, 259, 50, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON },
        { IDC_CHECK, "Button", "检查", 20, 259, 50, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON },
        { IDC_RESULTS, "SysListView32", "List1", 0, 0, 347, 198,
          WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER },
        { IDC_CLEAR_SELECTED, "Button", "清除选定", 150, 259, 50, 14, WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON },
        { IDC_MODE_TAB, "SysTabControl32", "Tab1", 46, 208, 150, 0, TCS_BUTTONS | TCS_HOTTRACK | TCS_BOTTOM },
    });
}

TEST_F(MainWindow, OpensInHijackModeWithTheTabHidden)
{
    Run([](DialogDriver& d) {
        EXPECT_EQ(kHijackColumns, d.ColumnHeadings());
        EXPECT_EQ((std::vector<int>{ 120, 290, 110 }), d.ColumnWidths());
        HWND list = GetDlgItem(d.Window(), IDC_RESULTS);
        EXPECT_EQ(static_cast<DWORD>(LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE),
                  static_cast<DWORD>(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
        HWND tab = GetDlgItem(d.Window(), IDC_MODE_TAB);
        EXPECT_FALSE(IsWindowVisible(tab));
        EXPECT_EQ(2, SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
        EXPECT_EQ(0, SendMessageA(tab, TCM_GETCURSEL, 0, 0));
        EXPECT_EQ((std::vector<std::string>{ "映象劫持", "机器狗检测" }), d.TabTexts());
        EXPECT_EQ(GetDlgItem(d.Window(), IDC_CLEAR_ALL), d.FocusedControl()) << "first tab stop has the focus";
        d.PressEscape();
    });
}

TEST_F(MainWindow, CheckListsHijacksAndCountsThem)
{
    AddHijack("notepad.exe", "C:\\evil\\a.exe");
    AddHijack("regedit.exe", "C:\\evil\\b.exe");
    Run([](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 2 项", d.NextMessage());
        EXPECT_EQ(std::vector<int>{ IDOK }, d.MessageButtons());
        // Like every message of the program: no owner, so the main window
        // stays enabled; an empty caption; no icon.
        EXPECT_EQ(nullptr, GetWindow(d.Box(), GW_OWNER));
        EXPECT_TRUE(IsWindowEnabled(d.Window()));
        EXPECT_EQ(0, GetWindowTextLengthA(d.Box()));
        EXPECT_FALSE(ShowsAnIcon(d.Box()));
        d.Answer(IDOK);
        EXPECT_EQ((std::vector<Row>{ { "regedit.exe", "C:\\evil\\b.exe" }, { "notepad.exe", "C:\\evil\\a.exe" } }),
                  d.Rows());
        d.PressEscape();
    });
}

TEST_F(MainWindow, SaysSoWhenThereIsNothingToActOn)
{
    Run([](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 0 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        d.PressEscape();
    });
}

// The blocks from LocalAlloc that are not yet released: each row keeps one.
std::mutex g_blocksLock;
std::set<HLOCAL> g_blocks;
void* g_localAlloc = nullptr;
void* g_localFree = nullptr;

HLOCAL WINAPI RecordLocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = reinterpret_cast<HLOCAL(WINAPI*)(UINT, SIZE_T)>(g_localAlloc)(flags, bytes);
    std::lock_guard<std::mutex> lock(g_blocksLock);
    g_blocks.insert(block);
    return block;
}

HLOCAL WINAPI RecordLocalFree(HLOCAL block)
{
    {
        std::lock_guard<std::mutex> lock(g_blocksLock);
        g_blocks.erase(block);
    }
    return reinterpret_cast<HLOCAL(WINAPI*)(HLOCAL)>(g_localFree)(block);
}

size_t BlocksHeld()
{
    std::lock_guard<std::mutex> lock(g_blocksLock);
    return g_blocks.size();
}

// Each row's block goes with its row: at a rescan and at the window's end.
TEST_F(MainWindow, ClearSelectedRemovesTheClickedHijackAndQueuesItsProgram)
{
    ImportHook alloc("kernel32.dll", "LocalAlloc", reinterpret_cast<void*>(&RecordLocalAlloc));
    ImportHook release("kernel32.dll", "LocalFree", reinterpret_cast<void*>(&RecordLocalFree));
    ASSERT_TRUE(alloc.Installed() && release.Installed());
    g_localAlloc = alloc.Original();
    g_localFree = release.Original();
    g_blocks.clear();
    const std::string dir = FreshDirectory("evil");
    WriteProgram(dir + "\\one.exe");
    WriteProgram(dir + "\\two.exe");
    AddHijack("a.exe", dir + "\\one.exe");
    AddHijack("b.exe", dir + "\\two.exe");
    Run([&](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 2 项", d.ReadAndClose());
        EXPECT_EQ(2u, BlocksHeld());
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        d.ClickRow(1);
        d.ClickBelowTheRows();  // the selection goes, its mark stays on a.exe
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        d.ClickRow(0);  // b.exe
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_TRUE(d.NoMessageWithin(1500)) << "a clear shows no count";
        EXPECT_EQ((std::vector<Row>{ { "a.exe", dir + "\\one.exe" } }), d.Rows());
        EXPECT_EQ(1u, BlocksHeld());
        d.PressEscape();
    });
    EXPECT_EQ(0u, BlocksHeld());
    EXPECT_FALSE(ImageOptionExists("b.exe"));
    EXPECT_TRUE(ImageOptionExists("a.exe"));
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\evil\\two.exe", L"", L"" }), ReadPending());
}

TEST_F(MainWindow, ClearAllRemovesEveryHijackAndAsksNothingOnExit)
{
    AddHijack("a.exe", "C:\\evil\\one.exe");
    AddHijack("b.exe", "C:\\evil\\two.exe");
    INT_PTR result = Run([](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 2 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_TRUE(d.NoMessageWithin(1500));
        EXPECT_EQ(std::vector<Row>(), d.Rows());
        d.PressEscape();
        EXPECT_TRUE(d.NoMessageWithin(1500)) << "hijack repairs advise no restart";
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_FALSE(ImageOptionExists("b.exe"));
}

// The clipboard's text in a format, or "(none)".
std::wstring ClipboardText(UINT format)
{
    std::wstring text = L"(none)";
    if (!OpenClipboard(nullptr))
        return L"(not opened)";
    if (HANDLE data = GetClipboardData(format)) {
        const void* at = GlobalLock(data);
        if (format == CF_UNICODETEXT)
            text = static_cast<const wchar_t*>(at);
        else
            text = Widen(static_cast<const char*>(at));
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

// Ctrl+C and "复制" copy the selected row as the report's block for it, and
// "复制全部" the whole report, its head first: nothing cut, what draws as
// something else as its code; as Unicode, and in the system's code page.
TEST_F(MainWindow, CopiesTheSelectedRowAndTheWholeReport)
{
    SetRegistryText(L"HKCU\\" + std::wstring(kCommandProcessorKey), L"AutoRun",
                    L"C:\\" + std::wstring(600, L'a') + L"\x202E.exe");
    AddHijack("b.exe", "C:\\evil\\two.exe");
    const std::wstring a = L"\r\n项: 命令提示符 AutoRun [当前用户]\r\n位置: HKCU\\" + std::wstring(kCommandProcessorKey) +
                           L"\r\n值: AutoRun\r\n文本: C:\\" + std::wstring(600, L'a') +
                           L"<U+202E>.exe\r\n清除选定: 不是可确定的完整路径，不删除\r\n";
    const std::wstring b = L"\r\n项: b.exe\r\n位置: HKLM\\" + ImageOptionPath(L"b.exe") +
                           L"\r\n值: debugger\r\n文本: C:\\evil\\two.exe\r\n程序: C:\\evil\\two.exe\r\n发行者: 文件不存在\r\n"
                           L"清除选定: 文件不存在\r\n";
    Run([&](DialogDriver& d) {
        d.Press(IDC_CHECK);
        d.ReadAndClose();
        d.ClickRow(0);
        // C alone copies nothing; Ctrl+C copies the row.
        INPUT keys[4] = {};
        const WORD pressed[4][2] = { { VK_CONTROL, 0 }, { 'C', 0 }, { 'C', KEYEVENTF_KEYUP }, { VK_CONTROL, KEYEVENTF_KEYUP } };
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = pressed[i][0];
            keys[i].ki.dwFlags = pressed[i][1];
        }
        SetForegroundWindow(d.Window());
        for (bool control : { false, true }) {
            OpenClipboard(nullptr);
            EmptyClipboard();
            CloseClipboard();
            SendInput(control ? 4 : 2, control ? keys : keys + 1, sizeof(INPUT));
            // Input arrives in its own time: wait for the copy (or as long for none).
            for (int wait = 0; wait < 100 && ClipboardText(CF_UNICODETEXT) == L"(none)"; ++wait)
                Sleep(control ? 30 : 5);
            EXPECT_EQ(control ? a : L"(none)", ClipboardText(CF_UNICODETEXT)) << control;
        }
        d.ClickRow(1);
        SendMessageA(d.Window(), WM_COMMAND, IDM_COPY, 0);
        EXPECT_EQ(b, ClipboardText(CF_UNICODETEXT));
        EXPECT_EQ(Widen(Narrow(b)), ClipboardText(CF_TEXT));
        SendMessageA(d.Window(), WM_COMMAND, IDM_COPY_ALL, 0);
        const std::wstring all = ClipboardText(CF_UNICODETEXT);
        EXPECT_EQ(0u, all.find(L"Orvex 映象劫持报告\r\n程序版本: 1.0.0.1\r\nWindows: ")) << all;
        EXPECT_NE(std::wstring::npos, all.find(L"\r\n找到 2 项\r\n" + a + b)) << all;
        // With no row selected, "复制" is greyed and copies nothing.
        HWND list = GetDlgItem(d.Window(), IDC_RESULTS);
        LVITEMA none = {};
        none.stateMask = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&none));
        SendMessageA(d.Window(), WM_COMMAND, IDM_COPY, 0);
        EXPECT_EQ(all, ClipboardText(CF_UNICODETEXT));
        PostMessageA(d.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(-1, -1));
        HWND popup = nullptr;
        for (int wait = 0; wait < 100 && popup == nullptr; ++wait, Sleep(20))
            popup = FindWindowA("#32768", nullptr);
        ASSERT_NE(nullptr, popup);
        const HMENU menu = reinterpret_cast<HMENU>(SendMessageA(popup, MN_GETHMENU, 0, 0));
        EXPECT_EQ(static_cast<UINT>(MF_GRAYED), GetMenuState(menu, IDM_COPY, MF_BYCOMMAND) & MF_GRAYED);
        EXPECT_EQ(0u, GetMenuState(menu, IDM_COPY_ALL, MF_BYCOMMAND) & MF_GRAYED);
        PostMessageA(d.Window(), WM_CANCELMODE, 0, 0);
        for (int wait = 0; wait < 100 && IsWindowVisible(popup); ++wait)
            Sleep(20);
        // A row of the infection check is its two texts, with no report's head.
        WriteBytes(SystemPath(kPuid), "planted");
        d.SelectTab(1);
        d.Press(IDC_CHECK);
        d.ReadAndClose();
        SendMessageA(d.Window(), WM_COMMAND, IDM_COPY_ALL, 0);
        DeleteFileA(SystemPath(kPuid).c_str());
        EXPECT_EQ(Widen(SystemPath(kPuid) + "\t" + kSuspicious + "\r\n"), ClipboardText(CF_UNICODETEXT));
        d.PressEscape();
    });
}

TEST_F(MainWindow, ModeChangeSwapsTheColumnsAndEmptiesTheList)
{
    AddHijack("a.exe", "C:\\evil\\one.exe");
    Run([](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 1 项", d.ReadAndClose());
        d.SelectTab(1);
        EXPECT_EQ(kInfectionColumns, d.ColumnHeadings());
        EXPECT_EQ((std::vector<int>{ 420, 100 }), d.ColumnWidths());
        EXPECT_TRUE(d.Rows().empty()) << "the list is emptied, not rescanned";
        d.SelectTab(0);
        d.SelectTab(0);
        EXPECT_EQ(kHijackColumns, d.ColumnHeadings());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        d.PressEscape();
    });
    EXPECT_TRUE(ImageOptionExists("a.exe"));
}

// After each scan the first column fits its longest text, marks included,
// up to half the list, never narrower than laid out; the second takes the
// rest of the two columns' pixels, and the publisher's keeps its own.
TEST_F(MainWindow, TheFirstColumnFitsItsTextsAfterAScan)
{
    const std::wstring longName = std::wstring(40, L'n') + L".exe";
    struct Case {
        const char* what;
        std::wstring image;  // with a verifier row, whose mark is the longest
        int mode;
    } cases[] = {
        { "short names", L"a.exe", 0 },
        { "a name with its mark", L"360tray-helper.exe", 0 },
        { "a name longer than half the list", std::wstring(120, L'n') + L".exe", 0 },
        { "infection mode", L"", 1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetHijacks();
        if (!c.image.empty()) {
            SetRegistryDword(ImageOptionPath(c.image), L"GlobalFlag", 0x100);
            SetRegistryText(ImageOptionPath(c.image), L"VerifierDlls", L"v.dll");
        }
        Run([&](DialogDriver& d) {
            if (c.mode == 1)
                d.SelectTab(1);
            d.Press(IDC_CHECK);
            d.ReadAndClose();
            HWND list = GetDlgItem(d.Window(), IDC_RESULTS);
            RECT client;
            GetClientRect(list, &client);
            const int half = client.right / 2;
            const std::vector<int> widths = d.ColumnWidths();
            ASSERT_EQ(c.mode == 1 ? 2u : 3u, widths.size());
            EXPECT_EQ(c.mode == 1 ? 520 : 410, widths[0] + widths[1]);
            std::wstring shown = c.image + L" [验证DLL]";
            int needed = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(shown.c_str())));
            if (c.mode == 1)
                EXPECT_EQ(420, widths[0]);
            else if (c.image == L"a.exe")
                EXPECT_EQ(120, widths[0]);
            else if (needed < half)
                EXPECT_TRUE(widths[0] > 120 && widths[0] >= needed && widths[0] < half) << widths[0];
            else
                EXPECT_EQ(half, widths[0]);
            d.PressEscape();
        });
    }
}

// Where Windows knows no scale per window (XP to Windows 10 1511, without
// GetDpiForWindow), the screen's: here 144 DPI.
void* g_getProcAddress = nullptr;
void* g_getDeviceCaps = nullptr;

FARPROC WINAPI WithoutDpiForWindow(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) != 0 && lstrcmpA(name, "GetDpiForWindow") == 0)
        return nullptr;
    return reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name);
}

int WINAPI ScreenAt144(HDC dc, int index)
{
    return index == LOGPIXELSX ? 144 : reinterpret_cast<int(WINAPI*)(HDC, int)>(g_getDeviceCaps)(dc, index);
}

// Moved to a screen of another scale, the window takes the rectangle that
// Windows suggests, and its columns scale with it. Where the window has no
// scale of its own, it takes the screen's.
TEST_F(MainWindow, MovedToAScreenOfAnotherScaleItScalesItsColumns)
{
    {
        ImportHook lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&WithoutDpiForWindow));
        ImportHook screen("gdi32.dll", "GetDeviceCaps", reinterpret_cast<void*>(&ScreenAt144));
        ASSERT_TRUE(lookup.Installed() && screen.Installed());
        g_getProcAddress = lookup.Original();
        g_getDeviceCaps = screen.Original();
        Run([](DialogDriver& d) {
            EXPECT_EQ((std::vector<int>{ 180, 435, 165 }), d.ColumnWidths());
            d.PressEscape();
        });
    }
    Run([](DialogDriver& d) {
        RECT suggested = { 10, 20, 10 + 790, 20 + 900 };
        SendMessageA(d.Window(), 0x02E0 /* WM_DPICHANGED */, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
        RECT now;
        GetWindowRect(d.Window(), &now);
        EXPECT_EQ((std::vector<LONG>{ 10, 20, 800, 920 }), (std::vector<LONG>{ now.left, now.top, now.right, now.bottom }));
        EXPECT_EQ((std::vector<int>{ 180, 435, 165 }), d.ColumnWidths());
        d.SelectTab(1);
        EXPECT_EQ((std::vector<int>{ 630, 150 }), d.ColumnWidths()) << "the other mode's columns at the new scale";
        d.PressEscape();
    });
}

TEST_F(MainWindow, EnterWithNoButtonFocusedEndsWithOk)
{
    INT_PTR result = Run([](DialogDriver& d) {
        d.PressEnter();
        EXPECT_TRUE(d.WaitUntilClosed());
    });
    EXPECT_EQ(IDOK, result);
}

TEST_F(MainWindow, EscapeAndTheCloseBoxEndWithCancel)
{
    EXPECT_EQ(IDCANCEL, Run([](DialogDriver& d) {
        d.PressEscape();
        EXPECT_TRUE(d.WaitUntilClosed());
    }));
    EXPECT_EQ(IDCANCEL, Run([](DialogDriver& d) {
        d.PressCloseBox();
        EXPECT_TRUE(d.WaitUntilClosed());
    }));
}

}  // namespace
