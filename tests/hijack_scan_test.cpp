// Listing and removing image hijacks in the test prefix's registry.
#include "hijack/HijackRepair.h"
#include "support/ImportHook.h"
#include "support/ListWindow.h"
#include "support/Prefix.h"
#include "support/WatchedFiles.h"
#include "system/FileProtection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>

using namespace testing_support;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Rows;

class HijackScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetImageOptions();
        DeletePending();
    }
    void TearDown() override
    {
        for (const std::string& name : m_locked)
            Unlock(name);
        ResetImageOptions();
        DeletePending();
    }

    // Gives the subkey an empty access list: nobody may open it.
    void Lock(const std::string& name)
    {
        SetKeyLocked(std::string(kImageOptionsKey) + "\\" + name, true);
        m_locked.push_back(name);
    }
    static void Unlock(const std::string& name) { SetKeyLocked(std::string(kImageOptionsKey) + "\\" + name, false); }

    ListWindow m_window;
    std::vector<std::string> m_locked;
};

TEST_F(HijackScan, ListsStringDebuggersInReverseOrder)
{
    AddHijack("alpha.exe", "C:\\bad\\alpha-debugger.exe");
    AddHijack("beta.exe", "ntsd -d");
    AddHijack("gamma.exe", "C:\\Program Files\\x\\y.exe /quiet");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "gamma.exe", "C:\\Program Files\\x\\y.exe /quiet" },
                     { "beta.exe", "ntsd -d" },
                     { "alpha.exe", "C:\\bad\\alpha-debugger.exe" } }),
              m_window.Rows());
}

// The limits count characters: 中 takes two bytes in the ANSI code page.
TEST_F(HijackScan, ListsOnlyPlainStringsShorterThan260Characters)
{
    const std::string at259(258, 'a');  // 259 characters with the terminator
    const std::string at260(259, 'b');
    std::string wide259;
    for (int i = 0; i < 258; ++i)
        wide259 += "中";
    AddHijack("a259-wide.exe", wide259);
    AddHijack("b260-wide.exe", wide259 + "中");
    const char expandable[] = "%windir%\\x.exe";
    const DWORD number = 1;
    AddHijack("a259.exe", at259);
    AddHijack("b260.exe", at260);
    AddImageOption("c-expand.exe", expandable, sizeof(expandable), REG_EXPAND_SZ);
    AddImageOption("d-dword.exe", &number, sizeof(number), REG_DWORD);
    AddImageOption("e-multi.exe", "x\0\0", 3, REG_MULTI_SZ);
    AddImageOption("f-binary.exe", "xyz", 3, REG_BINARY);
    AddImageOption("g-none.exe", nullptr, 0, REG_NONE);  // no debugger value at all
    AddHijack("h-empty.exe", "");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "h-empty.exe", "" }, { "a259.exe", at259 }, { "a259-wide.exe", wide259 } }), m_window.Rows());
}

// The system counts in a terminator that follows the given bytes in memory:
// the bytes after each value here are not zero, so none is stored.
TEST_F(HijackScan, NeverShowsMoreThanTheBytesRead)
{
    const std::string full(259, 'c');
    const std::string guarded = full + "x";
    AddImageOption("a-unterminated.exe", "abcx", 3, REG_SZ);
    AddImageOption("b-no-bytes.exe", "x", 0, REG_SZ);
    AddImageOption("c-full.exe", guarded.data(), 259, REG_SZ);  // fills the buffer: no room for a terminator
    ScanHijacks(m_window.list);
    EXPECT_EQ(Rows({ { "c-full.exe", full }, { "b-no-bytes.exe", "" }, { "a-unterminated.exe", "abc" } }),
              m_window.Rows());
}

// Values of every type and of awkward sizes, none with a terminator: only
// plain strings shorter than 260 bytes are listed, each with exactly its bytes.
TEST_F(HijackScan, SurvivesDebuggerValuesOfEveryTypeAndSize)
{
    const DWORD types[] = { REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                            REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, REG_QWORD };
    const DWORD sizes[] = { 0, 1, 259, 260, 4096 };
    const std::string filler(4096, 'A');
    Rows expected;
    for (DWORD type : types) {
        for (DWORD size : sizes) {
            char name[64];
            wsprintfA(name, "t%02lu-s%04lu.exe", type, size);
            std::string path = std::string(kImageOptionsKey) + "\\" + name;
            HKEY key;
            ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                     KEY_ALL_ACCESS, nullptr, &key, nullptr));
            EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Debugger", 0, type,
                                                    reinterpret_cast<const BYTE*>(filler.data()), size));
            RegCloseKey(key);
            if (type == REG_SZ && size < 260)
                expected.insert(expected.begin(), { name, filler.substr(0, size) });
        }
    }
    ScanHijacks(m_window.list);
    EXPECT_EQ(expected, m_window.Rows());
}

TEST_F(HijackScan, ChinesePathsAreListedAndQueuedAsTheirCharacters)
{
    const std::string program = FreshDirectory("病毒") + "\\木马.exe";
    WriteProgram(program);
    AddHijack("木马.exe", program);
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "木马.exe", program } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("木马.exe"));
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\\x75C5\x6BD2\\\x6728\x9A6C.exe", L"", L"" }), ReadPending());
}

// Names and texts are read, shown and acted on as they are: the ANSI code
// page would turn pâint.exe into the user's own paint.exe and pâtch.exe into
// patch.exe, and cannot hold 가 at all. The long text is 141 characters, 271
// bytes in the ANSI code page.
TEST_F(HijackScan, ListsAndActsOnTheRealTextOfEveryName)
{
    const std::string ansiDir = FreshDirectory("look-alike");
    WriteProgram(ansiDir + "\\patch.exe");
    const std::wstring dir = Widen(ansiDir);
    const std::wstring malware = dir + L"\\p\x00E2tch.exe";
    ASSERT_TRUE(CopyFileW((dir + L"\\patch.exe").c_str(), malware.c_str(), FALSE));
    std::wstring longText = L"C:\\" + std::wstring(130, L'\x4E2D') + L"\\abc.exe";
    ASSERT_EQ(141u, longText.size());
    const DWORD flag = 0x2;
    SetRegistryText(ImageOptionPath(L"paint.exe"), L"debugger", L"C:\\tools\\mine.exe");
    SetRegistryDword(ImageOptionPath(L"paint.exe"), L"GlobalFlag", flag);
    SetRegistryText(ImageOptionPath(L"p\x00E2int.exe"), L"debugger", malware);
    SetRegistryText(ImageOptionPath(L"\xAC00.exe"), L"debugger", L"C:\\\xAC00.exe");
    SetRegistryText(ImageOptionPath(L"long.exe"), L"debugger", longText);
    ScanHijacks(m_window.list);
    const std::vector<std::pair<std::wstring, std::wstring>> rows = {
        { L"\xAC00.exe", L"C:\\\xAC00.exe" },
        { L"p\x00E2int.exe", malware },
        { L"paint.exe", L"C:\\tools\\mine.exe" },
        { L"long.exe", longText },
    };
    ASSERT_EQ(rows, m_window.WideRows());
    m_window.Select(1);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(WideStrings({ L"\\??\\" + malware, L"", L"" }), ReadPending());
    EXPECT_EQ((std::vector<std::wstring>{ L"debugger", L"GlobalFlag" }), KeyValues(ImageOptionPath(L"paint.exe")));
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    EXPECT_EQ(std::vector<std::wstring>{ L"GlobalFlag" }, KeyValues(ImageOptionPath(L"paint.exe")));
}

TEST_F(HijackScan, NeverListsTheTemplateSubkeyInAnyCase)
{
    AddHijack("Your Image File Name Here without a path", "x.exe");
    AddHijack("your image file name here WITHOUT A PATH.exe", "y.exe");
    AddHijack("Your Image File Name Here", "z.exe");  // shorter than the template
    AddHijack("Your Image File Name Here without a patX", "w.exe");  // differs in its 40th byte
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "Your Image File Name Here without a patX", "w.exe" }, { "Your Image File Name Here", "z.exe" } }),
              m_window.Rows());
}

TEST_F(HijackScan, SkipsASubkeyThatCannotBeOpenedAndGoesOn)
{
    AddHijack("a.exe", "first.exe");
    AddHijack("b.exe", "locked.exe");
    AddHijack("c.exe", "third.exe");
    Lock("b.exe");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "c.exe", "third.exe" }, { "a.exe", "first.exe" } }), m_window.Rows());
}

TEST_F(HijackScan, ListsNothingWithoutTheKey)
{
    m_window.list.InsertItem(LVIF_TEXT, 0, "stale", 0, 0, 0, 0);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kImageOptionsKey));
    ScanHijacks(m_window.list);
    EXPECT_TRUE(m_window.Rows().empty());
}

// A subkey may hold other settings of the program it is named after, or
// subkeys of its own: only the hijack goes, and the subkey when the hijack
// was all it held.
TEST_F(HijackScan, ClearAllRemovesEveryHijackAndNothingElse)
{
    const DWORD one = 1;
    AddHijack("a.exe", "x.exe");
    AddHijack("b.exe", "y.exe");
    AddImageOption("b.exe\\PerProcess", nullptr, 0, REG_NONE);
    AddImageOption("c.exe", nullptr, 0, REG_NONE);  // not a hijack
    AddHijack("d.exe", "z.exe");
    AddImageOption("d.exe", &one, sizeof(one), REG_DWORD, "GlobalFlag");
    AddImageOption("d.exe", "\x01\0\0\0\0\0\0\0", 8, REG_BINARY, "MitigationOptions");
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe\\PerProcess"));
    EXPECT_EQ(std::vector<std::string>(), ImageOptionValues("b.exe"));
    EXPECT_TRUE(ImageOptionExists("c.exe"));
    EXPECT_EQ((std::vector<std::string>{ "GlobalFlag", "MitigationOptions" }), ImageOptionValues("d.exe"));
    EXPECT_EQ(Rows(), m_window.Rows());
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued) << "clearing all queues nothing";
}

// Windows starts another program, or loads other code, through four
// settings; each is a row, marked with its kind. "全部清除" removes each
// setting and nothing else: GlobalFlag, UseFilter, FilterFullPath and
// ReportingMode stay.
TEST_F(HijackScan, ListsEveryKindOfHijackAndClearAllRemovesOnlyTheSettings)
{
    const std::wstring all = ImageOptionPath(L"all.exe");
    const std::wstring exits = Widen(kSilentExitKey);
    SetRegistryText(all, L"debugger", L"C:\\d.exe");
    SetRegistryDword(all, L"UseFilter", 1);
    SetRegistryText(all + L"\\0", L"FilterFullPath", L"C:\\app\\all.exe");
    SetRegistryText(all + L"\\0", L"debugger", L"C:\\f.exe");
    SetRegistryText(all + L"\\0", L"MitigationOptions", L"kept");
    SetRegistryDword(all, L"GlobalFlag", 0x300);
    SetRegistryText(all, L"VerifierDlls", L"v.dll w.dll");
    SetRegistryDword(exits + L"\\all.exe", L"ReportingMode", 1);
    SetRegistryText(exits + L"\\all.exe", L"MonitorProcess", L"C:\\m.exe");
    // Settings that start nothing.
    SetRegistryText(ImageOptionPath(L"nouse.exe\\0"), L"FilterFullPath", L"C:\\app\\nouse.exe");
    SetRegistryText(ImageOptionPath(L"nouse.exe\\0"), L"debugger", L"C:\\f.exe");
    SetRegistryDword(ImageOptionPath(L"nopath.exe"), L"UseFilter", 1);
    SetRegistryText(ImageOptionPath(L"nopath.exe\\0"), L"debugger", L"C:\\f.exe");
    SetRegistryDword(ImageOptionPath(L"noflag.exe"), L"GlobalFlag", 0x100);
    SetRegistryDword(exits + L"\\noflag.exe", L"ReportingMode", 1);
    SetRegistryText(exits + L"\\noflag.exe", L"MonitorProcess", L"C:\\m.exe");
    SetRegistryDword(ImageOptionPath(L"nolaunch.exe"), L"GlobalFlag", 0x200);
    SetRegistryDword(exits + L"\\nolaunch.exe", L"ReportingMode", 2);
    SetRegistryText(exits + L"\\nolaunch.exe", L"MonitorProcess", L"C:\\m.exe");
    SetRegistryValue(ImageOptionPath(L"binaryflag.exe"), L"GlobalFlag", REG_BINARY, "\0\x03\0\0", 4);
    SetRegistryText(ImageOptionPath(L"binaryflag.exe"), L"VerifierDlls", L"v.dll");
    SetRegistryDword(ImageOptionPath(L"noverify.exe"), L"GlobalFlag", 0x200);
    SetRegistryText(ImageOptionPath(L"noverify.exe"), L"VerifierDlls", L"v.dll");
    ScanHijacks(m_window.list);
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{
                  { std::wstring(L"all.exe") + kKindMarks[kSilentExitMonitor], L"C:\\m.exe" },
                  { std::wstring(L"all.exe") + kKindMarks[kVerifierDlls], L"v.dll w.dll" },
                  { std::wstring(L"all.exe") + kKindMarks[kFilterDebugger], L"C:\\f.exe" },
                  { L"all.exe", L"C:\\d.exe" } }),
              m_window.WideRows());

    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    EXPECT_EQ((std::vector<std::wstring>{ L"GlobalFlag", L"UseFilter" }), KeyValues(all));
    EXPECT_EQ((std::vector<std::wstring>{ L"FilterFullPath", L"MitigationOptions" }), KeyValues(all + L"\\0"));
    EXPECT_EQ(std::vector<std::wstring>{ L"ReportingMode" }, KeyValues(exits + L"\\all.exe"));
    EXPECT_EQ((std::vector<std::wstring>{ L"MonitorProcess", L"ReportingMode" }), KeyValues(exits + L"\\nolaunch.exe"));
}

TEST_F(HijackScan, ClearSelectedDeletesTheSubkeyAndQueuesItsProgram)
{
    const std::string dir = FreshDirectory("bad");
    WriteProgram(dir + "\\one.exe");
    WriteProgram(dir + "\\two.exe");
    AddHijack("a.exe", dir + "\\one.exe");
    AddHijack("b.exe", dir + "\\two.exe");
    ScanHijacks(m_window.list);
    m_window.Select(1);  // a.exe
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_EQ((Rows{ { "b.exe", dir + "\\two.exe" } }), m_window.Rows());
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\bad\\one.exe", L"", L"" }), ReadPending());
}

TEST_F(HijackScan, ClearSelectedWithAnEmptyDebuggerQueuesNothing)
{
    AddHijack("a.exe", "");
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued);
}

// Windows File Protection as the system would report it; Wine's protects
// nothing. Reached through the program's run-time lookup of sfc.dll, which
// also finds GetFinalPathNameByHandleW, or, as on Windows XP, does not.
std::wstring g_sfcProtected;
bool g_asOnXp = false;
void* g_getProcAddress = nullptr;
void* g_loadLibrary = nullptr;
void* g_getSystemDirectory = nullptr;
std::wstring g_loaded;

BOOL WINAPI FakeSfcIsFileProtected(HANDLE, LPCWSTR path)
{
    return lstrcmpiW(path, g_sfcProtected.c_str()) == 0;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) != 0 && lstrcmpA(name, "SfcIsFileProtected") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSfcIsFileProtected));
    if (HIWORD(name) != 0 && g_asOnXp && lstrcmpA(name, "GetFinalPathNameByHandleW") == 0)
        return nullptr;
    return reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name);
}

HMODULE WINAPI RecordLoadLibrary(LPCWSTR name)
{
    g_loaded = name;
    return reinterpret_cast<HMODULE(WINAPI*)(LPCWSTR)>(g_loadLibrary)(name);
}

// The system directory in capitals, as Windows XP names it ("C:\WINDOWS\system32").
UINT WINAPI CapitalSystemDirectory(LPWSTR path, UINT size)
{
    UINT length = reinterpret_cast<UINT(WINAPI*)(LPWSTR, UINT)>(g_getSystemDirectory)(path, size);
    if (length > 0 && length < size)
        CharUpperW(path);
    return length;
}

// The text is written by whoever set the hijack: "清除选定" queues it, and
// resets its attributes, only when it is the very path of an existing
// Windows program that the system does not protect. Every file here is
// read-only, so that a reset shows; Windows XP's way of finding where a
// file lives is taken too.
TEST_F(HijackScan, ClearSelectedQueuesOnlyAProgramAtTheVeryPathItNames)
{
    const std::string dir = FreshDirectory("plain");
    const std::string system = Expand("%systemroot%\\system32");
    const std::string windows = Expand("%systemroot%");
    const std::string dllcache = system + "\\dllcache";
    CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
    CreateDirectoryA(dllcache.c_str(), nullptr);
    const std::string programs[] = { dir + "\\hook.exe",          dir + "\\victim.exe",
                                     dir + "\\protected.exe",     system + "\\orvex-kept.exe",
                                     system + "\\orvex-plain.exe", windows + "\\orvex-kept.exe",
                                     system + "\\drivers\\orvex-deep.exe", system + "\\淺.exe" };
    const std::string copies[] = { dllcache + "\\orvex-kept.exe", dllcache + "\\orvex-deep.exe", dllcache + "\\淺.exe" };
    for (const std::string& file : programs)
        WriteProgram(file);
    WriteBytes(dir + "\\boot.ini", "[boot loader]\r\ntimeout=30\r\n");
    WriteBytes(dir + "\\ntldr", Content(4096, 7));
    WriteBytes(dir + "\\software", "regf" + std::string(4092, '\0'));
    WriteBytes(dir + "\\hosts", "127.0.0.1 localhost\r\n");
    ASSERT_TRUE(CopyFileA((system + "\\version.dll").c_str(), (dir + "\\version.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA((system + "\\drivers\\mountmgr.sys").c_str(), (dir + "\\mountmgr.sys").c_str(), FALSE));
    // notepad.exe with one field of its headers changed: for the native
    // subsystem (as autochk.exe), and without the executable-image flag.
    const std::string program = ReadBytes(dir + "\\hook.exe");
    const size_t headers = *reinterpret_cast<const LONG*>(program.data() + offsetof(IMAGE_DOS_HEADER, e_lfanew));
    const size_t subsystem = headers + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem);
    const size_t flags = headers + offsetof(IMAGE_NT_HEADERS32, FileHeader.Characteristics);
    std::string native = program;
    native[subsystem] = IMAGE_SUBSYSTEM_NATIVE;
    WriteBytes(dir + "\\native.exe", native);
    std::string unlinked = program;
    unlinked[flags] = static_cast<char>(unlinked[flags] & ~IMAGE_FILE_EXECUTABLE_IMAGE);
    WriteBytes(dir + "\\unlinked.exe", unlinked);
    const std::string others[] = { dir + "\\boot.ini", dir + "\\ntldr",       dir + "\\software",
                                   dir + "\\hosts",    dir + "\\version.dll", dir + "\\mountmgr.sys",
                                   dir + "\\native.exe", dir + "\\unlinked.exe" };
    for (const std::string& file : copies)
        WriteProgram(file);
    UnixSymlink("../../windows/system32", dir + "\\j");
    // C:\tmp leads to the unix /tmp, which is Z:\tmp: the same path on another volume.
    const std::string elsewhere = "\\tmp\\orvex-hijack-" + std::to_string(GetCurrentProcessId());
    UnixSymlink("/tmp", "C:\\tmp");
    CreateDirectoryA(("Z:" + elsewhere).c_str(), nullptr);
    WriteProgram("Z:" + elsewhere + "\\prog.exe");
    UnixSymlink("victim.exe", dir + "\\sl.exe");
    char prefix[MAX_PATH] = "";
    ASSERT_NE(0u, GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)));
    std::string secondName = std::string("Z:") + prefix + "/drive_c/orvex-tests/plain/victim.exe";
    std::replace(secondName.begin(), secondName.end(), '/', '\\');
    HANDLE pipe = CreateNamedPipeA("\\\\.\\pipe\\orvex-hijack", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                   PIPE_TYPE_BYTE, 1, 512, 512, 0, nullptr);
    OVERLAPPED connected = {};
    connected.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_FALSE(ConnectNamedPipe(pipe, &connected));
    ASSERT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());

    g_sfcProtected = Widen(dir + "\\protected.exe");
    ImportHook sfc("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
    ImportHook load("kernel32.dll", "LoadLibraryW", reinterpret_cast<void*>(&RecordLoadLibrary));
    ImportHook capitals("kernel32.dll", "GetSystemDirectoryW", reinterpret_cast<void*>(&CapitalSystemDirectory));
    ASSERT_TRUE(sfc.Installed() && load.Installed() && capitals.Installed());
    g_getProcAddress = sfc.Original();
    g_loadLibrary = load.Original();
    g_getSystemDirectory = capitals.Original();
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    SetCurrentDirectoryA(dir.c_str());
    const std::string otherProgramsValue = WideStrings({ L"\\??\\C:\\keep.dll" });

    struct Case {
        const char* what;
        std::string text;
        bool queued;
        HijackKind kind;
        bool otherValue;  // the pending value is another program's REG_SZ
    } cases[] = {
        { "an existing program", dir + "\\hook.exe", true, kDebugger, false },
        { "the path in capitals", "C:\\ORVEX-TESTS\\PLAIN\\HOOK.EXE", true, kDebugger, false },
        { "a filter's debugger", dir + "\\hook.exe", true, kFilterDebugger, false },
        { "a silent-exit monitor", dir + "\\hook.exe", true, kSilentExitMonitor, false },
        { "verifier DLLs, even named by a full path", dir + "\\hook.exe", false, kVerifierDlls, false },
        { "a pending value the queue refuses", dir + "\\hook.exe", false, kDebugger, true },
        { "the program with arguments", dir + "\\hook.exe /s", false, kDebugger, false },
        { "a bare command", "ntsd -d", false, kDebugger, false },
        { "a directory", dir + "\\sub", false, kDebugger, false },
        { "a missing file", dir + "\\missing.exe", false, kDebugger, false },
        { "arguments that climb to another file", dir + "\\x.exe /../victim.exe", false, kDebugger, false },
        { "a name ending in a dot", dir + "\\victim.exe.", false, kDebugger, false },
        { "a name ending in a space", dir + "\\victim.exe ", false, kDebugger, false },
        { "a \".\" component", "C:\\orvex-tests\\.\\plain\\victim.exe", false, kDebugger, false },
        { "a \"..\" component", dir + "\\sub\\..\\victim.exe", false, kDebugger, false },
        { "forward slashes", "C:/orvex-tests/plain/victim.exe", false, kDebugger, false },
        { "a repeated separator", "C:\\orvex-tests\\plain\\\\victim.exe", false, kDebugger, false },
        { "a relative path", "victim.exe", false, kDebugger, false },
        { "a drive-relative path", "C:victim.exe", false, kDebugger, false },
        { "a device", dir + "\\NUL", false, kDebugger, false },
        { "a device with an extension", dir + "\\aux.exe", false, kDebugger, false },
        { "a serial port", windows + "\\COM1", false, kDebugger, false },
        { "a pipe", "\\\\.\\pipe\\orvex-hijack", false, kDebugger, false },
        { "a directory link on the way", dir + "\\j\\orvex-plain.exe", false, kDebugger, false },
        { "a file link", dir + "\\sl.exe", false, kDebugger, false },
        { "a second drive letter for the disk", secondName, false, kDebugger, false },
        { "a link to another volume on the way", "C:" + elsewhere + "\\prog.exe", false, kDebugger, false },
        { "a boot file", dir + "\\boot.ini", false, kDebugger, false },
        { "a loader", dir + "\\ntldr", false, kDebugger, false },
        { "a registry hive", dir + "\\software", false, kDebugger, false },
        { "the hosts file", dir + "\\hosts", false, kDebugger, false },
        { "a DLL", dir + "\\version.dll", false, kDebugger, false },
        { "a driver", dir + "\\mountmgr.sys", false, kDebugger, false },
        { "a native program", dir + "\\native.exe", false, kDebugger, false },
        { "an image that is not executable", dir + "\\unlinked.exe", false, kDebugger, false },
        { "a program Windows File Protection reports", dir + "\\protected.exe", false, kDebugger, false },
        { "a system32 program kept in dllcache", system + "\\orvex-kept.exe", false, kDebugger, false },
        { "one whose name has a 0x5C byte", system + "\\淺.exe", false, kDebugger, false },
        { "a Windows-directory program kept in dllcache", windows + "\\orvex-kept.exe", false, kDebugger, false },
        { "File Protection's own copy", dllcache + "\\orvex-kept.exe", false, kDebugger, false },
        { "a system32 program not kept in dllcache", system + "\\orvex-plain.exe", true, kDebugger, false },
        { "a program below system32", system + "\\drivers\\orvex-deep.exe", true, kDebugger, false },
    };
    for (bool asOnXp : { false, true }) {
        g_asOnXp = asOnXp;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (asOnXp ? ", as on XP" : ""));
            ResetImageOptions();
            DeletePending();
            if (c.otherValue)
                WritePending(otherProgramsValue, REG_SZ);
            for (const std::string& file : programs)
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
            for (const std::string& file : others)
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
            AddHijackOfKind(c.kind, L"a.exe", Widen(c.text));
            ScanHijacks(m_window.list);
            ASSERT_EQ(1, m_window.list.GetItemCount());
            m_window.Select(0);
            ClearSelectedHijack(m_window.list);
            EXPECT_EQ(Rows(), m_window.Rows()) << "the hijack is gone";
            EXPECT_EQ(c.queued      ? WideStrings({ L"\\??\\" + Widen(c.text), L"", L"" })
                      : c.otherValue ? otherProgramsValue
                                     : std::string(),
                      ReadPending());
            for (const std::string& file : programs) {
                bool reset = c.queued && lstrcmpiA(file.c_str(), c.text.c_str()) == 0;
                EXPECT_EQ(!reset, (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) << file;
            }
            for (const std::string& file : others)
                EXPECT_NE(0u, GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) << file;
            EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(connected.hEvent, 0))
                << "the pipe was opened";
        }
    }
    g_asOnXp = false;
    std::string capitalSystem = system;
    CharUpperA(&capitalSystem[0]);
    EXPECT_EQ(Widen(capitalSystem) + L"\\sfc.dll", g_loaded) << "sfc.dll comes from the system directory";

    SetCurrentDirectoryA(saved);
    CloseHandle(connected.hEvent);
    CloseHandle(pipe);
    for (const std::string& file : programs) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
    }
    for (const std::string& file : copies)
        DeleteFileA(file.c_str());
    RemoveDirectoryA(dllcache.c_str());
    DeleteFileA(("Z:" + elsewhere + "\\prog.exe").c_str());
    RemoveDirectoryA(("Z:" + elsewhere).c_str());
}

// A protected file is known for the very file it is, by any name that
// leads to it: here another drive letter for system32. (Whether Wine then
// names the file by that letter or by C: varies, so the check is asked
// directly.)
TEST(FileProtection, KnowsAProtectedFileByAnyDriveLetter)
{
    const std::string system = Expand("%systemroot%\\system32");
    CreateDirectoryA((system + "\\dllcache").c_str(), nullptr);
    WriteProgram(system + "\\orvex-kept.exe");
    WriteProgram(system + "\\orvex-plain.exe");
    WriteBytes(system + "\\dllcache\\orvex-kept.exe", "MZ");
    char prefix[MAX_PATH] = "";
    ASSERT_NE(0u, GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)));
    const std::string drive = std::string(prefix) + "/dosdevices/e:";
    UnixCommand("Z:\\bin\\ln -sfn ../drive_c/windows/system32 " + drive, "C:\\", "E:\\orvex-kept.exe", true);
    EXPECT_EQ(1, IsProtectedSystemFile(L"E:\\orvex-kept.exe"));
    EXPECT_EQ(0, IsProtectedSystemFile(L"E:\\orvex-plain.exe"));
    UnixCommand("Z:\\bin\\rm -f " + drive, "C:\\", "E:\\orvex-kept.exe", false);
    for (const char* name : { "\\orvex-kept.exe", "\\orvex-plain.exe", "\\dllcache\\orvex-kept.exe" })
        DeleteFileA((system + name).c_str());
    RemoveDirectoryA((system + "\\dllcache").c_str());
}

// A subkey that is a link to another program's key: Windows follows it, so
// it is listed; the clear removes the link, never that program's setting,
// and queues nothing.
TEST_F(HijackScan, ClearsALinkedSubkeyByRemovingTheLinkAlone)
{
    const std::string program = FreshDirectory("linked") + "\\vendor-debugger.exe";
    WriteProgram(program);
    const std::wstring target = L"SOFTWARE\\Orvex tests\\Vendor";
    SetRegistryText(target, L"debugger", Widen(program));
    SetRegistryText(target, L"Other", L"kept");
    CreateRegistryLink(ImageOptionPath(L"vendor.exe"), target);
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "vendor.exe", program } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    EXPECT_FALSE(ImageOptionExists("vendor.exe"));
    EXPECT_EQ((std::vector<std::wstring>{ L"debugger", L"Other" }), KeyValues(target));
    EXPECT_EQ(std::string(), ReadPending());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, target.c_str());
}

LONG WINAPI RefuseKeySecurity(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) { return ERROR_ACCESS_DENIED; }

// Windows runs a hijack that it can read: a subkey that malware left
// readable only is listed, and the clear takes it back for the
// administrators to remove the hijack. Where its security cannot be
// changed, the hijack stays listed, and its program is queued still.
TEST_F(HijackScan, ListsAReadOnlySubkeyAndTakesItBackToClearIt)
{
    const std::string program = FreshDirectory("bad") + "\\one.exe";
    WriteProgram(program);
    for (bool changeable : { true, false }) {
        SCOPED_TRACE(changeable ? "taken back" : "cannot be changed");
        DeletePending();
        AddHijack("a.exe", program);
        AddImageOption("a.exe", "\x01\0\0\0", 4, REG_DWORD, "GlobalFlag");
        SetKeySecurity(ImageOptionPath(L"a.exe"), L"D:P(A;;KR;;;WD)");
        ScanHijacks(m_window.list);
        EXPECT_EQ((Rows{ { "a.exe", program } }), m_window.Rows());
        m_window.Select(0);
        {
            std::unique_ptr<ImportHook> refuse;
            if (!changeable)
                refuse.reset(new ImportHook("advapi32.dll", "RegSetKeySecurity", reinterpret_cast<void*>(&RefuseKeySecurity)));
            ClearSelectedHijack(m_window.list);
        }
        const Rows listed = { { "a.exe", program } };
        EXPECT_EQ(changeable ? Rows() : listed, m_window.Rows()) << "listed after the rescan";
        SetKeyLocked(std::string(kImageOptionsKey) + "\\a.exe", false);
        const std::vector<std::string> kept = { "debugger", "GlobalFlag" };
        EXPECT_EQ(changeable ? std::vector<std::string>(kept.begin() + 1, kept.end()) : kept, ImageOptionValues("a.exe"));
        EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\bad\\one.exe", L"", L"" }), ReadPending());
        ResetImageOptions();
    }
}

TEST_F(HijackScan, DeleteHijackKeyReportsWhetherTheHijackWentAway)
{
    AddHijack("a.exe", "x");
    AddHijack("b.exe", "y");
    AddImageOption("b.exe\\Child", nullptr, 0, REG_NONE);
    AddImageOption("c.exe", nullptr, 0, REG_NONE);
    auto remove = [](const wchar_t* name) {
        HijackRow row = {};
        row.kind = kDebugger;
        lstrcpyW(row.image, name);
        return DeleteHijackKey(row);
    };
    EXPECT_EQ(1, remove(L"a.exe"));
    EXPECT_EQ(1, remove(L"b.exe"));
    EXPECT_EQ(0, remove(L"c.exe"));
    EXPECT_EQ(0, remove(L"missing.exe"));
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe\\Child"));
    EXPECT_EQ(std::vector<std::string>(), ImageOptionValues("b.exe"));
    EXPECT_TRUE(ImageOptionExists("c.exe"));
}

}  // namespace
