// Leaving the main window and the restart offer, the About box and its entry
// in the system menu, the icon of the minimised window, and what the built
// Orvex.exe shows the loaders of real Windows: its version and icon
// resources, its manifest, its PE header and its imports.
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/DialogTemplate.h"
#include "support/ExitScenario.h"
#include "support/ImportHook.h"
#include "support/Prefix.h"
#include "support/PeImage.h"
#include "support/Program.h"
#include "support/SystemMenu.h"
#include "support/WatchedFiles.h"
#include "system/Privilege.h"
#include "ui/RepairDialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

using namespace testing_support;

namespace {

const char kCaption[] = "Tarvik";
const char kAboutCaption[] = "Kesmit";
const char kAboutText[] = "关于 Orvex(&A)...";

INT_PTR RunMainWindow(CRepairDialog& dialog, const std::function<void(DialogDriver&)>& script)
{
    INT_PTR result = -2;
    RunDriven(kCaption, [&] { result = dialog.DoModal(); }, script);
    return result;
}

INT_PTR RunMainWindow(const std::function<void(DialogDriver&)>& script)
{
    CRepairDialog dialog;
    return RunMainWindow(dialog, script);
}

class WindowChrome : public ::testing::Test {
protected:
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = { sizeof(icc), ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES };
        InitCommonControlsEx(&icc);
    }
};

// The restarts the program requests, recorded instead of carried out.
typedef std::vector<std::pair<UINT, DWORD>> RestartRequests;
std::mutex g_restartsLock;
RestartRequests g_restarts;

BOOL WINAPI RecordRestart(UINT flags, DWORD reason)
{
    std::lock_guard<std::mutex> lock(g_restartsLock);
    g_restarts.emplace_back(flags, reason);
    return TRUE;
}

class Exit : public PlantedFiles {
protected:
    void SetUp() override
    {
        PlantedFiles::SetUp();
        ResetHijacks();
        ASSERT_TRUE(m_restartHook.Installed());
        std::lock_guard<std::mutex> lock(g_restartsLock);
        g_restarts.clear();
    }
    void TearDown() override
    {
        PlantedFiles::TearDown();
        ResetHijacks();
    }

    static RestartRequests Restarts()
    {
        std::lock_guard<std::mutex> lock(g_restartsLock);
        return g_restarts;
    }

    ImportHook m_restartHook{ "user32.dll", "ExitWindowsEx", reinterpret_cast<void*>(&RecordRestart) };
};

class ExitAfterInfectionClear : public Exit, public ::testing::WithParamInterface<WayOut> {};

// ---------------------------------------------------------------------------
// Leaving

TEST_F(Exit, EveryWayOutEndsAtOnceWhenNothingWasCleared)
{
    for (WayOut way : { WayOut::ExitButton, WayOut::Escape, WayOut::CloseBox }) {
        SCOPED_TRACE(::testing::PrintToString(way));
        EXPECT_EQ(IDCANCEL, RunMainWindow([way](DialogDriver& d) {
            Leave(d, way);
            ExpectEndsWithoutAsking(d);
        }));
    }
}

TEST_P(ExitAfterInfectionClear, AsksOnceToRestartAndEndsOnNo)
{
    Plant(kPuid, "planted");
    INT_PTR result = RunMainWindow([](DialogDriver& d) {
        ClearAnInfection(d);
        Leave(d, GetParam());
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        EXPECT_EQ((std::vector<int>{ IDYES, IDNO }), d.MessageButtons());
        d.Answer(IDNO);
        ExpectEndsWithoutAsking(d);  // no second question
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(RestartRequests(), Restarts());
}

INSTANTIATE_TEST_SUITE_P(, ExitAfterInfectionClear,
                         ::testing::Values(WayOut::ExitButton, WayOut::Escape, WayOut::CloseBox),
                         ::testing::PrintToStringParamName());

// The boxes have no owner: "退出" and the close box work while one is open.
TEST_F(Exit, ExitPressedAgainWhileTheQuestionIsOpenAsksOnceAndYesRestartsOnce)
{
    Plant(kPuid, "planted");
    EXPECT_EQ(IDCANCEL, RunMainWindow([](DialogDriver& d) {
        ClearAnInfection(d);
        d.Press(IDCANCEL);
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        d.Press(IDCANCEL);
        EXPECT_TRUE(d.NoMessageWithin(1500)) << "asked again";
        d.Answer(IDYES);
        ExpectEndsWithoutAsking(d);
    }));
    EXPECT_EQ((RestartRequests{ { static_cast<UINT>(EWX_REBOOT), 0u } }), Restarts());
}

// The close box also posts a cancel command, which the open box's loop delivers.
TEST_F(Exit, TheCloseBoxPressedWhileAMessageIsOpenAsksOnce)
{
    Plant(kPuid, "planted");
    EXPECT_EQ(IDCANCEL, RunMainWindow([](DialogDriver& d) {
        ClearAnInfection(d);
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 0 项", d.NextMessage());
        d.PressCloseBox();
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        d.Answer(IDNO);
        EXPECT_TRUE(d.NoMessageWithin(1500)) << "asked again";
        d.Answer(IDOK);
        ExpectEndsWithoutAsking(d);
    }));
}

// The file is queued before its message shows: leaving then offers the restart.
TEST_F(Exit, LeavingWhileAFileIsReportedUndeletableOffersTheRestart)
{
    Plant(kPuid, "planted");
    Hold(kPuid);
    for (int button : { IDC_CLEAR_ALL, IDC_CLEAR_SELECTED }) {
        SCOPED_TRACE(button == IDC_CLEAR_ALL ? "全部清除" : "清除选定");
        EXPECT_EQ(IDCANCEL, RunMainWindow([button](DialogDriver& d) {
            d.SelectTab(1);
            d.Press(IDC_CHECK);
            EXPECT_EQ("找到 1 项", d.ReadAndClose());
            d.ClickRow(0);
            d.Press(button);
            EXPECT_EQ(CannotDelete(kPuid), d.NextMessage());
            d.Press(IDCANCEL);
            EXPECT_EQ(kRestartQuestion, d.NextMessage());
            d.Answer(IDNO);
            d.Answer(IDOK);
            ExpectEndsWithoutAsking(d);
        }));
    }
}

TEST_F(Exit, ClearSelectedInInfectionModeAdvisesRestartInEitherMode)
{
    Plant(kPuid, "planted");
    INT_PTR result = RunMainWindow([](DialogDriver& d) {
        d.SelectTab(1);
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 1 项", d.ReadAndClose());
        d.ClickRow(0);
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_TRUE(d.Rows().empty());
        d.SelectTab(0);  // the advice stays whatever the mode at the exit
        d.PressEscape();
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        d.Answer(IDNO);
        ExpectEndsWithoutAsking(d);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(FileExists(SystemPath(kPuid)));
}

TEST_F(Exit, InfectionClearsWithNothingToActOnAdviseNothing)
{
    Plant(kPuid, "planted");
    INT_PTR result = RunMainWindow([](DialogDriver& d) {
        d.SelectTab(1);
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 1 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        d.PressEscape();
        ExpectEndsWithoutAsking(d);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_TRUE(FileExists(SystemPath(kPuid)));
}

TEST_F(Exit, HijackClearsAdviseNoRestart)
{
    const std::string dir = FreshDirectory("evil");
    WriteProgram(dir + "\\two.exe");
    AddHijack("a.exe", dir + "\\one.exe");
    AddHijack("b.exe", dir + "\\two.exe");
    INT_PTR result = RunMainWindow([](DialogDriver& d) {
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 2 项", d.ReadAndClose());
        d.ClickRow(0);
        d.Press(IDC_CLEAR_SELECTED);  // queues two.exe for deletion at restart
        d.Press(IDC_CLEAR_ALL);
        EXPECT_TRUE(d.Rows().empty());
        d.PressCloseBox();
        ExpectEndsWithoutAsking(d);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(ReadPending().empty());
}

TEST_F(Exit, EnterAfterAnInfectionClearEndsWithOkWithoutAsking)
{
    Plant(kPuid, "planted");
    INT_PTR result = RunMainWindow([](DialogDriver& d) {
        ClearAnInfection(d);
        d.PressEnter();
        ExpectEndsWithoutAsking(d);
    });
    EXPECT_EQ(IDOK, result);
}

TEST_F(Exit, TheAdviceLastsOneRunOfTheWindow)
{
    Plant(kPuid, "planted");
    CRepairDialog dialog;
    EXPECT_EQ(IDCANCEL, RunMainWindow(dialog, [](DialogDriver& d) {
        ClearAnInfection(d);
        d.PressEscape();
        EXPECT_EQ(kRestartQuestion, d.NextMessage());
        d.Answer(IDNO);
        ExpectEndsWithoutAsking(d);
    }));
    EXPECT_EQ(IDCANCEL, RunMainWindow(dialog, [](DialogDriver& d) {
        d.PressEscape();
        ExpectEndsWithoutAsking(d);  // the window opened again advises nothing
    }));
}

TEST(EnablePrivilege, EnablesTheShutdownPrivilegeInTheProcessToken)
{
    EXPECT_EQ(1, EnablePrivilege("SeShutdownPrivilege"));

    LUID shutdown = {};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &shutdown));
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    char buffer[4096];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size));
    CloseHandle(token);
    const TOKEN_PRIVILEGES* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    DWORD attributes = 0;
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID& luid = privileges->Privileges[i].Luid;
        if (luid.LowPart == shutdown.LowPart && luid.HighPart == shutdown.HighPart)
            attributes = privileges->Privileges[i].Attributes;
    }
    EXPECT_NE(0u, attributes & SE_PRIVILEGE_ENABLED);
}

TEST(EnablePrivilege, FailsForAPrivilegeTheSystemDoesNotKnow)
{
    EXPECT_EQ(0, EnablePrivilege("SeNoSuchPrivilege"));
}

// ---------------------------------------------------------------------------
// About box and system menu

TEST(AboutBoxTemplate, HasTheLayoutOfTheAboutBox)
{
    DialogTemplate t;
    ASSERT_TRUE(LoadDialogTemplate(IDD_ABOUTBOX, &t));
    EXPECT_EQ("Kesmit", t.caption);
    EXPECT_EQ("宋体", t.font);
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(215, t.cx);
    EXPECT_EQ(79, t.cy);
    EXPECT_EQ(static_cast<DWORD>(DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU), t.style & ~DS_SETFONT);

    ExpectControls(t, {
        { IDC_STATIC, "Static", "", 29, 15, 119, 8, WS_VISIBLE | SS_LEFT | SS_NOPREFIX | WS_GROUP },
        { IDOK, "Button", "确定", 133, 41, 50, 14, WS_VISIBLE | BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP },
        { IDC_STATIC, "Static", "2008.01.30", 29, 30, 80, 10, WS_VISIBLE | SS_LEFT | WS_GROUP },
    });
}

struct AboutSearch {
    bool visibleOnly;
    HWND found;
};

BOOL CALLBACK MatchAboutBox(HWND window, LPARAM param)
{
    AboutSearch* search = reinterpret_cast<AboutSearch*>(param);
    char className[32] = "";
    char caption[64] = "";
    GetClassNameA(window, className, sizeof(className));
    GetWindowTextA(window, caption, sizeof(caption));
    if (lstrcmpA(className, "#32770") != 0 || lstrcmpA(caption, kAboutCaption) != 0)
        return TRUE;
    if (search->visibleOnly && !IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

// The About box among the top-level windows of the main window's thread.
HWND FindAboutBox(HWND mainWindow, bool visibleOnly)
{
    AboutSearch search = { visibleOnly, nullptr };
    EnumThreadWindows(GetWindowThreadProcessId(mainWindow, nullptr), MatchAboutBox,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForAboutBox(HWND mainWindow)
{
    for (DWORD start = GetTickCount(); GetTickCount() - start < 10000; Sleep(20)) {
        if (HWND about = FindAboutBox(mainWindow, true))
            return about;
    }
    return nullptr;
}

// Closes the About box with one of its commands and waits until it is gone.
void CloseAboutBox(HWND about, int command)
{
    PostMessageA(about, WM_COMMAND, MAKEWPARAM(command, BN_CLICKED), 0);
    DWORD start = GetTickCount();
    while (IsWindow(about) && IsWindowVisible(about) && GetTickCount() - start < 10000)
        Sleep(20);
    EXPECT_FALSE(IsWindow(about) && IsWindowVisible(about)) << "the About box stays open";
}

TEST_F(WindowChrome, SystemMenuEndsWithASeparatorAndTheAboutEntry)
{
    RunMainWindow([](DialogDriver& d) {
        std::vector<MenuEntry> entries = SystemMenuEntries(d.Window());
        std::vector<MenuEntry> expected = DefaultSystemMenuEntries(d.Window());
        ASSERT_FALSE(expected.empty());
        expected.push_back({ 0, true, "" });
        expected.push_back({ IDM_ABOUTBOX, false, kAboutText });
        EXPECT_EQ(expected, entries);
        d.PressEscape();
    });
}

TEST_F(WindowChrome, AboutCommandsOpenTheAboutBox)
{
    RunMainWindow([](DialogDriver& d) {
        for (WPARAM command : { 0x0010, 0x0017, 0x001F }) {
            SCOPED_TRACE(command);
            PostMessageA(d.Window(), WM_SYSCOMMAND, command, 0);
            HWND about = WaitForAboutBox(d.Window());
            ASSERT_NE(nullptr, about) << "no About box";
            EXPECT_EQ(GetWindowThreadProcessId(d.Window(), nullptr), GetWindowThreadProcessId(about, nullptr));
            char date[32] = "";
            GetWindowTextA(GetWindow(GetDlgItem(about, IDOK), GW_HWNDNEXT), date, sizeof(date));
            EXPECT_STREQ("2008.01.30", date);
            CloseAboutBox(about, command == 0x0017 ? IDCANCEL : IDOK);
            d.Sync();
            EXPECT_TRUE(IsWindow(d.Window())) << "closing the About box leaves the main window open";
        }
        // Only the low four bits are masked off: 0x0020 and 0x000F are other commands.
        for (WPARAM command : { 0x0020, 0x000F }) {
            SCOPED_TRACE(command);
            PostMessageA(d.Window(), WM_SYSCOMMAND, command, 0);
            // A modal About box would be created before the synchronising message is handled.
            d.Sync();
            EXPECT_EQ(nullptr, FindAboutBox(d.Window(), false));
        }
        d.PressEscape();
    });
}

// ---------------------------------------------------------------------------
// Icon

TEST_F(WindowChrome, DragIconIsTheProgramIcon)
{
    RunMainWindow([](DialogDriver& d) {
        HICON icon = reinterpret_cast<HICON>(SendMessageA(d.Window(), WM_QUERYDRAGICON, 0, 0));
        ASSERT_NE(nullptr, icon);
        EXPECT_EQ(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME)), icon);
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        EXPECT_TRUE(info.fIcon);
        BITMAP colour = {};
        GetObjectA(info.hbmColor, sizeof(colour), &colour);
        EXPECT_EQ(GetSystemMetrics(SM_CXICON), colour.bmWidth);
        EXPECT_EQ(GetSystemMetrics(SM_CYICON), colour.bmHeight);
        DeleteObject(info.hbmColor);
        DeleteObject(info.hbmMask);
        d.PressEscape();
    });
}

std::atomic<HWND> g_paintedWindow{ nullptr };
std::atomic<int> g_iconErasures{ 0 };

// Counts the WM_ICONERASEBKGND messages, each with a paint context, that the
// window sends itself.
LRESULT CALLBACK CountIconErasures(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->hwnd == g_paintedWindow && sent->message == WM_ICONERASEBKGND &&
        sent->wParam != 0)
        ++g_iconErasures;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WindowChrome, MinimisedWindowPaintsItsIcon)
{
    RunMainWindow([](DialogDriver& d) {
        HWND window = d.Window();
        g_paintedWindow = window;
        g_iconErasures = 0;
        struct Hook {
            HHOOK handle;
            ~Hook() { UnhookWindowsHookEx(handle); }
        } hook = { SetWindowsHookExA(WH_CALLWNDPROC, CountIconErasures, nullptr,
                                     GetWindowThreadProcessId(window, nullptr)) };
        ASSERT_NE(nullptr, hook.handle);

        SendMessageA(window, WM_PAINT, 0, 0);
        EXPECT_EQ(0, g_iconErasures.load()) << "an open window paints as usual";

        // The dialog manager shows the window normally the first time its
        // queue runs empty, which undoes a minimise that came sooner: minimise
        // until the window stays minimised over the paint.
        bool paintedMinimised = false;
        for (int attempt = 0; attempt < 3 && !paintedMinimised; ++attempt) {
            PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            d.Sync();
            g_iconErasures = 0;
            bool before = IsIconic(window) != 0;
            SendMessageA(window, WM_PAINT, 0, 0);
            paintedMinimised = before && IsIconic(window);
        }
        ASSERT_TRUE(paintedMinimised) << "the window does not stay minimised";
        EXPECT_EQ(1, g_iconErasures.load()) << "the minimised window draws its icon";

        PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
        d.Sync();
        EXPECT_FALSE(IsIconic(window));
        d.PressEscape();
    });
}

// ---------------------------------------------------------------------------
// Resources of the built program

std::string VersionString(const std::vector<char>& block, const char* name, bool* present)
{
    std::string query = std::string("\\StringFileInfo\\080404B0\\") + name;
    void* value = nullptr;
    UINT length = 0;
    *present = VerQueryValueA(block.data(), query.c_str(), &value, &length) != 0;
    return *present && value != nullptr ? static_cast<const char*>(value) : "";
}

// Child keys of the block "StringFileInfo" in a raw VS_VERSIONINFO.
std::vector<std::wstring> StringTableNames(const BYTE* info)
{
    struct Header {
        WORD length;
        WORD valueLength;
        WORD type;
    };
    auto align = [](const BYTE* base, const BYTE* at) { return base + ((at - base + 3) & ~3); };
    auto key = [](const BYTE* node) { return reinterpret_cast<const wchar_t*>(node + sizeof(Header)); };
    auto children = [&](const BYTE* node) {
        const BYTE* at = node + sizeof(Header) + (wcslen(key(node)) + 1) * sizeof(wchar_t);
        at = align(node, at) + reinterpret_cast<const Header*>(node)->valueLength;
        return align(node, at);
    };
    auto end = [](const BYTE* node) { return node + reinterpret_cast<const Header*>(node)->length; };

    std::vector<std::wstring> names;
    for (const BYTE* block = children(info); block < end(info); block = align(info, end(block))) {
        if (wcscmp(key(block), L"StringFileInfo") != 0)
            continue;
        for (const BYTE* table = children(block); table < end(block); table = align(info, end(table)))
            names.push_back(key(table));
    }
    return names;
}

TEST(ShippedProgram, CarriesItsVersionBlock)
{
    std::string path = ProgramPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_NE(0u, size) << path;
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(0u, fixed->dwFileFlags);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_EQ(2 * sizeof(WORD), length) << "one translation";
    EXPECT_EQ(0x0804, translation[0]);
    EXPECT_EQ(1200, translation[1]);

    EXPECT_EQ(std::vector<std::wstring>{ L"080404B0" }, StringTableNames(reinterpret_cast<const BYTE*>(block.data())));

    struct Expected {
        const char* name;
        const char* value;
    } expected[] = {
        { "CompanyName", "" },
        { "FileDescription", "Orvex Microsoft 基础类应用程序" },
        { "FileVersion", "1, 0, 0, 1" },
        { "InternalName", "Orvex" },
        { "LegalTrademarks", "" },
        { "OriginalFilename", "Orvex.EXE" },
        { "ProductName", "Orvex 应用程序" },
        { "ProductVersion", "1, 0, 0, 1" },
    };
    for (const Expected& e : expected) {
        bool present = false;
        EXPECT_EQ(e.value, VersionString(block, e.name, &present)) << e.name;
        EXPECT_TRUE(present) << e.name;
    }
}

// The shell asks for the size it draws (16 in the title bar and lists, 32
// and 48 on the desktop, 256 in large views): each is there in 32-bit
// colour with an alpha channel, the 256 one compressed as PNG, which
// Windows XP skips for the others.
TEST(ShippedProgram, IconGroupHoldsEachSizeIn32BitColourWithAlpha)
{
    std::string path = ProgramPath();
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program) << path;

#pragma pack(push, 2)
    struct GroupHeader {
        WORD reserved;
        WORD type;
        WORD count;
    };
    struct GroupEntry {
        BYTE width;
        BYTE height;
        BYTE colourCount;
        BYTE reserved;
        WORD planes;
        WORD bitCount;
        DWORD bytes;
        WORD id;
    };
#pragma pack(pop)

    HRSRC group = FindResourceA(program, MAKEINTRESOURCEA(IDR_MAINFRAME), reinterpret_cast<LPCSTR>(RT_GROUP_ICON));
    ASSERT_NE(nullptr, group);
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(program, group)));
    const GroupHeader* header = reinterpret_cast<const GroupHeader*>(data);
    EXPECT_EQ(1, header->type);
    const int sizes[] = { 16, 32, 48, 256 };
    ASSERT_EQ(4, header->count);
    ASSERT_EQ(sizeof(GroupHeader) + 4 * sizeof(GroupEntry), SizeofResource(program, group));
    for (int i = 0; i < 4; ++i) {
        const int size = sizes[i];
        SCOPED_TRACE(size);
        const GroupEntry* entry = reinterpret_cast<const GroupEntry*>(data + sizeof(GroupHeader)) + i;
        EXPECT_EQ(size % 256, entry->width) << "256 is written 0";
        EXPECT_EQ(size % 256, entry->height);
        EXPECT_EQ(32, entry->bitCount);
        HRSRC image = FindResourceA(program, MAKEINTRESOURCEA(entry->id), reinterpret_cast<LPCSTR>(RT_ICON));
        ASSERT_NE(nullptr, image);
        ASSERT_EQ(entry->bytes, SizeofResource(program, image));
        const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(program, image)));
        if (size == 256) {
            const BYTE png[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
            ASSERT_EQ(0, std::memcmp(png, bytes, sizeof(png)));
            // IHDR: width, height (big-endian), 8 bits a channel, colour type 6 (RGBA).
            EXPECT_EQ(0, std::memcmp("IHDR\0\0\1\0\0\0\1\0\x08\x06", bytes + 12, 14));
            continue;
        }
        const BITMAPINFOHEADER* bitmap = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);
        EXPECT_EQ(size, bitmap->biWidth);
        EXPECT_EQ(2 * size, bitmap->biHeight) << "colour and mask";
        EXPECT_EQ(32, bitmap->biBitCount);
        // Edges drawn with partial transparency, not a cut-out.
        const BYTE* pixels = bytes + bitmap->biSize;
        std::set<int> alphas;
        for (int p = 0; p < size * size; ++p)
            alphas.insert(pixels[4 * p + 3]);
        EXPECT_TRUE(alphas.count(0) && alphas.count(255)) << "transparent and opaque pixels";
        EXPECT_GT(alphas.size(), 2u) << "no edge is smoothed";
    }
    FreeLibrary(program);
}

// What Windows XP / Server 2003 export from a DLL (named in lower case,
// without ".dll"): the lists in tests/data/xp-exports. Empty without a list.
std::set<std::string> XpExports(const std::string& dll)
{
    std::set<std::string> names;
    bool present = false;
    std::istringstream lines(ReadBytes(TestDataPath("xp-exports\\" + dll + ".txt"), &present));
    std::string line;
    while (present && std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] != '#')
            names.insert(line);
    }
    return names;
}

// Wine exports every function of every Windows version; XP refuses to start
// a program that imports one it lacks ("procedure entry point not found").
TEST(ShippedProgram, StartsOnWindowsXp)
{
    PeImage image;
    ASSERT_TRUE(ReadPeImage(ProgramPath(), &image)) << ProgramPath();
    EXPECT_LE(image.osMajor * 100 + image.osMinor, 501) << "OS version " << image.osMajor << "." << image.osMinor;
    EXPECT_LE(image.subsystemMajor * 100 + image.subsystemMinor, 501)
        << "subsystem version " << image.subsystemMajor << "." << image.subsystemMinor;
    ASSERT_FALSE(image.imports.empty());

    std::map<std::string, std::set<std::string>> lists;
    std::vector<std::string> missing;
    for (const PeImport& import : image.imports) {
        std::string dll = import.dll;
        std::transform(dll.begin(), dll.end(), dll.begin(), [](char c) { return static_cast<char>(tolower(c)); });
        if (dll.size() > 4 && dll.compare(dll.size() - 4, 4, ".dll") == 0)
            dll.resize(dll.size() - 4);
        auto list = lists.find(dll);
        if (list == lists.end())
            list = lists.emplace(dll, XpExports(dll)).first;
        std::string name = import.dll.substr(0, dll.size()) + "!" + import.function;
        if (list->second.empty())
            missing.push_back(name + " (no export list for " + dll + ".dll)");
        else if (list->second.count(import.function) == 0)
            missing.push_back(name);
    }
    EXPECT_EQ(std::vector<std::string>(), missing) << "imports that Windows XP/2003 lack";
}

TEST(ShippedProgram, ItsManifestAsksForAdministratorsThemesAndEachScreensScaleInAFormXpAccepts)
{
    std::string path = ProgramPath();
    HMODULE program = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, program) << path;
    HRSRC resource = FindResourceA(program, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, resource) << "no manifest (type 24, id 1)";
    std::string manifest(static_cast<const char*>(LockResource(LoadResource(program, resource))),
                         SizeofResource(program, resource));
    FreeLibrary(program);

    // XP SP2 and Server 2003 crash in csrss when an element declares the
    // asm.v3 namespace twice, and refuse to start the program when trustInfo
    // or application has none.
    const std::string v3 = "urn:schemas-microsoft-com:asm.v3";
    for (size_t tag = manifest.find('<'); tag != std::string::npos; tag = manifest.find('<', tag + 1)) {
        const std::string element = manifest.substr(tag, manifest.find('>', tag) - tag);
        size_t first = element.find(v3);
        EXPECT_TRUE(first == std::string::npos || element.find(v3, first + 1) == std::string::npos) << element;
    }
    EXPECT_NE(std::string::npos, manifest.find("<trustInfo xmlns=\"" + v3 + "\">"));
    EXPECT_NE(std::string::npos, manifest.find("<application xmlns=\"" + v3 + "\">"));

    // Wine's own activation-context code reads it as Windows does.
    ACTCTXA request = {};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = path.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "error " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION level = {};
    SIZE_T size = 0;
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &level, sizeof(level),
                             &size));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_REQUIRE_ADMIN, level.RunLevel);
    EXPECT_EQ(0u, level.UiAccess);

    // One dependency, the common controls 6: the program and that library
    // are the context's assemblies. The strings of an answer follow its record.
    struct {
        ACTIVATION_CONTEXT_DETAILED_INFORMATION info;
        WCHAR strings[512];
    } detail = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, &detail, sizeof(detail),
                             &size));
    EXPECT_EQ(2u, detail.info.ulAssemblyCount);
    struct {
        ACTIVATION_CONTEXT_ASSEMBLY_DETAILED_INFORMATION info;
        WCHAR strings[1024];
    } controls = {};
    DWORD second = 2;
    ASSERT_TRUE(QueryActCtxW(0, context, &second, AssemblyDetailedInformationInActivationContext, &controls,
                             sizeof(controls), &size))
        << "error " << GetLastError() << ", " << size << " bytes needed";
    const std::wstring identity(controls.info.lpAssemblyEncodedAssemblyIdentity,
                                controls.info.ulEncodedAssemblyIdentityLength / sizeof(WCHAR));
    EXPECT_NE(std::wstring::npos, identity.find(L"Microsoft.Windows.Common-Controls")) << identity.c_str();
    EXPECT_NE(std::wstring::npos, identity.find(L"version=\"6.0.")) << identity.c_str();  // or a later 6.0 by policy

    // Aware of each monitor's scale, in the words of Windows 8.1 and of 10.
    const struct {
        const wchar_t* ns;
        const wchar_t* name;
        const wchar_t* text;
    } settings[] = {
        { L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware", L"true/pm" },
        { L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness", L"PerMonitorV2, PerMonitor" },
    };
    typedef BOOL(WINAPI * QuerySettings)(DWORD, HANDLE, const WCHAR*, const WCHAR*, WCHAR*, SIZE_T, SIZE_T*);
    const QuerySettings querySettings = reinterpret_cast<QuerySettings>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryActCtxSettingsW")));
    ASSERT_NE(nullptr, querySettings);
    for (const auto& setting : settings) {
        WCHAR text[64] = L"";
        SIZE_T written = 0;
        EXPECT_TRUE(querySettings(0, context, setting.ns, setting.name, text, 64, &written)) << setting.name;
        EXPECT_EQ(std::wstring(setting.text), text) << setting.name;
    }

    // Vista, 7, 8, 8.1 and 10/11, in that order. The elements are laid out as
    // in the current SDK, with the version tested after the type.
    struct Element {
        GUID id;
        ACTCTX_COMPATIBILITY_ELEMENT_TYPE type;
        ULONGLONG maxVersionTested;
    };
    struct {
        DWORD count;
        Element elements[8];
    } compatibility = {};
    ASSERT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, &compatibility,
                             sizeof(compatibility), &size));
    ReleaseActCtx(context);
    ASSERT_EQ(sizeof(ULONGLONG) + compatibility.count * sizeof(Element), size) << "an unknown element layout";
    std::vector<std::string> supported;
    for (DWORD i = 0; i < compatibility.count; ++i) {
        const Element& e = compatibility.elements[i];
        char text[40];
        wsprintfA(text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", e.id.Data1, e.id.Data2, e.id.Data3,
                  e.id.Data4[0], e.id.Data4[1], e.id.Data4[2], e.id.Data4[3], e.id.Data4[4], e.id.Data4[5],
                  e.id.Data4[6], e.id.Data4[7]);
        EXPECT_EQ(ACTCTX_COMPATIBILITY_ELEMENT_TYPE_OS, e.type) << text;
        supported.push_back(text);
    }
    EXPECT_EQ((std::vector<std::string>{ "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                                         "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                                         "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}" }),
              supported);
}

}  // namespace
