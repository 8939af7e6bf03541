// The shipped Orvex.exe, started as a process of its own and driven from
// this one only as a user could: its buttons, its list, its message boxes.
// The restart scenarios come in two halves, run by restart_test.sh around a
// restart of the prefix.
#include "res/resource.h"
#include "support/DialogDriver.h"
#include "support/Prefix.h"
#include "support/Program.h"
#include "support/Signing.h"
#include "support/WatchedFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace testing_support;

namespace {

const char kDir[] = "C:\\orvex-e2e";
const char kPlanted[] = "C:\\windows\\system32\\drivers\\puid.sys";
const char kMarker[] = "C:\\windows\\system32\\dllcache\\orvex-marker.dll";
const char kMarkerRestored[] = "C:\\windows\\system32\\orvex-marker.dll";

std::string InDir(const char* name) { return std::string(kDir) + "\\" + name; }

// Plants the file and holds it open the way a running program does:
// readable by others, but not deletable.
HANDLE PlantHeld()
{
    WriteBytes(kPlanted, "planted");
    HANDLE held = CreateFileA(kPlanted, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, held);
    return held;
}

// In infection mode, finds the held file and tries "清除选定" on it.
void ClearHeldFile(DialogDriver& d)
{
    d.SelectTab(1);
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 1 项", d.ReadAndClose());
    d.ClickRow(0);
    d.Press(IDC_CLEAR_SELECTED);
    EXPECT_EQ(std::string("文件: ") + kPlanted + "\n无法直接删除,需要重启", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { kPlanted, "高度可疑" } }), d.Rows());
}

class Orvex : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetHijacks();
        DeletePending();
    }
    void TearDown() override
    {
        ResetHijacks();
        DeletePending();
        DeleteFileA(kPlanted);
    }
};

TEST_F(Orvex, ListsHijacksAndClearsThemAll)
{
    AddHijack("calc.exe", "C:\\evil\\calc-hook.exe");
    AddHijack("taskmgr.exe", "ntsd -d");
    AddImageOption("notepad.exe", nullptr, 0, REG_NONE);
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 2 项", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { "taskmgr.exe", "ntsd -d" }, { "calc.exe", "C:\\evil\\calc-hook.exe" } }), d.Rows());
    d.Press(IDC_CLEAR_ALL);
    EXPECT_EQ(std::vector<Row>(), d.Rows());
    d.Press(IDCANCEL);
    EXPECT_TRUE(d.NoMessageWithin(1000)) << "no restart is offered after hijack repairs";
    EXPECT_EQ(0u, program.WaitForExit());
    EXPECT_FALSE(ImageOptionExists("calc.exe"));
    EXPECT_FALSE(ImageOptionExists("taskmgr.exe"));
    EXPECT_TRUE(ImageOptionExists("notepad.exe"));
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued);
}

TEST_F(Orvex, ReportsAnUndeletableFileAndOffersARestart)
{
    HANDLE held = PlantHeld();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.SelectTab(1);
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 1 项", d.ReadAndClose());
    d.Press(IDC_CLEAR_ALL);
    EXPECT_EQ(std::string("文件: ") + kPlanted + "\n无法直接删除,需要重启", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { kPlanted, "高度可疑" } }), d.Rows());
    d.PressCloseBox();
    EXPECT_EQ("建议立即重启,以彻底清除病毒文件", d.NextMessage());
    EXPECT_EQ((std::vector<int>{ IDYES, IDNO }), d.MessageButtons());
    d.Answer(IDNO);
    EXPECT_EQ(0u, program.WaitForExit());
    CloseHandle(held);
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(kPlanted), L"", L"" }), ReadPending());
}

// Run by a command line, as fleet tools run it, the program opens no
// window: its report, or CSV by RFC 4180, goes to its output (UTF-8 into a
// pipe), its result is its exit code, and a command line it does not know
// has the usage on its errors. The CSV holds a hostile text exactly, but a
// lone surrogate as its code.
TEST_F(Orvex, RunsFromACommandLineWithoutAWindow)
{
    const std::string image = u8"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options\\a.exe";
    const std::string linked = FreshDirectory("linked") + "\\linked.exe";
    WriteProgram(linked);
    const std::string sethc = Expand("%SystemRoot%\\system32\\sethc.exe");
    enum Planting {
        kNothing,
        kHostile,   // a debugger, and the user's AutoRun with a hostile text
        kLineEnd,   // the machine's AutoRun with a line end alone, and a lone surrogate before a character
        kLinked,    // a debugger, of a subkey that is a link
        kReplaced,  // sethc.exe another program, which nothing here can restore
    };
    struct Case {
        const char* what;
        const char* arguments;
        Planting planted;
        DWORD exitCode;
        std::vector<std::string> output;  // parts of it in order; none: nothing at all
        std::string errors;               // its start
    } cases[] = {
        { "a scan that finds nothing", "/scan", kNothing, 0, { u8"Orvex 映象劫持报告\r\n程序版本: 1.0.0.1\r\n", u8"\r\n未找到任何项\r\n" }, "" },
        { "a scan that finds", "/SCAN", kHostile, 1,
          { u8"\r\n找到 2 项\r\n", u8"\r\n项: a.exe\r\n位置: " + image + u8"\r\n值: debugger\r\n文本: C:\\evil\\two.exe\r\n"
                                   u8"程序: C:\\evil\\two.exe\r\n发行者: 文件不存在\r\n清除选定: 文件不存在\r\n" },
          "" },
        { "CSV", "/scan /csv", kHostile, 1,
          { u8"Kind,Entry,Location,Value,View,Text,Target,Program,Publisher,Queued\r\n"
            u8"user-autorun,命令提示符 AutoRun [当前用户],HKCU\\Software\\Microsoft\\Command Processor,AutoRun,,"
            u8"\"C:\\x\\a,b \"\"q\"\"\r\nx<U+D800>\",,,,no\r\n"
            u8"debugger,a.exe," + image + u8",debugger,,C:\\evil\\two.exe,,C:\\evil\\two.exe,文件不存在,no\r\n" },
          "" },
        { "a line end alone in quotes, a lone surrogate before a character", "/scan /csv", kLineEnd, 1,
          { u8",HKLM\\SOFTWARE\\Microsoft\\Command Processor,AutoRun,,\"a\r\nx<U+D800>y\",,,,no\r\n" }, "" },
        { "a setting through a link in CSV", "/scan /csv", kLinked, 1, { u8",未签名,no\r\n" }, "" },
        { "the same in the report", "/scan", kLinked, 1,
          { u8"发行者: 未签名\r\n清除选定: 设置经由注册表链接，只删除链接，不删除程序\r\n" }, "" },
        { "the usage asked for", "/?", kNothing, 0, { u8"用法: Orvex.exe [/scan [/csv] | /clear | /?]\r\n" }, "" },
        { "the usage with another switch", "/? /scan", kNothing, 2, {}, u8"用法: Orvex.exe" },
        { "a switch it does not know", "/scan /all", kNothing, 2, {}, u8"用法: Orvex.exe" },
        { "one switch too many", "/scan /csv /clear", kNothing, 2, {}, u8"用法: Orvex.exe" },
        { "clear", "/clear", kHostile, 0, { u8"已清除: a.exe\r\n", u8"\r\n清除后未找到任何项\r\n" }, "" },
        { "a clear that leaves a program replaced", "/clear", kReplaced, 1,
          { u8"未能清除: sethc.exe [已被替换]\r\n", u8"\r\n清除后仍有:\r\n" }, u8"文件: " + sethc + u8"\r\n无法恢复\r\n" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetHijacks();
        DeleteFileA(sethc.c_str());
        const std::wstring autoRun = L"HKCU\\" + std::wstring(kCommandProcessorKey);
        if (c.planted == kHostile) {
            AddHijack("a.exe", "C:\\evil\\two.exe");
            SetRegistryText(autoRun, L"AutoRun", L"C:\\x\\a,b \"q\"\r\nx\xD800");
        }
        if (c.planted == kLineEnd)
            SetRegistryText(kCommandProcessorKey, L"AutoRun", L"a\r\nx\xD800y");
        if (c.planted == kLinked) {
            SetRegistryText(L"SOFTWARE\\orvex-linked", L"debugger", Widen(linked));
            CreateRegistryLink(ImageOptionPath(L"b.exe"), L"SOFTWARE\\orvex-linked");
        }
        if (c.planted == kReplaced)
            WriteVersionedProgram(sethc, L"Cmd.Exe");
        const CommandRun run = RunCommand(c.arguments);
        EXPECT_EQ(c.exitCode, run.exitCode);
        size_t at = 0;
        for (const std::string& part : c.output) {
            at = run.output.find(part, at);
            EXPECT_NE(std::string::npos, at) << part << "\nin:\n" << run.output;
        }
        if (c.output.empty()) {
            EXPECT_EQ(std::string(), run.output);
        }
        EXPECT_EQ(c.errors, run.errors.substr(0, c.errors.size()));
    }
    DeleteFileA(sethc.c_str());
    DeleteRegistryTree(L"SOFTWARE\\orvex-linked");
    EXPECT_FALSE(ImageOptionExists("a.exe")) << "cleared";
    EXPECT_EQ(L"(missing)", RegistryText(L"HKCU\\" + std::wstring(kCommandProcessorKey), L"AutoRun"));
}

TEST_F(Orvex, TheAboutBoxOpensCentredOverTheMainWindowAndHoldsIt)
{
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    PostMessageA(program.Window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = DialogDriver::WaitForWindow("Kesmit", 0, 20000);
    ASSERT_NE(nullptr, about);
    EXPECT_EQ(program.Window(), GetWindow(about, GW_OWNER));
    EXPECT_FALSE(IsWindowEnabled(program.Window()));
    // Both open centred: the main window on the screen, the About box over it.
    RECT main, box, work;
    GetWindowRect(program.Window(), &main);
    GetWindowRect(about, &box);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_NEAR((work.left + work.right) / 2, (main.left + main.right) / 2, 1);
    EXPECT_NEAR((work.top + work.bottom) / 2, (main.top + main.bottom) / 2, 1);
    EXPECT_NEAR((main.left + main.right) / 2, (box.left + box.right) / 2, 1);
    EXPECT_NEAR((main.top + main.bottom) / 2, (box.top + box.bottom) / 2, 1);
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    d.Sync();
    EXPECT_FALSE(IsWindow(about) && IsWindowVisible(about));
    EXPECT_TRUE(IsWindowEnabled(program.Window()));
    d.PressEscape();
    EXPECT_EQ(0u, program.WaitForExit());
}

// At 144 DPI (Windows at 150%) the window grows with its font, and every
// pixel figure with it: the columns fill the list as they do at 96.
TEST_F(Orvex, AtOneAndAHalfTimesTheScaleTheColumnsFillTheListAsAt96)
{
    for (DWORD dpi : { 96u, 144u }) {
        SCOPED_TRACE(dpi);
        SetDpi(dpi);
        Program program;
        ASSERT_NE(nullptr, program.Window());
        DialogDriver d(program.Window());
        HWND list = GetDlgItem(program.Window(), IDC_RESULTS);
        RECT client;
        GetClientRect(list, &client);
        for (bool infection : { false, true }) {
            if (infection)
                d.SelectTab(1);
            const std::vector<int> widths = d.ColumnWidths();
            const std::vector<int> expected = infection ? std::vector<int>{ 420, 100 } : std::vector<int>{ 120, 290, 110 };
            std::vector<int> scaled;
            for (int width : expected)
                scaled.push_back(MulDiv(width, dpi, 96));
            EXPECT_EQ(scaled, widths);
            int sum = 0;
            for (int width : widths)
                sum += width;
            EXPECT_NEAR(client.right, sum, client.right / 50) << "the columns do not fill the list";
        }
        d.PressEscape();
        EXPECT_EQ(0u, program.WaitForExit());
    }
    SetDpi(96);
}

class OrvexInfection : public PlantedFiles {};

TEST_F(OrvexInfection, ListsTheSevenWatchedFilesDriverFilesFirst)
{
    PlantAllSeven();
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.SelectTab(1);
    EXPECT_EQ((std::vector<std::string>{ "感染文件", "类别" }), d.ColumnHeadings());
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 7 项", d.ReadAndClose());
    EXPECT_EQ(AllSevenRows(), d.Rows());
    // Checking alone advises no restart.
    d.PressEscape();
    EXPECT_TRUE(d.NoMessageWithin(1000));
    EXPECT_EQ(0u, program.WaitForExit());
}

// Keeps a key locked (see SetKeyLocked) for the life of the object.
class KeyLock {
public:
    explicit KeyLock(const char* path) : m_path(path) { SetKeyLocked(m_path, true); }
    ~KeyLock() { SetKeyLocked(m_path, false); }
    KeyLock(const KeyLock&) = delete;
    KeyLock& operator=(const KeyLock&) = delete;

private:
    const char* m_path;
};

TEST_F(Orvex, WithoutRightsToTheKeysListsAndQueuesNothing)
{
    AddHijack("calc.exe", "C:\\evil\\calc-hook.exe");
    HANDLE held = PlantHeld();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    {
        KeyLock imageOptions(kImageOptionsKey);
        KeyLock sessionManager(kSessionManagerKey);
        Program program;
        ASSERT_NE(nullptr, program.Window());
        DialogDriver d(program.Window());
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 0 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ("未找到任何项", d.ReadAndClose());
        d.Press(IDC_CLEAR_SELECTED);
        EXPECT_EQ("未选定任何项", d.ReadAndClose());
        d.SelectTab(1);
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 1 项", d.ReadAndClose());
        d.Press(IDC_CLEAR_ALL);
        EXPECT_EQ(std::string("文件: ") + kPlanted + "\n无法删除", d.ReadAndClose()) << "nothing can be queued";
        d.PressEscape();
        EXPECT_EQ("建议立即重启,以彻底清除病毒文件", d.NextMessage());
        d.Answer(IDNO);
        EXPECT_EQ(0u, program.WaitForExit());
    }
    CloseHandle(held);
    EXPECT_TRUE(ImageOptionExists("calc.exe"));
    EXPECT_TRUE(FileExists(kPlanted));
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued);
}

// The halves around a restart leave their state for each other: no cleanup.
// A scenario without halves starts from a clean registry too.
class OrvexRestart : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()).find("_After_") ==
            std::string::npos) {
            ResetHijacks();
            DeletePending();
        }
    }
};

// Restart, first half: "清除选定" removes hijacks and queues the programs
// they name, after another program's pending delete and rename: a
// debugger, a filter's debugger and a silent-exit monitor. 淺 is 9C 5C in
// GBK: its program is queued as itself, not as its look-alike 淺a.exe; the
// ANSI code page would turn pâtch.exe into patch.exe. A program named by
// its second drive name is queued by its real path, and so is the program
// that exefile's open command starts first, and the crash debugger's. Not
// queued: the sticky-keys backdoor (sethc.exe pointed at cmd.exe, which the
// system keeps in dllcache), arguments that climb to another file, cmd.exe
// through a directory link, and a file that is no program.
TEST_F(OrvexRestart, DISABLED_Before_ClearSelectedQueuesTheProgram)
{
    FreshDirectory("..\\orvex-e2e");
    CreateDirectoryA(InDir("淺").c_str(), nullptr);
    for (const char* name : { "hook.exe", "淺\\a.exe", "淺a.exe", "victim.exe", "filter.exe", "monitor.exe", "patch.exe",
                              "second.exe", "shell.exe", "crash.exe" })
        WriteProgram(InDir(name));
    const std::wstring lookAlike = Widen(kDir) + L"\\p\x00E2tch.exe";
    ASSERT_TRUE(CopyFileW(Widen(InDir("patch.exe")).c_str(), lookAlike.c_str(), FALSE));
    WriteBytes(InDir("boot.ini"), "[boot loader]\r\n");
    WriteBytes(InDir("other.tmp"), "other program's leftover");
    WriteBytes(InDir("update.new"), "new version");
    UnixSymlink("../windows/system32", InDir("j"));
    char prefix[MAX_PATH] = "";
    GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix));
    std::string second = std::string("Z:") + prefix + "/drive_c/orvex-e2e/second.exe";
    std::replace(second.begin(), second.end(), '/', '\\');
    const std::string cmd = SystemPath("system32\\cmd.exe");
    CreateDirectoryA(SystemPath(kDllcache).c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(cmd.c_str(), SystemPath(Reference("system32\\cmd.exe")).c_str(), FALSE));
    const std::string others = WideStrings({ L"\\??\\" + Widen(InDir("other.tmp")), L"",
                                             L"\\??\\" + Widen(InDir("update.new")),
                                             L"\\??\\" + Widen(InDir("update.dll")) });
    WritePending(others + std::string(2, '\0'));
    AddHijack("winword.exe", InDir("hook.exe"));
    AddHijack("wmplayer.exe", InDir("淺\\a.exe"));
    AddHijackOfKind(kFilterDebugger, L"chrome.exe", Widen(InDir("filter.exe")));
    AddHijackOfKind(kSilentExitMonitor, L"calc.exe", Widen(InDir("monitor.exe")));
    AddHijackOfKind(kDebugger, L"mspaint.exe", lookAlike);
    AddHijack("sethc.exe", cmd);
    AddHijack("notepad.exe", InDir("x.exe /../victim.exe"));
    AddHijack("taskmgr.exe", InDir("j\\cmd.exe"));
    AddHijack("regedit.exe", second);
    AddHijackOfKind(kOpenCommand, L"", L"\"" + Widen(InDir("shell.exe")) + L"\" \"%1\" %*");
    AddHijack("write.exe", InDir("boot.ini"));
    AddHijack("excel.exe", "C:\\elsewhere\\stays.exe");
    AddHijackOfKind(kCrashDebugger, L"", L"\"" + Widen(InDir("crash.exe")) + L"\" -p %ld -e %ld");

    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 13 项", d.ReadAndClose());
    for (const char* name : { "winword.exe", "wmplayer.exe", "chrome.exe", "calc.exe", "mspaint.exe", "sethc.exe",
                              "notepad.exe", "taskmgr.exe", "regedit.exe", "write.exe", "exefile", "程序崩溃" }) {
        SCOPED_TRACE(name);
        std::vector<Row> rows = d.Rows();
        auto row = std::find_if(rows.begin(), rows.end(), [&](const Row& r) { return r.first.find(name) == 0; });
        ASSERT_NE(rows.end(), row);
        d.ClickRow(static_cast<int>(row - rows.begin()));
        d.Press(IDC_CLEAR_SELECTED);
    }
    EXPECT_EQ((std::vector<Row>{ { "excel.exe", "C:\\elsewhere\\stays.exe" } }), d.Rows());
    d.PressEscape();
    EXPECT_TRUE(d.NoMessageWithin(1000));
    EXPECT_EQ(0u, program.WaitForExit());

    EXPECT_FALSE(ImageOptionExists("winword.exe"));
    EXPECT_FALSE(ImageOptionExists("sethc.exe"));
    EXPECT_EQ(L"1:\"%1\" %*", RegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\open\\command", L""));
    EXPECT_EQ(others + WideStrings({ L"\\??\\" + Widen(InDir("hook.exe")), L"", L"\\??\\" + Widen(InDir("淺\\a.exe")), L"",
                                     L"\\??\\" + Widen(InDir("filter.exe")), L"", L"\\??\\" + Widen(InDir("monitor.exe")),
                                     L"", L"\\??\\" + lookAlike, L"", L"\\??\\" + Widen(InDir("second.exe")), L"",
                                     L"\\??\\" + Widen(InDir("shell.exe")), L"", L"\\??\\" + Widen(InDir("crash.exe")),
                                     L"", L"" }),
              ReadPending());
}

// Restart, second half: the Session Manager carried out every pair, and
// nothing else.
TEST_F(OrvexRestart, DISABLED_After_ClearSelectedQueuesTheProgram)
{
    for (const char* name : { "hook.exe", "淺\\a.exe", "filter.exe", "monitor.exe", "second.exe", "shell.exe", "crash.exe" })
        EXPECT_FALSE(FileExists(InDir(name))) << name << ": the queued program survived the restart";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Widen(kDir) + L"\\p\x00E2tch.exe").c_str()));
    for (const char* name : { "淺a.exe", "patch.exe", "victim.exe", "boot.ini" })
        EXPECT_TRUE(FileExists(InDir(name))) << name << ": a file that was not queued was deleted";
    EXPECT_TRUE(FileExists(SystemPath("system32\\cmd.exe")));
    EXPECT_FALSE(FileExists(InDir("other.tmp"))) << "another program's deletion was lost";
    EXPECT_FALSE(FileExists(InDir("update.new")));
    EXPECT_EQ("new version", ReadBytes(InDir("update.dll"))) << "another program's rename was lost";
}

// A file in use, first half: reported, kept, and queued.
TEST_F(OrvexRestart, DISABLED_Before_UndeletableFileGoes)
{
    HANDLE held = PlantHeld();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    ClearHeldFile(d);
    d.Press(IDCANCEL);
    EXPECT_EQ("建议立即重启,以彻底清除病毒文件", d.NextMessage());
    d.Answer(IDNO);
    EXPECT_EQ(0u, program.WaitForExit());
    CloseHandle(held);
    EXPECT_TRUE(FileExists(kPlanted));
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(kPlanted), L"", L"" }), ReadPending());
}

TEST_F(OrvexRestart, DISABLED_After_UndeletableFileGoes)
{
    EXPECT_FALSE(FileExists(kPlanted)) << "the queued file survived the restart";
}

// Yes to the restart question: the program asks the system to restart, and
// the restart carries out the queued deletion. Nothing else starts the prefix
// again meanwhile: the test sees the restart within its own run. Every start
// of the prefix moves the marker in dllcache into system32.
TEST_F(OrvexRestart, DISABLED_RestartsTheSystem)
{
    CreateDirectoryA("C:\\windows\\system32\\dllcache", nullptr);
    WriteBytes(kMarker, "restart marker");
    HANDLE held = PlantHeld();
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    ClearHeldFile(d);
    CloseHandle(held);
    EXPECT_FALSE(FileExists(kMarkerRestored));
    d.PressEscape();
    EXPECT_EQ("建议立即重启,以彻底清除病毒文件", d.NextMessage());
    d.Answer(IDYES);
    program.WaitForExit(30000);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(100)) {
        if (!FileExists(kPlanted) && FileExists(kMarkerRestored))
            break;
    }
    EXPECT_EQ("restart marker", ReadBytes(kMarkerRestored)) << "the prefix did not restart";
    EXPECT_FALSE(FileExists(kPlanted)) << "the queued file survived the restart";
    DeleteFileA(kMarkerRestored);
}

}  // namespace

namespace {

// On 64-bit Windows, run by restart_test.sh in a 64-bit prefix, where this
// 32-bit test and Orvex.exe run under WOW64. "system32" is then two
// folders: the native one, which the test reaches with redirection off,
// and SysWOW64. A hijack's program is the file that each launcher would
// start, queued by its real path: both.exe is a DLL in the native folder
// and a program in SysWOW64, only64.exe (read-only, with a read-only DLL of
// its name in SysWOW64) and only32.exe exist in one folder each, and cmd.exe
// is kept in the native dllcache. spool and drivers\etc are one folder for
// both launchers, whatever SysWOW64 holds, and Sysnative leads a 32-bit
// launcher to the native folder. The infection check lists the files of
// both folders, each compared with its own folder's dllcache.
class OnWow64 : public ::testing::Test {
protected:
    // The native file system for this thread, for the test's own file calls.
    class RedirectionOff {
    public:
        RedirectionOff() { EXPECT_TRUE(Wow64DisableWow64FsRedirection(&m_previous)); }
        ~RedirectionOff() { Wow64RevertWow64FsRedirection(m_previous); }

    private:
        void* m_previous = nullptr;
    };

    static std::string Native(const char* relative) { return std::string("C:\\windows\\system32\\") + relative; }
    static std::string Wow64(const char* relative) { return std::string("C:\\windows\\syswow64\\") + relative; }
    static bool NativeExists(const char* relative)
    {
        RedirectionOff native;
        return FileExists(Native(relative));
    }
};

TEST_F(OnWow64, DISABLED_Before_ChecksAndQueuesTheVeryFile)
{
    ResetHijacks();
    DeletePending();
    HANDLE held = INVALID_HANDLE_VALUE;
    {
        RedirectionOff native;
        ASSERT_TRUE(CopyFileA(Native("version.dll").c_str(), Native("both.exe").c_str(), FALSE));
        WriteProgram(Native("only64.exe"));
        SetFileAttributesA(Native("only64.exe").c_str(), FILE_ATTRIBUTE_READONLY);
        for (const char* name : { "spool\\orvex.exe", "drivers\\etc\\orvex.exe", "sn.exe" })
            WriteProgram(Native(name));
        CreateDirectoryA(Native("dllcache").c_str(), nullptr);
        ASSERT_TRUE(CopyFileA(Native("cmd.exe").c_str(), Native("dllcache\\cmd.exe").c_str(), FALSE));
        WriteBytes(Native("drivers\\ntfs.dll"), "planted");
        held = CreateFileA(Native("drivers\\ntfs.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           0, nullptr);
        WriteBytes(Native("drivers\\puid.sys"), "planted");
        WriteBytes(Native("conime.exe"), Content(kPage, 1));
        WriteBytes(Native("dllcache\\conime.exe"), Content(kPage, 1));
    }
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteProgram(Wow64("both.exe"));
    WriteProgram(Wow64("only32.exe"));
    ASSERT_TRUE(CopyFileA(Wow64("version.dll").c_str(), Wow64("only64.exe").c_str(), FALSE));
    SetFileAttributesA(Wow64("only64.exe").c_str(), FILE_ATTRIBUTE_READONLY);
    for (const char* folder : { "spool", "drivers", "drivers\\etc" })
        CreateDirectoryA(Wow64(folder).c_str(), nullptr);
    for (const char* name : { "spool\\orvex.exe", "drivers\\etc\\orvex.exe", "sn.exe" })
        WriteProgram(Wow64(name));
    CreateDirectoryA(Wow64("drivers").c_str(), nullptr);
    CreateDirectoryA(Wow64("dllcache").c_str(), nullptr);
    WriteBytes(Wow64("drivers\\pcihdd.sys"), "planted");
    WriteBytes(Wow64("drivers\\puid.sys"), "planted");
    WriteBytes(Wow64("userinit.exe"), Content(kPage, 2));
    WriteBytes(Wow64("dllcache\\userinit.exe"), Content(kPage, 3));
    AddHijack("a.exe", Native("both.exe"));
    AddHijack("b.exe", Native("only64.exe"));
    AddHijack("c.exe", Native("only32.exe"));
    AddHijack("sethc.exe", Native("cmd.exe"));
    AddHijack("d.exe", Native("spool\\orvex.exe"));
    AddHijack("e.exe", Native("drivers\\etc\\orvex.exe"));
    AddHijack("f.exe", "C:\\windows\\Sysnative\\sn.exe");
    // Each view has a command processor key of its own, and an AutoRun.
    SetRegistryText(kCommandProcessorKey, L"AutoRun", L"echo 32", KEY_WOW64_32KEY);
    SetRegistryText(kCommandProcessorKey, L"AutoRun", L"echo 64", KEY_WOW64_64KEY);
    // A silent-exit monitor, with SilentProcessExit shared by both views
    // through a link, as Image File Execution Options is: listed once.
    SetRegistryDword(ImageOptionPath(L"calc.exe"), L"GlobalFlag", 0x200);
    const std::wstring exits = Widen(kSilentExitKey);
    SetRegistryDword(exits + L"\\calc.exe", L"ReportingMode", 1, KEY_WOW64_64KEY);
    SetRegistryText(exits + L"\\calc.exe", L"MonitorProcess", L"C:\\missing-monitor.exe", KEY_WOW64_64KEY);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, exits.c_str(), KEY_WOW64_32KEY, 0);
    CreateRegistryLink(exits, exits, KEY_WOW64_32KEY);
    // In CSV, a key of one view has its view, and a key both share none.
    const CommandRun csv = RunCommand("/scan /csv");
    EXPECT_NE(std::string::npos, csv.output.find(u8",AutoRun,32,echo 32,")) << csv.output;
    EXPECT_NE(std::string::npos, csv.output.find(u8",debugger,," + Native("both.exe") + ",")) << csv.output;

    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 10 项", d.ReadAndClose());
    const std::vector<Row> rows = d.Rows();
    ASSERT_EQ(10u, rows.size());
    EXPECT_EQ((std::vector<Row>{ { "命令提示符 AutoRun [32位]", "echo 32" }, { "命令提示符 AutoRun", "echo 64" } }),
              std::vector<Row>(rows.begin(), rows.begin() + 2));
    for (int i = 0; i < 10; ++i) {
        d.ClickRow(0);
        d.Press(IDC_CLEAR_SELECTED);
    }
    EXPECT_EQ(std::vector<Row>(), d.Rows());
    d.SelectTab(1);
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 5 项", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { Native("drivers\\ntfs.dll"), kSuspicious },
                                 { Native("drivers\\puid.sys"), kSuspicious },
                                 { Wow64("drivers\\puid.sys"), kSuspicious },
                                 { Wow64("drivers\\pcihdd.sys"), kSuspicious },
                                 { Wow64("userinit.exe"), kInfected } }),
              d.Rows());
    d.Press(IDC_CLEAR_ALL);
    EXPECT_EQ("文件: " + Native("drivers\\ntfs.dll") + "\n无法直接删除,需要重启", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { Native("drivers\\ntfs.dll"), kSuspicious } }), d.Rows());
    d.PressEscape();
    EXPECT_EQ("建议立即重启,以彻底清除病毒文件", d.NextMessage());
    d.Answer(IDNO);
    EXPECT_EQ(0u, program.WaitForExit());
    CloseHandle(held);

    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
        EXPECT_EQ(std::vector<std::wstring>(), KeyValues(kCommandProcessorKey, view));
    // Clicked from the top, after the AutoRuns: sethc.exe, f.exe, e.exe, d.exe, calc.exe, c.exe, b.exe, a.exe.
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(Native("sn.exe")), L"", L"\\??\\" + Widen(Native("drivers\\etc\\orvex.exe")), L"",
                            L"\\??\\" + Widen(Native("spool\\orvex.exe")), L"",
                            L"\\??\\" + Widen(Wow64("only32.exe")), L"", L"\\??\\" + Widen(Native("only64.exe")), L"",
                            L"\\??\\" + Widen(Wow64("both.exe")), L"", L"\\??\\" + Widen(Native("drivers\\ntfs.dll")),
                            L"", L"" }),
              ReadPending());
    for (const char* name : { "drivers\\pcihdd.sys", "drivers\\puid.sys", "userinit.exe" })
        EXPECT_FALSE(FileExists(Wow64(name))) << name << " was not deleted at once";
    EXPECT_FALSE(NativeExists("drivers\\puid.sys")) << "the native puid.sys was not deleted at once";
    {
        RedirectionOff native;
        EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), GetFileAttributesA(Native("only64.exe").c_str()))
            << "the queued native program is read-only still";
    }
    EXPECT_NE(0u, GetFileAttributesA(Wow64("only64.exe").c_str()) & FILE_ATTRIBUTE_READONLY)
        << "the DLL of its name in SysWOW64 was reset";
}

TEST_F(OnWow64, DISABLED_After_ChecksAndQueuesTheVeryFile)
{
    for (const char* name : { "only32.exe", "both.exe" })
        EXPECT_FALSE(FileExists(Wow64(name))) << name << ": the queued program survived the restart";
    for (const char* name : { "only64.exe", "drivers\\ntfs.dll" })
        EXPECT_FALSE(NativeExists(name)) << name << ": the queued file survived the restart";
    EXPECT_TRUE(NativeExists("both.exe")) << "the native both.exe is no program and was not queued";
    for (const char* name : { "spool\\orvex.exe", "drivers\\etc\\orvex.exe", "sn.exe" }) {
        EXPECT_FALSE(NativeExists(name)) << name << ": the queued program survived the restart";
        EXPECT_TRUE(FileExists(Wow64(name))) << name << ": a 32-bit namesake that no launcher starts was deleted";
    }
    EXPECT_TRUE(NativeExists("cmd.exe"));
    EXPECT_TRUE(FileExists(Wow64("cmd.exe")));
}

// Where the two registry views are two keys (Windows XP x64 to Vista x64),
// the hijacks of each view are listed and removed in that view; a row of
// the 32-bit view carries its mark. Only 32-bit launchers read that view's
// key, and open a system32 path in SysWOW64; only native ones read the
// native key, and open it in system32: "清除选定" queues that one file.
TEST_F(OnWow64, DISABLED_Before_TwoViews)
{
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
        ResetHijacks(view);
    DeletePending();
    for (const char* name : { "tv32.exe", "tv64.exe" }) {
        WriteProgram(Wow64(name));
        RedirectionOff native;
        WriteProgram(Native(name));
    }
    const std::wstring for32 = Widen(Native("tv32.exe"));
    const std::wstring for64 = Widen(Native("tv64.exe"));
    SetRegistryText(ImageOptionPath(L"paint.exe"), L"debugger", L"C:\\x64.exe", KEY_WOW64_64KEY);
    SetRegistryDword(ImageOptionPath(L"paint.exe"), L"GlobalFlag", 2, KEY_WOW64_64KEY);
    SetRegistryText(ImageOptionPath(L"paint.exe"), L"debugger", for32, KEY_WOW64_32KEY);
    SetRegistryText(ImageOptionPath(L"alone.exe"), L"debugger", L"C:\\a32.exe", KEY_WOW64_32KEY);
    SetRegistryText(ImageOptionPath(L"alone64.exe"), L"debugger", for64, KEY_WOW64_64KEY);

    Program program;
    ASSERT_NE(nullptr, program.Window());
    DialogDriver d(program.Window());
    d.Press(IDC_CHECK);
    EXPECT_EQ("找到 4 项", d.ReadAndClose());
    EXPECT_EQ((std::vector<Row>{ { "paint.exe [32位]", Native("tv32.exe") }, { "alone.exe [32位]", "C:\\a32.exe" },
                                 { "paint.exe", "C:\\x64.exe" }, { "alone64.exe", Native("tv64.exe") } }),
              d.Rows());
    d.ClickRow(0);
    d.Press(IDC_CLEAR_SELECTED);
    EXPECT_EQ((std::vector<Row>{ { "alone.exe [32位]", "C:\\a32.exe" }, { "paint.exe", "C:\\x64.exe" },
                                 { "alone64.exe", Native("tv64.exe") } }),
              d.Rows());
    d.ClickRow(2);
    d.Press(IDC_CLEAR_SELECTED);
    d.Press(IDC_CLEAR_ALL);
    EXPECT_EQ(std::vector<Row>(), d.Rows());
    d.PressEscape();
    EXPECT_EQ(0u, program.WaitForExit());
    EXPECT_EQ(std::vector<std::wstring>{ L"GlobalFlag" }, KeyValues(ImageOptionPath(L"paint.exe"), KEY_WOW64_64KEY));
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY }) {
        for (const wchar_t* name : { view == KEY_WOW64_32KEY ? L"paint.exe" : L"alone64.exe", L"alone.exe" })
            EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(ImageOptionPath(name), view)) << name;
    }
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(Wow64("tv32.exe")), L"", L"\\??\\" + for64, L"", L"" }), ReadPending());
}

TEST_F(OnWow64, DISABLED_After_TwoViews)
{
    EXPECT_FALSE(FileExists(Wow64("tv32.exe"))) << "the 32-bit view's program survived the restart";
    EXPECT_TRUE(NativeExists("tv32.exe")) << "a native file that no 32-bit launcher starts was deleted";
    EXPECT_FALSE(NativeExists("tv64.exe")) << "the native view's program survived the restart";
    EXPECT_TRUE(FileExists(Wow64("tv64.exe"))) << "a 32-bit file that no native launcher starts was deleted";
}

}  // namespace

namespace {

// For the README: shows the window with a few hijacks listed, then the
// About box, and lets tools/screenshots.sh photograph each (it answers the
// "ready" files with "done" files).
const char kShotDir[] = "C:\\orvex-shot";

// Announces that `window` is ready to be photographed, with its place on
// the screen as WIDTHxHEIGHT+X+Y, and waits for the photograph.
bool Handshake(const char* step, HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    char geometry[64];
    wsprintfA(geometry, "%ldx%ld+%ld+%ld", r.right - r.left, r.bottom - r.top, r.left, r.top);
    WriteBytes(std::string(kShotDir) + "\\ready-" + step, geometry);
    std::string done = std::string(kShotDir) + "\\done-" + step;
    for (int i = 0; i < 600 && !FileExists(done); ++i)
        Sleep(100);
    return FileExists(done);
}

TEST_F(OrvexRestart, DISABLED_Screenshots)
{
    ResetHijacks();
    CreateDirectoryA(kShotDir, nullptr);
    AddHijack("360tray.exe", "C:\\WINDOWS\\system32\\drivers\\svch0st.exe");
    AddHijack("KAVStart.exe", "");
    SetKeyLocked(std::string(kImageOptionsKey) + "\\KAVStart.exe", true);
    SetRegistryDword(ImageOptionPath(L"avp.exe"), L"UseFilter", 1);
    SetRegistryDword(ImageOptionPath(L"avp.exe\\0"), L"GlobalFlag", 0x100);
    SetRegistryText(ImageOptionPath(L"avp.exe\\0"), L"VerifierDlls", L"C:\\Program Files\\\x75C5\x6BD2\\hook.dll");
    AddHijackOfKind(kPrimaryVerb, L"", L"C:\\WINDOWS\\Temp\\~sys.exe \"%1\" %*");
    AddHijackOfKind(kDelegateExecute, L"", L"C:\\WINDOWS\\Temp\\~com.exe -Embedding");
    SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\runas\\command", L"IsolatedCommand",
                    L"C:\\WINDOWS\\Temp\\~adm.exe \"%1\"");
    SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\CurVer", L"", L"runfile");
    SetRegistryText(std::wstring(kUserClasses) + L"\\ms-settings\\shell\\open\\command", L"",
                    L"C:\\Users\\Public\\run.exe");
    AddHijackOfKind(kCrashDebugger, L"", L"C:\\WINDOWS\\system32\\vsjitd\x0435" L"bugger.exe -p %ld -e %ld");
    AddHijackOfKind(kHangDebugger, L"", L"C:\\WINDOWS\\Temp\\hang.exe -p %ld");
    AddHijackOfKind(kAppDebugger, L"Microsoft.WindowsCalculator_8wekyb3d8bbwe", L"C:\\Users\\Public\\calc-dbg.exe");
    AddHijackOfKind(kPackageDebugger, L"Microsoft.WindowsStore_8wekyb3d8bbwe", L"C:\\Users\\Public\\store.exe");
    AddHijackOfKind(kAppInitDlls, L"", L"C:\\WINDOWS\\system32\\msvcmon.dll");
    AddHijackOfKind(kAppCertDll, L"certhook", L"C:\\WINDOWS\\system32\\certhook.dll");
    AddHijackOfKind(kUserAutoRun, L"", L"C:\\WINDOWS\\system32\\chcp.com 936>nul" + std::wstring(300, L' ') +
                                       L"& C:\\WINDOWS\\Temp\\~cmd.exe");
    AddHijackOfKind(kAssistiveTool, L"osk", L"C:\\Users\\Public\\osk.exe");
    AddHijack("taskmgr.exe", Signed().trusted);
    const char kSethc[] = "C:\\windows\\system32\\sethc.exe";
    WriteVersionedProgram(kSethc, L"Cmd.Exe");
    for (const char* step : { "main", "main144" }) {
        SetDpi(lstrcmpA(step, "main") == 0 ? 96 : 144);
        Program program;
        ASSERT_NE(nullptr, program.Window());
        DialogDriver d(program.Window());
        d.Press(IDC_CHECK);
        EXPECT_EQ("找到 18 项", d.ReadAndClose());
        d.ClickRow(2);
        EXPECT_TRUE(Handshake(step, program.Window()));
        if (lstrcmpA(step, "main") == 0) {
            PostMessageA(program.Window(), WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
            HWND about = DialogDriver::WaitForWindow("Kesmit", 0, 20000);
            ASSERT_NE(nullptr, about);
            EXPECT_TRUE(Handshake("about", about));
            PostMessageA(about, WM_COMMAND, IDOK, 0);
        }
        d.PressEscape();
        EXPECT_EQ(0u, program.WaitForExit());
    }
    SetDpi(96);
    SetKeyLocked(std::string(kImageOptionsKey) + "\\KAVStart.exe", false);
    DeleteFileA(kSethc);
    ResetHijacks();
}

}  // namespace
