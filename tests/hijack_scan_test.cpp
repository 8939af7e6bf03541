// Listing and removing image hijacks in the test prefix's registry.
#include "hijack/HijackRepair.h"
#include "support/ImportHook.h"
#include "support/ListWindow.h"
#include "support/Prefix.h"
#include "support/WatchedFiles.h"

#include <gtest/gtest.h>

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

TEST_F(HijackScan, ListsOnlyPlainStringsShorterThan260Bytes)
{
    const std::string at259(258, 'a');  // 259 bytes with the terminator
    const std::string at260(259, 'b');
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
    EXPECT_EQ((Rows{ { "h-empty.exe", "" }, { "a259.exe", at259 } }), m_window.Rows());
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
    WriteBytes(program, "MZ");
    AddHijack("木马.exe", program);
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "木马.exe", program } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_FALSE(ImageOptionExists("木马.exe"));
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\\x75C5\x6BD2\\\x6728\x9A6C.exe", L"", L"" }), ReadPending());
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

TEST_F(HijackScan, ClearSelectedDeletesTheSubkeyAndQueuesItsProgram)
{
    const std::string dir = FreshDirectory("bad");
    WriteBytes(dir + "\\one.exe", "MZ");
    WriteBytes(dir + "\\two.exe", "MZ");
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
// nothing. Reached through the program's run-time lookup of sfc.dll.
std::wstring g_sfcProtected;
void* g_getProcAddress = nullptr;

BOOL WINAPI FakeSfcIsFileProtected(HANDLE, LPCWSTR path)
{
    return lstrcmpiW(path, g_sfcProtected.c_str()) == 0;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) != 0 && lstrcmpA(name, "SfcIsFileProtected") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSfcIsFileProtected));
    return reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name);
}

// The debugger text is written by whoever set the hijack: "清除选定" queues
// it, and resets its attributes, only when it plainly names one existing
// file that the system does not protect. Every file here is read-only, so
// that a reset shows.
TEST_F(HijackScan, ClearSelectedQueuesOnlyAFileTheTextPlainlyNames)
{
    const std::string dir = FreshDirectory("plain");
    const std::string system = Expand("%systemroot%\\system32");
    const std::string windows = Expand("%systemroot%");
    const std::string dllcache = system + "\\dllcache";
    CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
    CreateDirectoryA(dllcache.c_str(), nullptr);
    const std::string planted[] = { dir + "\\hook.exe",           dir + "\\victim.exe",
                                    dir + "\\protected.exe",      system + "\\orvex-kept.dll",
                                    system + "\\orvex-plain.dll", windows + "\\orvex-kept.exe",
                                    system + "\\drivers\\orvex-deep.sys" };
    const std::string copies[] = { dllcache + "\\orvex-kept.dll", dllcache + "\\orvex-kept.exe",
                                   dllcache + "\\orvex-deep.sys" };
    for (const std::string& file : copies)
        WriteBytes(file, "MZ");
    g_sfcProtected = Widen(dir + "\\protected.exe");
    ImportHook sfc("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
    ASSERT_TRUE(sfc.Installed());
    g_getProcAddress = sfc.Original();
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof(saved), saved);
    SetCurrentDirectoryA(dir.c_str());

    struct Case {
        const char* what;
        std::string text;
        bool queued;
    } cases[] = {
        { "an existing file", dir + "\\hook.exe", true },
        { "the file with arguments", dir + "\\hook.exe /s", false },
        { "a bare command", "ntsd -d", false },
        { "a directory", dir + "\\sub", false },
        { "a missing file", dir + "\\missing.exe", false },
        { "arguments that climb to another file", dir + "\\x.exe /..\\victim.exe", false },
        { "a name ending in a dot", dir + "\\victim.exe.", false },
        { "a name ending in a space", dir + "\\victim.exe ", false },
        { "a \".\" component", "C:\\orvex-tests\\.\\plain\\victim.exe", false },
        { "a \"..\" component", dir + "\\sub\\..\\victim.exe", false },
        { "forward slashes", "C:/orvex-tests/plain/victim.exe", false },
        { "a repeated separator", "C:\\orvex-tests\\plain\\\\victim.exe", false },
        { "a stream of the file", dir + "\\victim.exe::$DATA", false },
        { "a relative path", "victim.exe", false },
        { "a file Windows File Protection reports", dir + "\\protected.exe", false },
        { "a system32 file kept in dllcache", system + "\\orvex-kept.dll", false },
        { "a Windows-directory file kept in dllcache", windows + "\\orvex-kept.exe", false },
        { "a system32 file not kept in dllcache", system + "\\orvex-plain.dll", true },
        { "a file below system32", system + "\\drivers\\orvex-deep.sys", true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeletePending();
        for (const std::string& file : planted) {
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            WriteBytes(file, "MZ");
            SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
        }
        AddHijack("a.exe", c.text);
        ScanHijacks(m_window.list);
        m_window.Select(0);
        ClearSelectedHijack(m_window.list);
        EXPECT_FALSE(ImageOptionExists("a.exe"));
        EXPECT_EQ(c.queued ? WideStrings({ L"\\??\\" + Widen(c.text), L"", L"" }) : std::string(), ReadPending());
        for (const std::string& file : planted) {
            bool reset = c.queued && file == c.text;
            EXPECT_EQ(!reset, (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) << file;
        }
    }

    SetCurrentDirectoryA(saved);
    for (const std::string& file : planted) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
    }
    for (const std::string& file : copies)
        DeleteFileA(file.c_str());
    RemoveDirectoryA(dllcache.c_str());
}

// The subkey was locked after the scan listed it: it cannot be changed at all.
TEST_F(HijackScan, ClearSelectedQueuesEvenWhenTheSubkeyCannotBeChanged)
{
    const std::string program = FreshDirectory("bad") + "\\one.exe";
    WriteBytes(program, "MZ");
    AddHijack("a.exe", program);
    ScanHijacks(m_window.list);
    m_window.Select(0);
    Lock("a.exe");
    ClearSelectedHijack(m_window.list);
    Unlock("a.exe");
    EXPECT_EQ(std::vector<std::string>{ "debugger" }, ImageOptionValues("a.exe"));
    EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\bad\\one.exe", L"", L"" }), ReadPending());
}

TEST_F(HijackScan, DeleteHijackKeyReportsWhetherTheHijackWentAway)
{
    AddHijack("a.exe", "x");
    AddHijack("b.exe", "y");
    AddImageOption("b.exe\\Child", nullptr, 0, REG_NONE);
    AddImageOption("c.exe", nullptr, 0, REG_NONE);
    EXPECT_EQ(1, DeleteHijackKey("a.exe"));
    EXPECT_EQ(1, DeleteHijackKey("b.exe"));
    EXPECT_EQ(0, DeleteHijackKey("c.exe"));
    EXPECT_EQ(0, DeleteHijackKey("missing.exe"));
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe\\Child"));
    EXPECT_EQ(std::vector<std::string>(), ImageOptionValues("b.exe"));
    EXPECT_TRUE(ImageOptionExists("c.exe"));
}

}  // namespace
