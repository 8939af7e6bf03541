// Listing and removing image hijacks in the test prefix's registry.
#include "hijack/HijackRepair.h"
#include "support/ImportHook.h"
#include "support/ListWindow.h"
#include "support/Prefix.h"
#include "support/Signing.h"
#include "support/WatchedFiles.h"
#include "system/FileProtection.h"
#include "system/KeyLinks.h"
#include "system/NativeApi.h"
#include "system/Wow64.h"

#include <gtest/gtest.h>
#include <wintrust.h>
#include <mscat.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <memory>

using namespace testing_support;

namespace {

typedef std::vector<std::pair<std::string, std::string>> Rows;
typedef std::vector<std::pair<std::wstring, std::wstring>> Found;

// The clears are called here on this thread: a message box they show
// would wait for an answer that never comes. It is answered, and fails.
// A message a test expects takes it out of g_messages; any other fails.
std::vector<std::string> g_messages;

int WINAPI UnexpectedMessage(HWND, LPCSTR text, LPCSTR, UINT)
{
    g_messages.push_back(text);
    return IDOK;
}

// Windows XP, for a test of a branch meant for it.
DWORD WINAPI VersionOfXp() { return 0x0A280105; }  // 5.1, build 2600

class HijackScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetHijacks();
        DeletePending();
        ASSERT_TRUE(m_messages.Installed());
    }
    void TearDown() override
    {
        EXPECT_EQ(std::vector<std::string>(), g_messages) << "unexpected messages";
        g_messages.clear();
        for (const std::string& name : m_locked)
            Unlock(name);
        ResetHijacks();
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
    ImportHook m_messages{ "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&UnexpectedMessage) };
};

TEST_F(HijackScan, ListsStringDebuggersInReverseOrder)
{
    AddHijack("alpha.exe", "C:\\bad\\alpha-debugger.exe");
    AddHijack("beta.exe", "ntsd -d");
    AddHijack("gamma.exe", "C:\\Program Files\\x\\y.exe /quiet");
    EXPECT_EQ((Found{ { L"gamma.exe", L"C:\\Program Files\\x\\y.exe /quiet" },
                      { L"beta.exe", L"ntsd -d" },
                      { L"alpha.exe", L"C:\\bad\\alpha-debugger.exe" } }),
              FoundHijacks());
}

// A text setting is read as CreateProcess reads the debugger: a plain
// string or binary bytes, at most 260 characters (520 bytes) with or
// without a terminator, up to the first NUL. The limits count characters:
// 中 takes two bytes in the ANSI code page. (Every other type and size is
// the next test's.)
TEST_F(HijackScan, ReadsATextSettingAsWindowsReadsIt)
{
    auto chars = [](size_t count, wchar_t c) { return std::wstring(count, c); };
    auto bytes = [](const std::wstring& text, bool terminated) {
        return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + terminated) * sizeof(wchar_t));
    };
    struct Case {
        const wchar_t* image;
        DWORD type;
        std::string data;
        std::wstring read;  // "-": not listed
    };
    const std::wstring at259 = chars(259, L'a');
    const std::wstring at260 = chars(260, L'b');
    const std::wstring wide = chars(259, L'\x4E2D');
    const Case cases[] = {
        { L"a259.exe", REG_SZ, bytes(at259, true), at259 },
        { L"b260.exe", REG_SZ, bytes(at260, true), L"-" },
        { L"c260-unterminated.exe", REG_SZ, bytes(at260, false), at260 },
        { L"e-wide.exe", REG_SZ, bytes(wide, true), wide },
        { L"f-binary.exe", REG_BINARY, bytes(std::wstring(L"C:\\b.exe\0zz", 11), false), L"C:\\b.exe" },
        { L"j-empty.exe", REG_SZ, bytes(L"", true), L"" },
        { L"l-padded.exe", REG_SZ, bytes(L"C:\\p.exe" + chars(251, L' '), true), L"C:\\p.exe" + chars(251, L' ') },
    };
    Found expected;
    for (const Case& c : cases) {
        SetRegistryValue(ImageOptionPath(c.image), L"Debugger", c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
        if (c.read != L"-")
            expected.insert(expected.begin(), { c.image, c.read });
    }
    EXPECT_EQ(expected, FoundHijacks());
}

// Values of every type and of awkward sizes, none with a terminator: only
// strings and binary bytes of at most 520 bytes are listed, each with
// exactly its characters (an odd last byte is a character of its own).
TEST_F(HijackScan, SurvivesDebuggerValuesOfEveryTypeAndSize)
{
    const DWORD types[] = { REG_NONE, REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_DWORD_BIG_ENDIAN,
                            REG_LINK, REG_MULTI_SZ, REG_RESOURCE_LIST, REG_QWORD };
    const DWORD sizes[] = { 0, 1, 519, 520, 521, 4096 };
    const std::string filler(4096, 'A');
    Found expected;
    for (DWORD type : types) {
        for (DWORD size : sizes) {
            wchar_t name[64];
            wsprintfW(name, L"t%02lu-s%04lu.exe", type, size);
            SetRegistryValue(ImageOptionPath(name), L"Debugger", type, filler.data(), size);
            if ((type == REG_SZ || type == REG_BINARY) && size <= 520)
                expected.insert(expected.begin(),
                                { name, std::wstring(size / 2, L'\x4141') + (size % 2 ? L"A" : L"") });
        }
    }
    EXPECT_EQ(expected, FoundHijacks());
}

// A number setting is read as the loader reads GlobalFlag: a REG_DWORD or
// REG_BINARY value of at most 4 bytes, or a string converted with base 0
// (its last character taken for the terminator). Each rule holds for both
// settings that GlobalFlag turns on.
TEST_F(HijackScan, ReadsANumberSettingAsTheLoaderReadsIt)
{
    struct Case {
        const wchar_t* image;
        DWORD type;
        const wchar_t* format;  // a string's text for the flag, or null for its bytes
        DWORD size;             // the bytes of the flag taken, or 0 for a string with its terminator
        bool listed;
    };
    const Case cases[] = {
        { L"a-string-hex.exe", REG_SZ, L"0x%lx", 0, true },
        { L"b-string-decimal.exe", REG_SZ, L" %luzz", 0, true },
        { L"c-string-unterminated.exe", REG_SZ, L"0x%lx", 10, false },  // read as "0x100" without its last digit
        { L"d-binary.exe", REG_BINARY, nullptr, 4, true },
        { L"e-binary-short.exe", REG_BINARY, nullptr, 2, true },
        { L"f-binary-long.exe", REG_BINARY, nullptr, 5, false },
        { L"g-dword-short.exe", REG_DWORD, nullptr, 2, true },
        { L"h-dword-long.exe", REG_DWORD, nullptr, 8, false },
        { L"i-qword.exe", REG_QWORD, nullptr, 8, false },
        { L"j-expand.exe", REG_EXPAND_SZ, L"0x%lx", 0, false },
    };
    const std::wstring exits = Widen(kSilentExitKey);
    for (HijackKind kind : { kVerifierDlls, kSilentExitMonitor }) {
        SCOPED_TRACE(kind == kVerifierDlls ? "verifier DLLs" : "a silent-exit monitor");
        ResetHijacks();
        const unsigned long flag = kind == kVerifierDlls ? 0x100 : 0x200;
        Found expected;
        for (const Case& c : cases) {
            std::string data(8, '\0');
            std::memcpy(&data[0], &flag, sizeof(flag));
            if (c.format != nullptr) {
                wchar_t number[32];
                int length = wsprintfW(number, c.format, flag);
                data.assign(reinterpret_cast<const char*>(number), (length + 1) * sizeof(wchar_t));
            }
            if (c.size != 0)
                data.resize(c.size);
            const std::wstring image = ImageOptionPath(c.image);
            SetRegistryValue(image, L"GlobalFlag", c.type, data.data(), static_cast<DWORD>(data.size()));
            SetRegistryText(image, L"VerifierDlls", L"v.dll");
            SetRegistryDword(exits + L"\\" + c.image, L"ReportingMode", 1);
            SetRegistryText(exits + L"\\" + c.image, L"MonitorProcess", L"C:\\m.exe");
            if (c.listed)
                expected.insert(expected.begin(),
                                { std::wstring(c.image) + (kind == kVerifierDlls ? L" [验证DLL]" : L" [退出监视]"),
                                  kind == kVerifierDlls ? L"v.dll" : L"C:\\m.exe" });
        }
        EXPECT_EQ(expected, FoundHijacks());
    }
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
// bytes in the ANSI code page. A right-to-left override would draw its name
// as "sethc.exe" and its text as "C:\x\evil exe.txt": it shows as its code.
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
    SetRegistryText(ImageOptionPath(L"\x202E" L"exe.chtes"), L"debugger", L"C:\\x\\evil\x202E" L"txt.exe");
    ScanHijacks(m_window.list);
    const Found listed = {
        { L"\xAC00.exe", L"C:\\\xAC00.exe" },
        { L"<U+202E>exe.chtes", L"C:\\x\\evil<U+202E>txt.exe" },
        { L"p\x00E2int.exe", malware },
        { L"paint.exe", L"C:\\tools\\mine.exe" },
        { L"long.exe", longText },
    };
    ASSERT_EQ(listed, m_window.WideRows());
    m_window.Select(2);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(WideStrings({ L"\\??\\" + malware, L"", L"" }), ReadPending());
    EXPECT_EQ((std::vector<std::wstring>{ L"debugger", L"GlobalFlag" }), KeyValues(ImageOptionPath(L"paint.exe")));
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    EXPECT_EQ(std::vector<std::wstring>{ L"GlobalFlag" }, KeyValues(ImageOptionPath(L"paint.exe")));

    // What draws as nothing or as something else shows as its code: another
    // script's letter in a Latin word, a default-ignorable or a tag, a dot
    // or a space other than U+0020 that ends or starts a text, a run of
    // white space. Chinese shows as it is.
    struct Shown {
        std::wstring name, text, shownName, shownText;
    } cases[] = {
        { L"vsjitd\x0435" L"bugger.exe", L"C:\\vs\\vsjitd\x0435" L"bugger.exe", L"vsjitd<U+0435>bugger.exe",
          L"C:\\vs\\vsjitd<U+0435>bugger.exe" },
        { L"\x6728\x9A6C.exe", L"C:\\\x75C5\x3000\x6BD2\\\x6728\x9A6C.exe", L"\x6728\x9A6C.exe",
          L"C:\\\x75C5\x3000\x6BD2\\\x6728\x9A6C.exe" },
        { L"a.exe.", L"\x3000" L"C:\\a.exe\x00A0", L"a.exe<U+002E>", L"<U+3000>C:\\a.exe<U+00A0>" },
        { L"tag\xDB40\xDC20.exe", L"C:\\fe\xFE0F.exe", L"tag<U+E0020>.exe", L"C:\\fe<U+FE0F>.exe" },
        { L"cgj\x034F" L"h\x3164.exe", L"C:\\x.exe", L"cgj<U+034F>h<U+3164>.exe", L"C:\\x.exe" },
        { L"spaces.exe", L"C:\\a.exe    & C:\\evil.exe   /q", L"spaces.exe", L"C:\\a.exe<空白×4>& C:\\evil.exe   /q" },
        { L"b.exe ", L"C:\\b.exe", L"b.exe<U+0020>", L"C:\\b.exe" },
        { L"\x0432\x0438\x0440\x0443\x0441.exe", L"C:\\x.exe", L"\x0432\x0438\x0440\x0443\x0441.exe", L"C:\\x.exe" },
        { L"x64_\x0430.exe", L"C:\\x.exe", L"x64_<U+0430>.exe", L"C:\\x.exe" },  // digits join a word
        { L"hf\x1160.exe", L"C:\\a\xD800" L"b\xDC00.exe", L"hf<U+1160>.exe", L"C:\\a<U+D800>b<U+DC00>.exe" },  // lone surrogates
    };
    Found expected;
    for (const Shown& c : cases) {
        SetRegistryText(ImageOptionPath(c.name), L"debugger", c.text);
        expected.push_back({ c.shownName, c.shownText });
    }
    // Too long for the list: its start, the count of what is left out, its end.
    const std::wstring hidden(3000, L'\x200B');
    SetRegistryText(kCommandProcessorKey, L"AutoRun", hidden + L"C:\\END.exe");
    SetRegistryValue(ImageOptionPath(L"long260.exe"), L"debugger", REG_SZ, std::wstring(260, L'b').c_str(), 520);
    const std::wstring longVerb(200, L'v');  // a text that leads on keeps where it leads
    SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell", L"", longVerb);
    SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\" + longVerb + L"\\command", L"", L"C:\\x.exe");
    ScanHijacks(m_window.list);
    Found rows = m_window.WideRows();
    auto checkLong = [&rows](const wchar_t* name, const std::wstring& code, const std::wstring& end, size_t length) {
        auto row = std::find_if(rows.begin(), rows.end(), [&](const std::pair<std::wstring, std::wstring>& r) {
            return r.first == name;
        });
        ASSERT_NE(rows.end(), row) << name;
        const std::wstring text = row->second;
        const size_t at = text.find(L"<省略");
        ASSERT_NE(std::wstring::npos, at) << name;
        EXPECT_LE(text.size(), 259u);
        EXPECT_EQ(end, text.substr(text.size() - end.size()));
        size_t shownCount = 0;
        for (size_t from = 0; (from = text.find(code, from)) != std::wstring::npos; from += code.size())
            ++shownCount;
        EXPECT_EQ(length, std::stoul(text.substr(at + 3)) + shownCount) << text;
        rows.erase(row);
    };
    checkLong(L"命令提示符 AutoRun", L"<U+200B>", L"<U+200B>C:\\END.exe", 3000);
    checkLong(L"exefile 默认动作", L"v", L"v → C:\\x.exe", 200);
    checkLong(L"long260.exe", L"b", L"b", 260);
    std::sort(expected.begin(), expected.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(expected, rows);
}

TEST_F(HijackScan, NeverListsTheTemplateSubkeyInAnyCase)
{
    AddHijack("Your Image File Name Here without a path", "x.exe");
    AddHijack("your image file name here WITHOUT A PATH.exe", "y.exe");
    AddHijack("Your Image File Name Here", "z.exe");  // shorter than the template
    AddHijack("Your Image File Name Here without a patX", "w.exe");  // differs in its 40th byte
    EXPECT_EQ((Found{ { L"Your Image File Name Here without a patX", L"w.exe" }, { L"Your Image File Name Here", L"z.exe" } }),
              FoundHijacks());
}

// Windows grants administrators the backup privilege, which opens a key
// whatever its access list says (Wine honours no privilege): here a key
// opened to back up opens as if its list allowed it; or, where the
// privilege is not held, the open fails as Windows says so.
void* g_createKey = nullptr;
bool g_privilegeHeld = true;

// Whether this process has the backup privilege enabled (`enabled` true);
// or disables it.
bool BackupPrivilege(bool enabled)
{
    HANDLE token = nullptr;
    LUID backup = {};
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_PRIVILEGES, &token);
    LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &backup);
    PRIVILEGE_SET wanted = { 1, PRIVILEGE_SET_ALL_NECESSARY, { { backup, 0 } } };
    TOKEN_PRIVILEGES off = { 1, { { backup, 0 } } };
    BOOL held = FALSE;
    if (enabled)
        PrivilegeCheck(token, &wanted, &held);
    else
        AdjustTokenPrivileges(token, FALSE, &off, 0, nullptr, nullptr);
    CloseHandle(token);
    return held != FALSE;
}

// A subkey whose link state cannot be told: it refuses to be opened as
// itself for anything the check asks, as a key that grants nothing does.
void* g_openKey = nullptr;
const wchar_t* g_untold = nullptr;

LONG WINAPI OpenKeyUntold(HKEY parent, LPCWSTR name, DWORD options, REGSAM access, PHKEY key)
{
    typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
    const REGSAM asked = access & ~(KEY_WOW64_32KEY | KEY_WOW64_64KEY);
    if (g_untold != nullptr && name != nullptr && lstrcmpiW(name, g_untold) == 0 && (options & REG_OPTION_OPEN_LINK) &&
        (asked == KEY_QUERY_VALUE || asked == MAXIMUM_ALLOWED))
        return ERROR_ACCESS_DENIED;
    return reinterpret_cast<Fn>(g_openKey)(parent, name, options, access, key);
}

LONG WINAPI CreateKeyToBackUp(HKEY parent, LPCWSTR name, DWORD reserved, LPWSTR type, DWORD options, REGSAM access,
                              LPSECURITY_ATTRIBUTES security, PHKEY key, LPDWORD made)
{
    typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY, LPDWORD);
    const Fn create = reinterpret_cast<Fn>(g_createKey);
    if ((options & REG_OPTION_BACKUP_RESTORE) && (!g_privilegeHeld || !BackupPrivilege(true)))
        return ERROR_PRIVILEGE_NOT_HELD;
    HKEY locked = nullptr;
    if (!(options & REG_OPTION_BACKUP_RESTORE) || RegOpenKeyExW(parent, name, 0, WRITE_DAC, &locked) != ERROR_SUCCESS)
        return create(parent, name, reserved, type, options, access, security, key, made);
    SECURITY_DESCRIPTOR open;
    InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE);
    RegSetKeySecurity(locked, DACL_SECURITY_INFORMATION, &open);
    LONG status = create(parent, name, reserved, type, 0, access, security, key, made);
    ACL none;
    InitializeAcl(&none, sizeof(none), ACL_REVISION);
    SetSecurityDescriptorDacl(&open, TRUE, &none, FALSE);
    RegSetKeySecurity(locked, DACL_SECURITY_INFORMATION, &open);
    RegCloseKey(locked);
    return status;
}

// Windows reads an image's subkey whatever its access list says: one that
// refuses reading is read to back it up, where that is granted; one that
// nothing here can open is listed as such, and the clear takes it back, so
// that the next scan reads it. Nothing is queued for it.
TEST_F(HijackScan, ListsASubkeyThatCannotBeOpenedAndTakesItBack)
{
    AddHijack("a.exe", "first.exe");
    AddHijack("b.exe", "C:\\x\\locked.exe");
    AddHijack("c.exe", "third.exe");
    SetRegistryDword(ImageOptionPath(L"c.exe"), L"UseFilter", 1);
    AddHijack("c.exe\\f", "C:\\x\\filter.exe");
    Lock("b.exe");
    Lock("c.exe\\f");
    BackupPrivilege(false);  // the scan enables it
    {
        ImportHook backup("advapi32.dll", "RegCreateKeyExW", reinterpret_cast<void*>(&CreateKeyToBackUp));
        ASSERT_TRUE(backup.Installed());
        g_createKey = backup.Original();
        EXPECT_EQ((Found{ { L"c.exe [按路径]", L"C:\\x\\filter.exe" }, { L"c.exe", L"third.exe" },
                          { L"b.exe", L"C:\\x\\locked.exe" }, { L"a.exe", L"first.exe" } }),
                  FoundHijacks());
        g_privilegeHeld = false;
        EXPECT_EQ((Found{ { L"c.exe [按路径] [无法读取]", L"" }, { L"c.exe", L"third.exe" }, { L"b.exe [无法读取]", L"" },
                          { L"a.exe", L"first.exe" } }),
                  FoundHijacks());
        g_privilegeHeld = true;
    }
    ScanHijacks(m_window.list);
    for (int row : { 2, 0 }) {
        // b.exe, the image's subkey itself, cannot be told from a link: taken back still.
        ImportHook open("advapi32.dll", "RegOpenKeyExW", reinterpret_cast<void*>(&OpenKeyUntold));
        g_openKey = open.Original();
        g_untold = row == 2 ? L"b.exe" : nullptr;
        m_window.Select(row);
        ClearSelectedHijack(m_window.list);
        g_untold = nullptr;
    }
    EXPECT_EQ((Rows{ { "c.exe [按路径]", "C:\\x\\filter.exe" }, { "c.exe", "third.exe" }, { "b.exe", "C:\\x\\locked.exe" },
                     { "a.exe", "first.exe" } }),
              m_window.Rows());
    EXPECT_EQ(std::string(), ReadPending());

    // Every finder does so, once for a key whatever settings lie in it: a
    // package's key met on a walk, and a type's command key.
    m_locked.clear();  // taken back
    ResetHijacks();
    const std::wstring package = kPackageDebuggerKey + std::wstring(L"\\Pkg");
    const std::wstring command = std::wstring(kMachineClasses) + L"\\exefile\\shell\\open\\command";
    AddHijackOfKind(kPackageDebugger, L"Pkg", L"C:\\x\\pkg.exe");
    for (const std::wstring& key : { package, command })
        SetKeySecurity(key, L"D:P");
    EXPECT_EQ((Found{ { L"Pkg 应用包的调试器 [当前用户] [无法读取]", L"" }, { L"exefile 打开命令 [无法读取]", L"" } }),
              FoundHijacks());
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "Pkg 应用包的调试器 [当前用户]", "C:\\x\\pkg.exe" } }), m_window.Rows());
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
    AddImageOption("d.exe", "\\\0x\0", 4, REG_LINK, "SymbolicLinkValue");  // a link's value, in no link
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_FALSE(ImageOptionExists("a.exe"));
    EXPECT_TRUE(ImageOptionExists("b.exe\\PerProcess"));
    EXPECT_EQ(std::vector<std::string>(), ImageOptionValues("b.exe"));
    EXPECT_TRUE(ImageOptionExists("c.exe"));
    EXPECT_EQ((std::vector<std::string>{ "GlobalFlag", "MitigationOptions", "SymbolicLinkValue" }),
              ImageOptionValues("d.exe"));
    EXPECT_EQ(Rows(), m_window.Rows());
    bool queued = true;
    ReadPending(&queued);
    EXPECT_FALSE(queued) << "clearing all queues nothing";
}

// Windows starts another program, or loads other code, through four
// settings, an image's own or a filter's; each is a row, marked with its
// kind. "全部清除" removes each
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
    // A filter applies to the programs at its path, or at any path when it
    // has none, its own GlobalFlag and VerifierDlls in the image's place.
    SetRegistryDword(ImageOptionPath(L"nopath.exe"), L"UseFilter", 1);
    SetRegistryText(ImageOptionPath(L"nopath.exe\\0"), L"debugger", L"C:\\f.exe");
    SetRegistryDword(ImageOptionPath(L"filterdlls.exe"), L"UseFilter", 1);
    SetRegistryText(ImageOptionPath(L"filterdlls.exe\\0"), L"FilterFullPath", L"C:\\app\\x.exe");
    SetRegistryDword(ImageOptionPath(L"filterdlls.exe\\0"), L"GlobalFlag", 0x100);
    SetRegistryText(ImageOptionPath(L"filterdlls.exe\\0"), L"VerifierDlls", L"f.dll");
    SetRegistryDword(ImageOptionPath(L"filterflag.exe"), L"UseFilter", 1);
    SetRegistryDword(ImageOptionPath(L"filterflag.exe"), L"GlobalFlag", 0);
    SetRegistryText(ImageOptionPath(L"filterflag.exe"), L"VerifierDlls", L"i.dll");
    SetRegistryText(ImageOptionPath(L"filterflag.exe\\0"), L"FilterFullPath", L"C:\\app\\y.exe");
    SetRegistryDword(ImageOptionPath(L"filterflag.exe\\0"), L"GlobalFlag", 0x300);
    SetRegistryDword(exits + L"\\filterflag.exe", L"ReportingMode", 1);
    SetRegistryText(exits + L"\\filterflag.exe", L"MonitorProcess", L"C:\\m2.exe");
    SetRegistryDword(ImageOptionPath(L"imageflag.exe"), L"UseFilter", 1);
    SetRegistryDword(ImageOptionPath(L"imageflag.exe"), L"GlobalFlag", 0x100);
    SetRegistryText(ImageOptionPath(L"imageflag.exe\\0"), L"VerifierDlls", L"g.dll");
    // Settings that start nothing.
    SetRegistryText(ImageOptionPath(L"nouse.exe\\0"), L"FilterFullPath", L"C:\\app\\nouse.exe");
    SetRegistryText(ImageOptionPath(L"nouse.exe\\0"), L"debugger", L"C:\\f.exe");
    SetRegistryDword(ImageOptionPath(L"noflag.exe"), L"GlobalFlag", 0x100);
    SetRegistryDword(exits + L"\\noflag.exe", L"ReportingMode", 1);
    SetRegistryText(exits + L"\\noflag.exe", L"MonitorProcess", L"C:\\m.exe");
    SetRegistryDword(ImageOptionPath(L"nolaunch.exe"), L"GlobalFlag", 0x200);
    SetRegistryDword(exits + L"\\nolaunch.exe", L"ReportingMode", 2);
    SetRegistryText(exits + L"\\nolaunch.exe", L"MonitorProcess", L"C:\\m.exe");
    SetRegistryDword(ImageOptionPath(L"noverify.exe"), L"GlobalFlag", 0x200);
    SetRegistryText(ImageOptionPath(L"noverify.exe"), L"VerifierDlls", L"v.dll");
    // Empty texts start nothing either.
    SetRegistryDword(ImageOptionPath(L"emptypath.exe"), L"UseFilter", 1);
    SetRegistryText(ImageOptionPath(L"emptypath.exe\\0"), L"FilterFullPath", L"");
    SetRegistryText(ImageOptionPath(L"emptypath.exe\\0"), L"debugger", L"C:\\f.exe");
    SetRegistryDword(ImageOptionPath(L"emptydlls.exe"), L"GlobalFlag", 0x100);
    SetRegistryText(ImageOptionPath(L"emptydlls.exe"), L"VerifierDlls", L"");
    SetRegistryDword(ImageOptionPath(L"expandmonitor.exe"), L"GlobalFlag", 0x200);  // a type the reporter reads not
    SetRegistryDword(exits + L"\\expandmonitor.exe", L"ReportingMode", 1);
    SetRegistryValue(exits + L"\\expandmonitor.exe", L"MonitorProcess", REG_EXPAND_SZ, L"C:\\m.exe", 18);
    SetRegistryDword(ImageOptionPath(L"binarymonitor.exe"), L"GlobalFlag", 0x200);  // nor this one
    SetRegistryDword(exits + L"\\binarymonitor.exe", L"ReportingMode", 1);
    SetRegistryValue(exits + L"\\binarymonitor.exe", L"MonitorProcess", REG_BINARY, L"C:\\m.exe", 18);
    SetRegistryDword(ImageOptionPath(L"emptymonitor.exe"), L"GlobalFlag", 0x200);
    SetRegistryDword(exits + L"\\emptymonitor.exe", L"ReportingMode", 1);
    SetRegistryText(exits + L"\\emptymonitor.exe", L"MonitorProcess", L"");
    // UseFilter is a number the loader reads as it reads GlobalFlag.
    SetRegistryText(ImageOptionPath(L"stringfilter.exe"), L"UseFilter", L"1");
    SetRegistryValue(ImageOptionPath(L"stringfilter.exe\\0"), L"FilterFullPath", REG_BINARY, L"C:\\s.exe", 16);
    SetRegistryText(ImageOptionPath(L"stringfilter.exe\\0"), L"debugger", L"C:\\f.exe");
    ScanHijacks(m_window.list);
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::wstring>>{
                  { L"stringfilter.exe [按路径]", L"C:\\f.exe" },
                  { L"nopath.exe [按路径]", L"C:\\f.exe" },
                  { L"imageflag.exe [按路径] [验证DLL]", L"g.dll" },
                  { L"filterflag.exe [退出监视]", L"C:\\m2.exe" },
                  { L"filterflag.exe [按路径] [验证DLL]", L"i.dll" },
                  { L"filterdlls.exe [按路径] [验证DLL]", L"f.dll" },
                  { L"all.exe [退出监视]", L"C:\\m.exe" },
                  { L"all.exe [验证DLL]", L"v.dll w.dll" },
                  { L"all.exe [按路径]", L"C:\\f.exe" },
                  { L"all.exe", L"C:\\d.exe" } }),
              m_window.WideRows());

    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    EXPECT_EQ((std::vector<std::wstring>{ L"GlobalFlag", L"UseFilter" }), KeyValues(all));
    EXPECT_EQ((std::vector<std::wstring>{ L"FilterFullPath", L"MitigationOptions" }), KeyValues(all + L"\\0"));
    EXPECT_EQ(std::vector<std::wstring>{ L"ReportingMode" }, KeyValues(exits + L"\\all.exe"));
    EXPECT_EQ((std::vector<std::wstring>{ L"FilterFullPath", L"GlobalFlag" }), KeyValues(ImageOptionPath(L"filterdlls.exe\\0")));
    EXPECT_EQ((std::vector<std::wstring>{ L"GlobalFlag", L"UseFilter" }), KeyValues(ImageOptionPath(L"filterflag.exe")));
    EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(ImageOptionPath(L"imageflag.exe\\0")));
    EXPECT_EQ((std::vector<std::wstring>{ L"MonitorProcess", L"ReportingMode" }), KeyValues(exits + L"\\nolaunch.exe"));
}

// The program file types' settings, and the command processor's AutoRun:
// each one that is not Windows' own is a row, and a setting that names a
// verb, a COM server or a ProgID shows where it leads; "全部清除" sets the
// machine's commands and types back to Windows' own texts, and deletes the
// rest (a user's with the keys it leaves empty). Nothing else changes.
TEST_F(HijackScan, ListsTheFileTypesAndAutoRunAndClearAllRestoresWindowsOwn)
{
    const std::wstring machine = std::wstring(kMachineClasses) + L"\\";
    const std::wstring user = std::wstring(kUserClasses) + L"\\";
    const std::wstring processor = kCommandProcessorKey;
    const std::wstring server = kServerClass;
    const std::wstring own = L"\"%1\" %*";
    const wchar_t* const kSame = L"=";  // the value stays as planted
    struct Setting {
        std::wstring key;
        const wchar_t* value;
        std::wstring text;
        std::wstring name;  // column 0; "" for no row
        std::wstring shown;  // column 1, when it is not the text
        std::wstring after;  // the value after "全部清除"
    } settings[] = {
        { machine + L"exefile\\shell\\open\\command", L"", L"C:\\x\\evil.exe \"%1\" %*", L"exefile 打开命令", L"", L"1:" + own },
        { machine + L"exefile\\shell\\open\\command", L"IsolatedCommand", L"C:\\x\\iso.exe", L"exefile 打开命令 (IsolatedCommand)",
          L"", L"1:" + own },
        { machine + L"exefile\\shell\\runas\\command", L"", L"C:\\x\\admin.exe", L"exefile 管理员运行命令", L"", L"1:" + own },
        { machine + L"exefile\\shell\\runas\\command", L"DelegateExecute", server, L"exefile 管理员运行命令 (DelegateExecute)",
          server + L" → C:\\x\\server.exe /e", L"(missing)" },
        { L"HKCU\\Software\\Classes\\CLSID\\" + server + L"\\LocalServer32", L"", L"C:\\x\\server.exe /e", L"", L"", kSame },
        { machine + L"exefile\\shell", L"", L"nothing,evilverb", L"exefile 默认动作", L"nothing,evilverb → C:\\x\\verb.exe",
          L"(missing)" },
        { machine + L"exefile\\shell\\evilverb\\command", L"", L"C:\\x\\verb.exe", L"", L"", kSame },
        { machine + L"exefile\\CurVer", L"", L"txtfile", L"exefile 当前版本 (CurVer)", L"txtfile → C:\\x\\pad.exe %1",
          L"(missing)" },
        { machine + L"txtfile\\shell\\open\\command", L"", L"C:\\x\\pad.exe %1", L"", L"", kSame },  // no program's type
        { machine + L".exe", L"", L"evilfile", L".exe 文件类型", L"", L"1:exefile" },
        { machine + L".com", L"", L"ComFile", L"", L"", kSame },  // its own type, in any case
        { machine + L"comfile\\shell", L"", L"x\\y", L"", L"", kSame },  // no verb's name holds a "\\"
        { machine + L"comfile\\shell\\x\\y\\command", L"", L"C:\\x\\xy.exe", L"", L"", kSame },
        { machine + L"scrfile\\shell\\open\\command", L"", L"C:\\x\\scr.exe", L"scrfile 打开命令", L"", L"1:\"%1\" /S" },
        { machine + L"scrfile\\shell\\open\\command", L"IsolatedCommand", L"\"%1\" /s", L"scrfile 打开命令 (IsolatedCommand)",
          L"", L"1:\"%1\" /S" },  // Windows' own text is exact
        { machine + L"scrfile\\shell\\runas\\command", L"", own, L"", L"", kSame },
        { machine + L"comfile\\shell\\open\\command", L"", L"C:\\x\\com.exe", L"comfile 打开命令", L"", L"1:" + own },
        { machine + L"batfile\\shell\\open\\command", L"", L"C:\\x\\bat.exe", L"batfile 打开命令", L"", L"1:" + own },
        { machine + L"cmdfile\\shell\\open\\command", L"", L"C:\\x\\cmd.exe", L"cmdfile 打开命令", L"", L"1:" + own },
        { machine + L"piffile\\shell\\open\\command", L"", L"C:\\x\\pif.exe", L"piffile 打开命令", L"", L"1:" + own },
        { machine + L".pif", L"", L"exefile", L".pif 文件类型", L"", L"1:piffile" },
        { user + L"exefile\\shell\\open\\command", L"", own, L"exefile 打开命令 [当前用户]", L"", L"(missing)" },
        { user + L"exefile\\shell\\open\\command", L"IsolatedCommand", L"C:\\x\\iso.exe %1",
          L"exefile 打开命令 (IsolatedCommand) [当前用户]", L"", L"(missing)" },
        { user + L"exefile\\shell\\open\\command", L"DelegateExecute", server + L"x",
          L"exefile 打开命令 (DelegateExecute) [当前用户]", L"", L"(missing)" },  // no class ID
        { L"HKCU\\Software\\Classes\\CLSID\\" + server + L"x\\LocalServer32", L"", L"C:\\x\\no.exe", L"", L"", kSame },
        { user + L"exefile\\shell\\runas\\command", L"", L"C:\\x\\admin.exe %1", L"exefile 管理员运行命令 [当前用户]", L"",
          L"(missing)" },
        { user + L"exefile\\shell\\runas", L"HasLUAShield", L"", L"", L"", kSame },
        { user + L"exefile\\shell", L"", L"Open", L"", L"", kSame },  // open is no hijack
        { user + L"comfile\\shell", L"", L"nosuchverb", L"", L"", kSame },
        { user + L"comfile\\CurVer", L"", L"evilprog\\sub", L"comfile 当前版本 (CurVer) [当前用户]", L"", L"(missing)" },
        { machine + L"evilprog\\sub\\shell\\open\\command", L"", L"C:\\x\\sub.exe", L"", L"", kSame },  // no ProgID
        { user + L"batfile\\shell", L"", L"nothing evilverb", L"batfile 默认动作 [当前用户]",
          L"nothing evilverb → C:\\x\\uverb.exe", L"(missing)" },
        { user + L"batfile\\shell\\evilverb\\command", L"", L"C:\\x\\uverb.exe", L"", L"", kSame },
        // The shell reads the user's and the machine's verbs as one.
        { user + L"cmdfile\\shell", L"", L"mverb", L"cmdfile 默认动作 [当前用户]", L"mverb → C:\\x\\mverb.exe",
          L"(missing)" },
        { machine + L"cmdfile\\shell\\mverb\\command", L"", L"C:\\x\\mverb.exe", L"", L"", kSame },
        { machine + L"piffile\\shell", L"", L"uverb", L"piffile 默认动作", L"uverb → C:\\x\\uverb.exe", L"(missing)" },
        { user + L"piffile\\shell\\uverb\\command", L"", L"C:\\x\\uverb.exe", L"", L"", kSame },
        { user + L".exe", L"", L"exefile", L".exe 文件类型 [当前用户]", L"", L"(missing)" },
        { user + L"ms-settings\\shell\\open\\command", L"", L"C:\\x\\ms.exe", L"ms-settings 打开命令 [当前用户]", L"",
          L"(missing)" },
        { user + L"ms-settings\\shell\\open\\command", L"DelegateExecute", L"",
          L"ms-settings 打开命令 (DelegateExecute) [当前用户]", L"", L"(missing)" },
        { user + L"Folder\\shell\\open\\command", L"IsolatedCommand", L"C:\\x\\sdclt.exe",
          L"Folder 打开命令 (IsolatedCommand) [当前用户]", L"", L"(missing)" },
        { user + L"Folder\\shell\\menu\\command", L"", L"C:\\x\\menu.exe", L"", L"", kSame },  // a context-menu verb
        { user + L"mscfile\\CurVer", L"", L"evilprog", L"mscfile 当前版本 (CurVer) [当前用户]", L"", L"(missing)" },
        { user + L"exefile\\CurVer", L"", L"userprog", L"exefile 当前版本 (CurVer) [当前用户]", L"userprog → C:\\x\\up.exe",
          L"(missing)" },
        { user + L"userprog\\shell\\open\\command", L"", L"C:\\x\\up.exe", L"", L"", kSame },
        { user + L"Launcher.SystemSettings\\shell\\open\\command", L"", L"C:\\x\\slui.exe",
          L"Launcher.SystemSettings 打开命令 [当前用户]", L"", L"(missing)" },
        { kCrashDebuggerKey, L"Debugger", L"\"C:\\x\\dbg.exe\" -p %ld -e %ld", L"程序崩溃时的调试器", L"", L"(missing)" },
        { kCrashDebuggerKey, L"Auto", L"1", L"", L"", kSame },
        { kHangDebuggerKey, L"Debugger", L"C:\\x\\hang.exe -p %ld", L"程序无响应时的调试器", L"", L"(missing)" },
        { kHangDebuggerKey, L"ReflectDebugger", L"C:\\x\\reflect.exe", L"程序无响应时的调试器 (ReflectDebugger)", L"",
          L"(missing)" },
        { user + L"ActivatableClasses\\Package\\Pkg_1\\DebugInformation\\App", L"DebugPath", L"C:\\x\\app.exe -p",
          L"Pkg_1 应用的调试器 [当前用户]", L"", L"(missing)" },
        { kPackageDebuggerKey + std::wstring(L"\\Pkg_2"), L"", L"C:\\x\\pkg.exe", L"Pkg_2 应用包的调试器 [当前用户]", L"",
          L"(missing)" },
        { kAppInitKey, L"AppInit_DLLs", L"C:\\x\\init.dll", L"每个程序载入的DLL (AppInit_DLLs)", L"", L"1:" },
        { kAppCertKey, L"evil", L"C:\\x\\cert.dll", L"启动程序时载入的DLL (AppCertDlls: evil)", L"", L"(missing)" },
        { processor, L"AutoRun", L"C:\\x\\auto.exe", L"命令提示符 AutoRun", L"", L"(missing)" },
        { std::wstring(kAssistiveToolsKey) + L"\\osk", L"StartExe", L"C:\\x\\osk.exe", L"osk 辅助工具 (StartExe)", L"",
          L"(missing)" },
        { std::wstring(kAssistiveToolsKey) + L"\\osk", L"ATExe", L"osk.exe", L"", L"", kSame },  // the tool's other values
        { L"HKCU\\" + processor, L"AutoRun", L"C:\\x\\mine.exe", L"命令提示符 AutoRun [当前用户]", L"", L"(missing)" },
    };
    SetRegistryDword(kAppInitKey, L"LoadAppInit_DLLs", 1);
    Found expected;
    for (const Setting& s : settings) {
        SetRegistryText(s.key, s.value, s.text);
        if (!s.name.empty())
            expected.push_back({ s.name, s.shown.empty() ? s.text : s.shown });
    }
    ScanHijacks(m_window.list);
    Found rows = m_window.WideRows();
    std::sort(expected.begin(), expected.end());
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(expected, rows);

    // The user's command goes; the machine's, a hijack of its own, stays as it is.
    for (int row = 0; row < m_window.list.GetItemCount(); ++row) {
        if (m_window.WideRows()[row].first == L"exefile 打开命令 [当前用户]")
            m_window.Select(row);
    }
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(L"(missing)", RegistryText(user + L"exefile\\shell\\open\\command", L""));
    EXPECT_EQ(L"1:C:\\x\\evil.exe \"%1\" %*", RegistryText(machine + L"exefile\\shell\\open\\command", L""));
    EXPECT_EQ(static_cast<int>(expected.size()) - 1, m_window.list.GetItemCount());

    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    for (const Setting& s : settings)
        EXPECT_EQ(s.after == kSame ? L"1:" + s.text : s.after, RegistryText(s.key, s.value)) << s.key << " " << s.value;
    for (const wchar_t* key : { L"exefile\\shell\\open", L"exefile\\shell\\runas\\command", L"comfile\\CurVer", L".exe",
                                L"ms-settings", L"mscfile", L"Launcher.SystemSettings", L"ActivatableClasses\\Package\\Pkg_1" })
        EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(user + key)) << "a user's key left empty";
    EXPECT_EQ(std::vector<std::wstring>(), KeyValues(user + L"ActivatableClasses\\Package"));
    EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(kPackageDebuggerKey + std::wstring(L"\\Pkg_2")));
    EXPECT_EQ(std::vector<std::wstring>(), KeyValues(kPackageDebuggerKey));
    EXPECT_EQ(std::vector<std::wstring>(), KeyValues(kAppCertKey));
    EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(machine + L"exefile\\CurVer"));
    EXPECT_EQ(std::vector<std::wstring>{ L"HasLUAShield" }, KeyValues(user + L"exefile\\shell\\runas"));
    DeleteRegistryTree(machine + L"txtfile");
    DeleteRegistryTree(machine + L"evilprog");
    DeleteRegistryTree(L"HKCU\\Software\\Classes\\CLSID\\" + server);
    DeleteRegistryTree(L"HKCU\\Software\\Classes\\CLSID\\" + server + L"x");

    // The user's classes that hold nothing but a hijack stay, emptied.
    DeleteRegistryTree(kUserClasses);
    SetRegistryText(user + L".exe", L"", L"evilfile");
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(std::vector<std::wstring>(), KeyValues(kUserClasses));
}

// A string the shell or cmd.exe reads is a non-empty REG_SZ or
// REG_EXPAND_SZ; AppInit_DLLs is loaded only while LoadAppInit_DLLs is a
// non-zero REG_DWORD (from Vista on); Dr. Watson's debugger, where
// Windows has it (XP, 2003), is Windows' own in any case, and a clear sets
// it back.
TEST_F(HijackScan, ListsAStringSettingAsWindowsReadsIt)
{
    const std::wstring drWatson = Widen(Expand("%systemroot%\\system32\\drwtsn32.exe"));
    const std::wstring tool = std::wstring(kAssistiveToolsKey) + L"\\osk";
    const std::wstring nvda = std::wstring(kAssistiveToolsKey) + L"\\nvda";
    const std::wstring narrator = std::wstring(kAssistiveToolsKey) + L"\\Narrator";
    const wchar_t* const osk = tool.c_str();
    struct Case {
        const wchar_t* key;
        const wchar_t* value;
        DWORD type;
        std::wstring data;
        bool listed;
        DWORD switchType = REG_DWORD;  // LoadAppInit_DLLs, its bytes
        std::string switchData = std::string("\1\0\0\0", 4);
        bool drWatson = false;  // Windows has Dr. Watson
        std::wstring after = L"(missing)";  // the value after "全部清除"
        bool asOnXp = false;
    } cases[] = {
        { kCommandProcessorKey, L"AutoRun", REG_SZ, L"C:\\x\\a.exe", true },
        { kCommandProcessorKey, L"AutoRun", REG_EXPAND_SZ, L"%windir%\\a.exe", true },
        { kCommandProcessorKey, L"AutoRun", REG_SZ, L"", false },
        { kCommandProcessorKey, L"AutoRun", REG_BINARY, L"C:\\x\\a.exe", false },
        { kCommandProcessorKey, L"AutoRun", REG_MULTI_SZ, std::wstring(L"C:\\x\\a.exe\0", 11), false },
        { kAppCertKey, L"b", REG_BINARY, L"C:\\x\\a.dll", true },  // passed on whatever its type
        { kAppCertKey, L"b", REG_SZ, L"", false },
        { L"HKCU\\Software\\Classes\\exefile\\shell\\open\\command", L"", REG_SZ, L"", true },
        { kAppInitKey, L"AppInit_DLLs", REG_SZ, L"C:\\x\\a.dll", true, REG_DWORD, std::string("\1\0\0\0", 4), false,
          L"1:" },
        { kAppInitKey, L"AppInit_DLLs", REG_SZ, L"C:\\x\\a.dll", false, REG_DWORD, std::string(4, '\0') },
        // XP and 2003 load it whatever the switch says
        { kAppInitKey, L"AppInit_DLLs", REG_SZ, L"C:\\x\\a.dll", true, REG_DWORD, std::string(4, '\0'), false, L"1:",
          true },
        // user32 reads the switch's bytes whatever its type: the text "0" is on, 5 bytes are none
        { kAppInitKey, L"AppInit_DLLs", REG_SZ, L"C:\\x\\a.dll", true, REG_SZ, std::string("0\0\0\0", 4), false, L"1:" },
        { kAppInitKey, L"AppInit_DLLs", REG_SZ, L"C:\\x\\a.dll", false, REG_BINARY, std::string("\1\1\1\1\1", 5) },
        { kAppInitKey, L"AppInit_DLLs", REG_BINARY, L"C:\\x\\a.dll", true, REG_DWORD, std::string("\1\0\0\0", 4), false,
          L"1:" },
        { kCrashDebuggerKey, L"Debugger", REG_SZ, L"C:\\x\\dbg.exe -p %ld", true },
        { kHangDebuggerKey, L"Debugger", REG_EXPAND_SZ, L"%SystemRoot%\\dbg.exe -p %ld", true },
        { kCrashDebuggerKey, L"Debugger", REG_EXPAND_SZ, L"C:\\" + std::wstring(MAX_PATH - 4, L'x'), true },
        // An assistive tool's own program is Windows' own where its path, expanded, names it
        { osk, L"StartExe", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\osk.exe", false },
        { osk, L"StartExe", REG_SZ, L"C:\\WINDOWS\\system32\\OSK.EXE", false },
        { osk, L"StartExe", REG_SZ, L"%SystemRoot%\\System32\\osk.exe", true },
        { osk, L"StartExe", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\Narrator.exe", true },
        { narrator.c_str(), L"StartExe", REG_EXPAND_SZ, L"%SystemRoot%\\System32\\Narrator.exe", false },
        { nvda.c_str(), L"StartExe", REG_EXPAND_SZ, L"%ProgramFiles%\\NVDA\\nvda.exe", true },
        { kCrashDebuggerKey, L"Debugger", REG_SZ, L"DRWTSN32 -p %ld -e %ld -g", true },
        { kCrashDebuggerKey, L"Debugger", REG_SZ, L"DRWTSN32 -p %ld -e %ld -g", false, REG_DWORD, "", true },
        { kCrashDebuggerKey, L"Debugger", REG_SZ, L"C:\\x\\dbg.exe -p %ld", true, REG_DWORD, "", true,
          L"1:drwtsn32 -p %ld -e %ld -g" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        ResetHijacks();
        SetRegistryValue(c.key, c.value, c.type, c.data.c_str(), static_cast<DWORD>((c.data.size() + 1) * sizeof(wchar_t)));
        SetRegistryValue(kAppInitKey, L"LoadAppInit_DLLs", c.switchType, c.switchData.data(),
                         static_cast<DWORD>(c.switchData.size()));
        if (c.drWatson)
            WriteProgram(Expand("%systemroot%\\system32\\drwtsn32.exe"));
        std::unique_ptr<ImportHook> xp;
        if (c.asOnXp)
            xp.reset(new ImportHook("kernel32.dll", "GetVersion", reinterpret_cast<void*>(&VersionOfXp)));
        EXPECT_EQ(c.listed ? 1u : 0u, FoundHijacks().size());
        if (c.listed) {
            ScanHijacks(m_window.list);
            ClearAllHijacks(m_window.list);
            EXPECT_EQ(c.after, RegistryText(c.key, c.value));
        }
        DeleteFileW(drWatson.c_str());
    }

    // A value whose name holds a NUL, which no ordinary call names (it
    // shows as "␀"): Windows loads each AppCertDlls value whatever its name.
    ResetHijacks();
    typedef LONG(NTAPI * SetValue)(HANDLE, const UNICODE_STRING*, ULONG, ULONG, const void*, ULONG);
    const SetValue set = reinterpret_cast<SetValue>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtSetValueKey")));
    const wchar_t name[] = L"x\0hidden";
    const wchar_t dll[] = L"C:\\x\\hidden.dll";
    const UNICODE_STRING counted = { sizeof(name) - 2, sizeof(name) - 2, const_cast<wchar_t*>(name) };
    SetRegistryText(kAppCertKey, L"plain", L"C:\\x\\plain.dll");
    SetRegistryValue(kAppCertKey, L"list", REG_MULTI_SZ, L"a.dll\0b.dll\0\0c.dll", 36);
    SetRegistryValue(kAppCertKey, L"sz", REG_SZ, L"x.dll\0evil.dll", 30);  // only a list joins its strings
    HKEY certs = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAppCertKey, 0, KEY_ALL_ACCESS, &certs));
    EXPECT_EQ(0, set(certs, &counted, 0, REG_SZ, dll, sizeof(dll)));
    RegCloseKey(certs);
    Found found = FoundHijacks();
    std::sort(found.begin(), found.end());
    EXPECT_EQ((Found{ { L"启动程序时载入的DLL (AppCertDlls: list)", L"a.dll\x2400" L"b.dll" },
                      { L"启动程序时载入的DLL (AppCertDlls: plain)", L"C:\\x\\plain.dll" },
                      { L"启动程序时载入的DLL (AppCertDlls: sz)", L"x.dll" },
                      { L"启动程序时载入的DLL (AppCertDlls: x\x2400hidden)", dll } }),
              found);
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(std::vector<std::wstring>(), KeyValues(kAppCertKey));
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

// ntdll's own reader of image options, as real Windows has it and Wine 8
// lacks: for a key of the image options it answers every text with the
// value's name and every number with 0x100, and records the key it was
// asked about; other keys hold nothing.
bool g_systemReader = false;
std::wstring g_readerKey;

LONG NTAPI FakeKeyOptionReader(HANDLE key, PCWSTR value, ULONG type, PVOID buffer, ULONG size, PULONG returned)
{
    wchar_t path[1024] = L"";
    KeyPathOf(static_cast<HKEY>(key), path, 1024);
    if (std::wstring(path).find(L"Image File Execution Options") == std::wstring::npos)
        return static_cast<LONG>(0xC0000034);  // not found
    g_readerKey = path;
    const std::wstring text = std::wstring(value) + L" from ntdll";
    if (type == REG_DWORD && size == sizeof(ULONG)) {
        *static_cast<ULONG*>(buffer) = 0x100;
        return 0;
    }
    if (type != REG_SZ || (text.size() + 1) * sizeof(wchar_t) > size)
        return static_cast<LONG>(0xC0000034);  // not found
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    if (returned != nullptr)
        *returned = static_cast<ULONG>((text.size() + 1) * sizeof(wchar_t));
    return 0;
}

// Windows XP names an open file as it was opened, short names and all: as
// if every file had been, the name on its volume in its short form.
void* g_queryFile = nullptr;

LONG NTAPI ShortNameQueryFile(HANDLE file, IO_STATUS_BLOCK* status, void* info, ULONG size, int kind)
{
    typedef LONG(NTAPI * Fn)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, int);
    LONG result = reinterpret_cast<Fn>(g_queryFile)(file, status, info, size, kind);
    const int kFileNameInformation = 9;
    if (result < 0 || kind != kFileNameInformation)
        return result;
    ULONG* bytes = static_cast<ULONG*>(info);
    wchar_t* name = reinterpret_cast<wchar_t*>(bytes + 1);
    const std::wstring onC = L"C:" + std::wstring(name, *bytes / sizeof(wchar_t));
    wchar_t shortName[MAX_PATH];
    DWORD length = GetShortPathNameW(onC.c_str(), shortName, MAX_PATH);
    if (length > 2 && length < MAX_PATH && (length - 2) * sizeof(wchar_t) + sizeof(ULONG) <= size) {
        std::memcpy(name, shortName + 2, (length - 2) * sizeof(wchar_t));
        *bytes = (length - 2) * sizeof(wchar_t);
        status->Information = sizeof(ULONG) + *bytes;
    }
    return result;
}

// A registry that refuses to delete a key, as a key's access list can.
bool g_refuseKeyDeletion = false;
LONG NTAPI RefuseKeyDeletion(HANDLE) { return static_cast<LONG>(0xC0000022); }  // access denied
bool g_hideKeyNames = false;
LONG NTAPI HideKeyName(HANDLE, int, PVOID, ULONG, PULONG) { return static_cast<LONG>(0xC0000022); }

// Windows XP SP2, whose crypt32 knows no SHA-256.
bool g_unknownDigests = false;
const void* WINAPI NoOidInfo(DWORD, void*, DWORD) { return nullptr; }

// A catalog of the system that lists the file, which no catalog of Wine's
// does: as Windows 8 and later hash it (SHA-256), or as XP does (SHA-1, and
// no functions for SHA-256). Its verification is that of a file signed by
// publisher "a"; what the program asked for is recorded.
enum Catalogs { kWinesCatalogs, kCatalogSha256, kCatalogSha1 };
Catalogs g_catalogs = kWinesCatalogs;
std::wstring g_catalogAsked;  // the algorithm, the member tag, the catalog's path and the member's
void* g_realVerify = nullptr;
WINTRUST_FILE_INFO g_standIn = {};
WINTRUST_DATA g_standInData = {};

BOOL WINAPI FakeAcquire2(HCATADMIN* admin, const GUID*, PCWSTR algorithm, const void*, DWORD)
{
    g_catalogAsked = algorithm;
    *admin = reinterpret_cast<HCATADMIN>(1);
    return TRUE;
}
BOOL WINAPI FakeAcquire(HCATADMIN* admin, const GUID*, DWORD)
{
    g_catalogAsked = L"SHA1";
    *admin = reinterpret_cast<HCATADMIN>(1);
    return TRUE;
}
BOOL WINAPI FakeHash(HANDLE, DWORD* size, BYTE* hash, DWORD)
{
    *size = g_catalogs == kCatalogSha256 ? 32 : 20;
    memset(hash, 0xAB, *size);
    return TRUE;
}
BOOL WINAPI FakeHash2(HCATADMIN, HANDLE file, DWORD* size, BYTE* hash, DWORD flags) { return FakeHash(file, size, hash, flags); }
HCATINFO WINAPI FakeEnumCatalogs(HCATADMIN, BYTE*, DWORD, DWORD, HCATINFO*) { return reinterpret_cast<HCATINFO>(2); }
BOOL WINAPI FakeCatalogInfo(HCATINFO, CATALOG_INFO* info, DWORD)
{
    lstrcpyW(info->wszCatalogFile, L"C:\\windows\\system32\\catroot\\orvex.cat");
    return TRUE;
}
BOOL WINAPI FakeRelease(HCATADMIN, HCATINFO, DWORD) { return TRUE; }
BOOL WINAPI FakeReleaseAdmin(HCATADMIN, DWORD) { return TRUE; }
int g_fileVerifications = 0;  // of a file's own signature
LONG g_trustAnswer = ERROR_SUCCESS;  // for a file's own signature, in place of Wine's

LONG WINAPI FakeVerifyTrust(HWND window, GUID* action, WINTRUST_DATA* data)
{
    typedef LONG(WINAPI * Verify)(HWND, GUID*, WINTRUST_DATA*);
    const Verify verify = reinterpret_cast<Verify>(g_realVerify);
    g_fileVerifications += data->dwUnionChoice == WTD_CHOICE_FILE && data->dwStateAction == WTD_STATEACTION_VERIFY;
    if (data->dwUnionChoice != WTD_CHOICE_CATALOG) {
        const LONG status = verify(window, action, data);
        return data->dwStateAction == WTD_STATEACTION_VERIFY && g_trustAnswer != ERROR_SUCCESS ? g_trustAnswer : status;
    }
    if (data->dwStateAction == WTD_STATEACTION_VERIFY) {
        const WINTRUST_CATALOG_INFO* member = data->pCatalog;
        g_catalogAsked += std::wstring(L" ") + member->pcwszMemberTag + L" " + member->pcwszCatalogFilePath + L" " +
                          member->pcwszMemberFilePath;
        static const std::wstring signedA = Widen(Signed().trusted);
        g_standIn = { sizeof(g_standIn), signedA.c_str(), nullptr, nullptr };
        g_standInData = *data;
        g_standInData.dwUnionChoice = WTD_CHOICE_FILE;
        g_standInData.pFile = &g_standIn;
    }
    g_standInData.dwStateAction = data->dwStateAction;
    g_standInData.hWVTStateData = data->hWVTStateData;
    const LONG status = verify(window, action, &g_standInData);
    data->hWVTStateData = g_standInData.hWVTStateData;
    return status;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name)
{
    if (HIWORD(name) != 0 && g_unknownDigests && lstrcmpA(name, "CryptFindOIDInfo") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&NoOidInfo));
    const std::pair<const char*, void*> catalogs[] = {
        { "CryptCATAdminAcquireContext2", g_catalogs == kCatalogSha256 ? reinterpret_cast<void*>(&FakeAcquire2) : nullptr },
        { "CryptCATAdminCalcHashFromFileHandle2",
          g_catalogs == kCatalogSha256 ? reinterpret_cast<void*>(&FakeHash2) : nullptr },
        { "CryptCATAdminAcquireContext", reinterpret_cast<void*>(&FakeAcquire) },
        { "CryptCATAdminCalcHashFromFileHandle", reinterpret_cast<void*>(&FakeHash) },
        { "CryptCATAdminEnumCatalogFromHash", reinterpret_cast<void*>(&FakeEnumCatalogs) },
        { "CryptCATCatalogInfoFromContext", reinterpret_cast<void*>(&FakeCatalogInfo) },
        { "CryptCATAdminReleaseCatalogContext", reinterpret_cast<void*>(&FakeRelease) },
        { "CryptCATAdminReleaseContext", reinterpret_cast<void*>(&FakeReleaseAdmin) },
    };
    for (const auto& catalog : catalogs) {
        if (HIWORD(name) != 0 && g_catalogs != kWinesCatalogs && lstrcmpA(name, catalog.first) == 0)
            return reinterpret_cast<FARPROC>(catalog.second);
    }
    if (HIWORD(name) != 0 && lstrcmpA(name, "WinVerifyTrust") == 0) {
        g_realVerify = reinterpret_cast<void*>(reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeVerifyTrust));
    }
    if (HIWORD(name) != 0 && g_refuseKeyDeletion && lstrcmpA(name, "NtDeleteKey") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&RefuseKeyDeletion));
    if (HIWORD(name) != 0 && g_hideKeyNames && lstrcmpA(name, "NtQueryKey") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&HideKeyName));
    if (HIWORD(name) != 0 && g_asOnXp && lstrcmpA(name, "NtQueryInformationFile") == 0) {
        g_queryFile = reinterpret_cast<void*>(reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name));
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&ShortNameQueryFile));
    }
    if (HIWORD(name) != 0 && g_systemReader && lstrcmpA(name, "LdrQueryImageFileKeyOption") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeKeyOptionReader));
    if (HIWORD(name) != 0 && lstrcmpA(name, "SfcIsFileProtected") == 0)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeSfcIsFileProtected));
    if (HIWORD(name) != 0 && g_asOnXp && lstrcmpA(name, "GetFinalPathNameByHandleW") == 0)
        return nullptr;
    return reinterpret_cast<FARPROC(WINAPI*)(HMODULE, LPCSTR)>(g_getProcAddress)(module, name);
}

// Where this thread's file calls in system32 lead when a DLL is loaded:
// SysWOW64 under WOW64 with redirection on, as a 32-bit process needs.
std::wstring g_systemSeenAtLoad;

HMODULE WINAPI RecordLoadLibrary(LPCWSTR name)
{
    g_loaded = name;
    g_systemSeenAtLoad.clear();
    HANDLE system = CreateFileW(L"C:\\windows\\system32", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    wchar_t seen[MAX_PATH] = L"";
    if (system != INVALID_HANDLE_VALUE && FilePathOnVolume(system, seen, MAX_PATH))
        g_systemSeenAtLoad = seen;
    CloseHandle(system);
    return reinterpret_cast<HMODULE(WINAPI*)(LPCWSTR)>(g_loadLibrary)(name);
}

// Windows 11 on ARM64, which runs x64 programs besides its own.
void WINAPI OnArm64(SYSTEM_INFO* info)
{
    *info = {};
    info->wProcessorArchitecture = 12;  // PROCESSOR_ARCHITECTURE_ARM64
}

// The system directory in capitals, as Windows XP names it ("C:\WINDOWS\system32").
UINT WINAPI CapitalSystemDirectory(LPWSTR path, UINT size)
{
    UINT length = reinterpret_cast<UINT(WINAPI*)(LPWSTR, UINT)>(g_getSystemDirectory)(path, size);
    if (length > 0 && length < size)
        CharUpperW(path);
    return length;
}

// How a row of the queue table plants its hijack beyond its kind's way: as a
// REG_EXPAND_SZ, with the verb's command in the machine's classes, with a
// PATHEXT of the user's logon session's own, with SystemDrive set again by
// the user's own environment, another user's or the machine's, or with a
// SystemRoot value that is not the running system's.
enum Planting {
    kAsKind, kExpandable, kVerbInMachineClasses, kUsersOwnPathExt, kUsersOwnVariable, kOthersVariable,
    kMachinesOwnVariable, kOtherSystemRoot, kEmptyPathExtEntry
};

// The text is written by whoever set the hijack: "清除选定" queues the file
// that Windows would start for it, by that file's real path, and resets its
// attributes, only when it is a Windows program that this Windows can start
// and that the system does not protect. Every file here is read-only, so
// that a reset shows; Windows XP's way of finding where a file lives is
// taken too, which names a file as it was opened (short names and all) and
// cannot name one across a link to another volume.
TEST_F(HijackScan, ClearSelectedQueuesOnlyAProgramAtTheVeryPathItNames)
{
    const std::string dir = FreshDirectory("plain");
    const std::string system = Expand("%systemroot%\\system32");
    const std::string windows = Expand("%systemroot%");
    const std::string dllcache = system + "\\dllcache";
    const std::string decoy = FreshDirectory("decoy");
    CreateDirectoryA((dir + "\\sub").c_str(), nullptr);
    CreateDirectoryA((dir + "\\sp ace").c_str(), nullptr);
    CreateDirectoryA((dir + "\\one two").c_str(), nullptr);
    CreateDirectoryA((dir + "\\my.app dir").c_str(), nullptr);
    CreateDirectoryA((dir + "\\my.dir").c_str(), nullptr);
    CreateDirectoryA((dir + "\\%ORVEXTEST%").c_str(), nullptr);
    CreateDirectoryA((dir + "\\50%").c_str(), nullptr);
    CreateDirectoryA((dir + "\\one two\\%ORVEXTEST%").c_str(), nullptr);
    CreateDirectoryA((dir + "\\sp2.exe").c_str(), nullptr);
    CreateDirectoryA((dir + "\\sp2.exe dir").c_str(), nullptr);
    CreateDirectoryA(dllcache.c_str(), nullptr);
    // Its path in system32 fits, but not its namesake's in dllcache.
    const std::string longName = system + "\\" + std::string(235 - 4, 'l') + ".exe";
    const std::string programs[] = { dir + "\\hook.exe",          dir + "\\victim.exe",
                                     dir + "\\protected.exe",     system + "\\orvex-kept.exe",
                                     system + "\\orvex-plain.exe", windows + "\\orvex-kept.exe",
                                     system + "\\drivers\\orvex-deep.exe", system + "\\淺.exe", longName,
                                     dir + "\\sp.exe", dir + "\\sp ace\\after.exe", dir + "\\one two\\spaced.exe",
                                     dir + "\\bare", dir + "\\my.app", dir + "\\my.app dir\\evil.exe",
                                     dir + "\\sp2.exe dir\\evil.exe", dir + "\\my.dir\\hook.exe", dir + "\\tool.com",
                                     dir + "\\tool.exe", dir + "\\script.bat", dir + "\\script.exe", dir + "\\a&b.exe",
                                     decoy + "\\hook.exe", dir + "\\%ORVEXTEST%\\hook.exe", dir + "\\50%\\hook.exe",
                                     dir + "\\one two\\%ORVEXTEST%\\hook.exe", dir + "\\a^b.exe",
                                     windows + "\\orvex-windir.exe" };
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
    // subsystem (as autochk.exe), without the executable-image flag, and
    // for x64, which 32-bit Windows does not run.
    const std::string program = ReadBytes(dir + "\\hook.exe");
    const size_t headers = *reinterpret_cast<const LONG*>(program.data() + offsetof(IMAGE_DOS_HEADER, e_lfanew));
    const size_t subsystem = headers + offsetof(IMAGE_NT_HEADERS32, OptionalHeader.Subsystem);
    const size_t flags = headers + offsetof(IMAGE_NT_HEADERS32, FileHeader.Characteristics);
    const size_t machine = headers + offsetof(IMAGE_NT_HEADERS32, FileHeader.Machine);
    std::string native = program;
    native[subsystem] = IMAGE_SUBSYSTEM_NATIVE;
    WriteBytes(dir + "\\native.exe", native);
    std::string unlinked = program;
    unlinked[flags] = static_cast<char>(unlinked[flags] & ~IMAGE_FILE_EXECUTABLE_IMAGE);
    WriteBytes(dir + "\\unlinked.exe", unlinked);
    std::string x64 = program;
    x64[machine] = static_cast<char>(IMAGE_FILE_MACHINE_AMD64 & 0xFF);
    x64[machine + 1] = static_cast<char>(IMAGE_FILE_MACHINE_AMD64 >> 8);
    WriteBytes(dir + "\\x64.exe", x64);
    const std::string others[] = { dir + "\\boot.ini",     dir + "\\ntldr",       dir + "\\software",
                                   dir + "\\hosts",        dir + "\\version.dll", dir + "\\mountmgr.sys",
                                   dir + "\\native.exe",   dir + "\\unlinked.exe", dir + "\\x64.exe" };
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
    char shortKept[MAX_PATH] = "";
    char shortPlain[MAX_PATH] = "";
    GetShortPathNameA((system + "\\orvex-kept.exe").c_str(), shortKept, MAX_PATH);
    GetShortPathNameA((system + "\\orvex-plain.exe").c_str(), shortPlain, MAX_PATH);
    ASSERT_NE(system + "\\orvex-kept.exe", shortKept);
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
    const std::string otherProgramsValue = WideStrings({ L"\\??\\C:\\orvex-tests\\keep.dll" });
    const std::string hook = dir + "\\hook.exe";
    const std::string victim = dir + "\\victim.exe";
    const std::string onZ = "Z:" + elsewhere + "\\prog.exe";
    const char* const kOnXpToo = "(same)";
    // The system's variables have the values Windows sets them from, not
    // this process's; the machine's PATHEXT tries a script before .exe.
    const std::wstring kWindows = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    const std::wstring kEnvironment = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    const std::wstring programFiles = RegistryText(kWindows, L"ProgramFilesDir").substr(2);
    const std::wstring pathExt = RegistryText(kEnvironment, L"PATHEXT").substr(2);
    SetRegistryText(kWindows, L"ProgramFilesDir", Widen(dir));
    SetRegistryText(kEnvironment, L"PATHEXT", L".COM;.BAT;.EXE;.CMD");
    SetEnvironmentVariableA("ProgramFiles", decoy.c_str());
    SetEnvironmentVariableA("ProgramFiles(x86)", dir.c_str());
    SetEnvironmentVariableA("ORVEXTEST", dir.c_str());
    const std::wstring kWindowsNt = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    const std::wstring systemRoot = RegistryText(kWindowsNt, L"SystemRoot").substr(2);
    // The all users' profile and ProgramData, as Vista and XP keep them.
    const std::wstring kProfiles = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    const std::wstring programData = RegistryText(kProfiles, L"ProgramData").substr(2);
    const std::wstring profiles = RegistryText(kProfiles, L"ProfilesDirectory").substr(2);
    const std::wstring inPlain = L"%SystemDrive%\\orvex-tests\\plain";
    SetRegistryValue(kProfiles, L"ProgramData", REG_EXPAND_SZ, inPlain.c_str(), (inPlain.size() + 1) * 2);
    const std::wstring inTests = L"%SystemDrive%\\orvex-tests";
    SetRegistryValue(kProfiles, L"ProfilesDirectory", REG_EXPAND_SZ, inTests.c_str(), (inTests.size() + 1) * 2);
    SetRegistryText(kProfiles, L"AllUsersProfile", L"decoy");

    struct Case {
        const char* what;
        std::string text;
        std::string queued;  // the real path queued, or "" for none
        HijackKind kind;
        std::string queuedOnXp;
        bool otherValue;     // the pending value is another program's REG_SZ
        Planting planting = kAsKind;
        bool onArm64 = false;     // Windows runs on ARM64
    } cases[] = {
        { "an existing program", hook, hook, kDebugger, kOnXpToo, false },
        { "the path in capitals", "C:\\ORVEX-TESTS\\PLAIN\\HOOK.EXE", hook, kDebugger, kOnXpToo, false },
        { "a filter's debugger", hook, hook, kFilterDebugger, kOnXpToo, false },
        { "a silent-exit monitor", hook, hook, kSilentExitMonitor, kOnXpToo, false },
        { "verifier DLLs, even named by a full path", hook, "", kVerifierDlls, kOnXpToo, false },
        { "a pending value the queue refuses", hook, "", kDebugger, kOnXpToo, true },
        { "spaces after the path", hook + "   ", hook, kDebugger, kOnXpToo, false },
        { "the path in quotes", "\"" + hook + "\" ", hook, kDebugger, kOnXpToo, false },
        { "an opening quote alone", "\"" + hook + "x", "", kDebugger, kOnXpToo, false },
        { "the program with arguments", hook + " /s", "", kDebugger, kOnXpToo, false },
        { "a path with a space", dir + "\\one two\\spaced.exe", dir + "\\one two\\spaced.exe", kDebugger, kOnXpToo,
          false },
        { "a program before its space", dir + "\\sp ace\\after.exe", "", kDebugger, kOnXpToo, false },
        { "the same in quotes", "\"" + dir + "\\sp ace\\after.exe\"", dir + "\\sp ace\\after.exe", kDebugger,
          kOnXpToo, false },
        { "quotes and arguments", "\"" + hook + "\" -s", "", kDebugger, kOnXpToo, false },
        { "a bare command", "ntsd -d", "", kDebugger, kOnXpToo, false },
        { "a directory", dir + "\\sub", "", kDebugger, kOnXpToo, false },
        { "a missing file", dir + "\\missing.exe", "", kDebugger, kOnXpToo, false },
        { "arguments that climb to another file", dir + "\\x.exe /../victim.exe", "", kDebugger, kOnXpToo, false },
        { "a name ending in a dot", victim + ".", "", kDebugger, kOnXpToo, false },
        { "a \".\" component", "C:\\orvex-tests\\.\\plain\\victim.exe", "", kDebugger, kOnXpToo, false },
        { "a \"..\" component", dir + "\\sub\\..\\victim.exe", "", kDebugger, kOnXpToo, false },
        { "forward slashes", "C:/orvex-tests/plain/victim.exe", "", kDebugger, kOnXpToo, false },
        { "a repeated separator", "C:\\orvex-tests\\plain\\\\victim.exe", "", kDebugger, kOnXpToo, false },
        { "a relative path", "victim.exe", "", kDebugger, kOnXpToo, false },
        { "a drive-relative path", "C:victim.exe", "", kDebugger, kOnXpToo, false },
        { "a device", dir + "\\NUL", "", kDebugger, kOnXpToo, false },
        { "a device with an extension", dir + "\\aux.exe", "", kDebugger, kOnXpToo, false },
        { "a serial port", windows + "\\COM1", "", kDebugger, kOnXpToo, false },
        { "a pipe", "\\\\.\\pipe\\orvex-hijack", "", kDebugger, kOnXpToo, false },
        { "a directory link on the way", dir + "\\j\\orvex-plain.exe", system + "\\orvex-plain.exe", kDebugger,
          kOnXpToo, false },
        { "a file link", dir + "\\sl.exe", victim, kDebugger, kOnXpToo, false },
        { "a second drive letter for the disk", secondName, victim, kDebugger, "", false },
        { "a link to another volume on the way", "C:" + elsewhere + "\\prog.exe", onZ, kDebugger, "", false },
        { "a short name", shortPlain, system + "\\orvex-plain.exe", kDebugger, kOnXpToo, false },
        { "a boot file", dir + "\\boot.ini", "", kDebugger, kOnXpToo, false },
        { "a loader", dir + "\\ntldr", "", kDebugger, kOnXpToo, false },
        { "a registry hive", dir + "\\software", "", kDebugger, kOnXpToo, false },
        { "the hosts file", dir + "\\hosts", "", kDebugger, kOnXpToo, false },
        { "a DLL", dir + "\\version.dll", "", kDebugger, kOnXpToo, false },
        { "a driver", dir + "\\mountmgr.sys", "", kDebugger, kOnXpToo, false },
        { "a native program", dir + "\\native.exe", "", kDebugger, kOnXpToo, false },
        { "an image that is not executable", dir + "\\unlinked.exe", "", kDebugger, kOnXpToo, false },
        { "a 64-bit program on 32-bit Windows", dir + "\\x64.exe", "", kDebugger, kOnXpToo, false },
        { "an x64 program on ARM64 Windows", dir + "\\x64.exe", dir + "\\x64.exe", kDebugger, kOnXpToo, false, kAsKind,
          true },
        { "a program Windows File Protection reports", dir + "\\protected.exe", "", kDebugger, kOnXpToo, false },
        { "a system32 program kept in dllcache", system + "\\orvex-kept.exe", "", kDebugger, kOnXpToo, false },
        { "the same by its short name", shortKept, "", kDebugger, kOnXpToo, false },
        { "one whose name has a 0x5C byte", system + "\\淺.exe", "", kDebugger, kOnXpToo, false },
        { "a Windows-directory program kept in dllcache", windows + "\\orvex-kept.exe", "", kDebugger, kOnXpToo, false },
        { "File Protection's own copy", dllcache + "\\orvex-kept.exe", "", kDebugger, kOnXpToo, false },
        { "one too long to look up in dllcache", longName, "", kDebugger, kOnXpToo, false },
        { "a system32 program not kept in dllcache", system + "\\orvex-plain.exe", system + "\\orvex-plain.exe",
          kDebugger, kOnXpToo, false },
        { "a program below system32", system + "\\drivers\\orvex-deep.exe", system + "\\drivers\\orvex-deep.exe",
          kDebugger, kOnXpToo, false },
        { "a type's command", hook + " \"%1\" %*", hook, kOpenCommand, kOnXpToo, false },
        { "a user's command, quoted", "\"" + hook + "\" \"%1\"", hook, kUserCommand, kOnXpToo, false },
        { "a command after spaces", "  " + hook + " %1", hook, kUserCommand, kOnXpToo, false },
        { "a command of %1 alone", "\"%1\" %*", "", kUserCommand, kOnXpToo, false },
        { "a command naming a DLL", dir + "\\version.dll %1", "", kOpenCommand, kOnXpToo, false },
        { "an AutoRun", hook + " /q", hook, kUserAutoRun, kOnXpToo, false },
        { "an AutoRun that takes the environment", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", hook, kUserAutoRun,
          kOnXpToo, false, kExpandable },
        { "an AutoRun of REG_SZ takes it too", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", hook, kUserAutoRun,
          kOnXpToo, false },
        { "a tab that ends an AutoRun's program", "%SystemDrive%\\orvex-tests\\plain\\hook.exe\t%ORVEXTEST%", hook,
          kUserAutoRun, kOnXpToo, false },
        { "a command takes it too", "%SystemDrive%\\orvex-tests\\plain\\hook.exe %1", hook, kUserCommand, kOnXpToo,
          false },
        { "a debugger does not", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", "", kDebugger, kOnXpToo, false },
        { "a program named without its extension", dir + "\\hook", hook, kDebugger, kOnXpToo, false },
        { "a \"%\" that CreateProcess takes as it is", dir + "\\%ORVEXTEST%\\hook.exe",
          dir + "\\%ORVEXTEST%\\hook.exe", kDebugger, kOnXpToo, false },
        { "a file without one, which CreateProcess never starts", dir + "\\bare", "", kDebugger, kOnXpToo, false },
        { "an earlier part with another extension", dir + "\\my.app dir\\evil.exe", "", kDebugger, kOnXpToo, false },
        { "a folder named like a program before a space", dir + "\\sp2.exe dir\\evil.exe",
          dir + "\\sp2.exe dir\\evil.exe", kDebugger, kOnXpToo, false },
        { "a command's program named without its extension", dir + "\\hook \"%1\"", hook, kUserCommand, kOnXpToo,
          false },
        { "a tab after a command's program", hook + "\t%1", hook, kUserCommand, kOnXpToo, false },
        { "a tab before it", "\t" + hook + " %1", hook, kUserCommand, kOnXpToo, false },
        { "a folder with a dot before a name without one", dir + "\\my.dir\\hook", dir + "\\my.dir\\hook.exe",
          kDebugger, kOnXpToo, false },
        { "a machine's AutoRun", hook + " /q", hook, kAutoRun, kOnXpToo, false },
        { "a user's primary verb's command", hook + " %1", hook, kUserPrimaryVerb, kOnXpToo, false },
        { "a primary verb's command", hook + " %1", hook, kPrimaryVerb, kOnXpToo, false },
        { "a delegate's server, another program's class", "\"" + hook + "\" -Embedding", "", kDelegateExecute, kOnXpToo,
          false },
        { "a delegate's in-process server", hook, "", kUserDelegateExecute, kOnXpToo, false },
        { "a crash debugger", "\"" + hook + "\" -p %ld -e %ld", hook, kCrashDebugger, kOnXpToo, false },
        { "a hang debugger", hook + " -p %ld", hook, kHangDebugger, kOnXpToo, false },
        { "a packaged app's debugger", hook + " -p", hook, kAppDebugger, kOnXpToo, false },
        { "a package's debugger", hook, hook, kPackageDebugger, kOnXpToo, false },
        { "DLLs loaded into every program", hook, "", kAppInitDlls, kOnXpToo, false },
        { "a DLL loaded into every program that starts one", hook, "", kAppCertDll, kOnXpToo, false },
        { "an extension's type", hook, "", kExtensionType, kOnXpToo, false },
        { "a user's extension type", hook, "", kUserExtensionType, kOnXpToo, false },
        { "a system variable, with the value Windows sets it from", "%ProgramFiles%\\hook.exe /q", hook, kUserAutoRun,
          kOnXpToo, false },
        { "a variable of this process's alone", "%ORVEXTEST%\\hook.exe /q", "", kUserAutoRun, kOnXpToo, false },
        { "a system variable this Windows does not define", "%ProgramFiles(x86)%\\hook.exe", "", kUserAutoRun, kOnXpToo,
          false },
        { "ProgramData, which XP has not", "%ProgramData%\\hook.exe", hook, kUserAutoRun, "", false },
        { "the all users' profile, where each Windows keeps it", "%ALLUSERSPROFILE%\\hook.exe", hook, kUserAutoRun,
          decoy + "\\hook.exe", false },
        { "an AutoRun's bare name: the first file of PATHEXT", dir + "\\tool /q", dir + "\\tool.com", kUserAutoRun,
          kOnXpToo, false },
        { "a script that PATHEXT finds first", dir + "\\script /q", "", kUserAutoRun, kOnXpToo, false },
        { "a PATHEXT of the user's logon session's own", dir + "\\tool /q", "", kUserAutoRun, kOnXpToo, false,
          kUsersOwnPathExt },
        { "windir, which the machine's environment sets as Windows does", "%windir%\\orvex-windir.exe",
          windows + "\\orvex-windir.exe", kUserAutoRun, kOnXpToo, false },
        { "a variable that the user's own environment sets again", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", "",
          kUserAutoRun, kOnXpToo, false, kUsersOwnVariable },
        { "the same of another user's", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", "", kUserAutoRun, kOnXpToo,
          false, kOthersVariable },
        { "the same of the machine's, otherwise", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", "", kUserAutoRun,
          kOnXpToo, false, kMachinesOwnVariable },
        { "a SystemRoot value that is not the running system's", "%SystemRoot%\\plain\\hook.exe", "", kUserAutoRun,
          kOnXpToo, false, kOtherSystemRoot },
        { "an AutoRun's bare relative name", "tool /q", "", kUserAutoRun, kOnXpToo, false },
        { "an operator of cmd.exe in the program's name", dir + "\\a&b.exe", "", kUserAutoRun, kOnXpToo, false },
        { "a caret, which cmd.exe takes away", dir + "\\a^b.exe", "", kUserAutoRun, kOnXpToo, false },
        { "an AutoRun's quoted program that goes on after its quote", "\"" + hook + "\"x /q", "", kUserAutoRun,
          kOnXpToo, false },
        { "a \"%\" in an AutoRun's quoted program", "\"" + dir + "\\50%\\hook.exe\" /q", "", kUserAutoRun, kOnXpToo,
          false },
        { "a machine's AutoRun's bare name that PATHEXT finds a script for", dir + "\\script /q", "", kAutoRun,
          kOnXpToo, false },
        { "an empty extension in PATHEXT", dir + "\\tool /q", "", kUserAutoRun, kOnXpToo, false, kEmptyPathExtEntry },
        { "an AutoRun of a file of another extension", dir + "\\my.app", "", kUserAutoRun, kOnXpToo, false },
        { "a user's primary verb whose command is the machine's", hook + " %1", "", kUserPrimaryVerb, kOnXpToo, false,
          kVerbInMachineClasses },
        { "a crash debugger's REG_EXPAND_SZ with a variable in its program", dir + "\\%ORVEXTEST%\\hook.exe -p %ld", "",
          kCrashDebugger, kOnXpToo, false, kExpandable },
        { "the same with none", hook + " -p %ld -e %ld", hook, kCrashDebugger, kOnXpToo, false, kExpandable },
        { "an assistive tool's program", hook, hook, kAssistiveTool, kOnXpToo, false },
        { "the same as a REG_EXPAND_SZ, which the broker expands", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", hook,
          kAssistiveTool, kOnXpToo, false, kExpandable },
        { "the same as a REG_SZ, which it may not expand", "%SystemDrive%\\orvex-tests\\plain\\hook.exe", "",
          kAssistiveTool, kOnXpToo, false },
        { "a variable after a space of its whole text", dir + "\\one two\\%ORVEXTEST%\\hook.exe", "", kAssistiveTool,
          kOnXpToo, false, kExpandable },
    };
    for (bool asOnXp : { false, true }) {
        g_asOnXp = asOnXp;
        std::unique_ptr<ImportHook> xp;
        if (asOnXp)
            xp.reset(new ImportHook("kernel32.dll", "GetVersion", reinterpret_cast<void*>(&VersionOfXp)));
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (asOnXp ? ", as on XP" : ""));
            const std::string queued = asOnXp && c.queuedOnXp != kOnXpToo ? c.queuedOnXp : c.queued;
            ResetHijacks();
            DeletePending();
            DeleteRegistryValue(L"HKCU\\Volatile Environment\\1", L"PATHEXT");
            for (const wchar_t* environment : { L"HKCU\\Environment", L"HKU\\.Default\\Environment",
                                                L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment" })
                DeleteRegistryValue(environment, L"SystemDrive");
            SetRegistryText(kWindowsNt, L"SystemRoot", systemRoot);
            if (c.otherValue)
                WritePending(otherProgramsValue, REG_SZ);
            for (const std::string& file : programs)
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
            for (const std::string& file : others)
                SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY);
            AddHijackOfKind(c.kind, L"a.exe", Widen(c.text));
            const std::pair<std::wstring, const wchar_t*> expandable =
                c.kind == kCrashDebugger   ? std::make_pair(std::wstring(kCrashDebuggerKey), L"Debugger")
                : c.kind == kAssistiveTool ? std::make_pair(std::wstring(kAssistiveToolsKey) + L"\\a.exe", L"StartExe")
                                           : std::make_pair(L"HKCU\\" + std::wstring(kCommandProcessorKey), L"AutoRun");
            if (c.planting == kExpandable)
                SetRegistryValue(expandable.first, expandable.second, REG_EXPAND_SZ, Widen(c.text).c_str(),
                                 static_cast<DWORD>((c.text.size() + 1) * sizeof(wchar_t)));
            if (c.planting == kVerbInMachineClasses) {
                DeleteRegistryTree(std::wstring(kUserClasses) + L"\\exefile\\shell\\evilverb");
                SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\evilverb\\command", L"", Widen(c.text));
            }
            const std::wstring environment = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
            const struct {
                Planting planting;
                std::wstring key;
                const wchar_t* name;
                const wchar_t* text;
            } settings[] = {
                { kUsersOwnPathExt, L"HKCU\\Volatile Environment\\1", L"PATHEXT", L".COM;.EXE" },
                { kUsersOwnVariable, L"HKCU\\Environment", L"SystemDrive", L"D:" },
                { kOthersVariable, L"HKU\\.Default\\Environment", L"SystemDrive", L"D:" },
                { kMachinesOwnVariable, environment, L"SystemDrive", L"D:" },
                { kEmptyPathExtEntry, environment, L"PATHEXT", L".;.COM;.EXE" },
            };
            SetRegistryText(environment, L"PATHEXT", L".COM;.BAT;.EXE;.CMD");
            for (const auto& setting : settings) {
                if (c.planting == setting.planting)
                    SetRegistryText(setting.key, setting.name, setting.text);
            }
            if (c.planting == kOtherSystemRoot)
                SetRegistryText(kWindowsNt, L"SystemRoot", L"C:\\orvex-tests");
            ScanHijacks(m_window.list);
            ASSERT_EQ(1, m_window.list.GetItemCount());
            m_window.Select(0);
            {
                std::unique_ptr<ImportHook> arm64;
                if (c.onArm64)
                    arm64.reset(new ImportHook("kernel32.dll", "GetNativeSystemInfo", reinterpret_cast<void*>(&OnArm64)));
                ClearSelectedHijack(m_window.list);
            }
            EXPECT_EQ(Rows(), m_window.Rows()) << "the hijack is gone";
            EXPECT_EQ(!queued.empty() ? WideStrings({ L"\\??\\" + Widen(queued), L"", L"" })
                      : c.otherValue  ? otherProgramsValue
                                      : std::string(),
                      ReadPending());
            for (const std::string& file : programs) {
                bool reset = !queued.empty() && lstrcmpiA(file.c_str(), queued.c_str()) == 0;
                EXPECT_EQ(!reset, (GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) != 0) << file;
            }
            for (const std::string& file : others) {
                if (file != queued) {
                    EXPECT_NE(0u, GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY) << file;
                }
            }
            EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(connected.hEvent, 0))
                << "the pipe was opened";
        }
    }
    g_asOnXp = false;
    std::string capitalSystem = system;
    CharUpperA(&capitalSystem[0]);
    EXPECT_EQ(Widen(capitalSystem) + L"\\sfc.dll", g_loaded) << "sfc.dll comes from the system directory";

    SetCurrentDirectoryA(saved);
    SetRegistryText(kWindows, L"ProgramFilesDir", programFiles);
    SetRegistryText(kEnvironment, L"PATHEXT", pathExt);
    SetRegistryValue(kProfiles, L"ProgramData", REG_EXPAND_SZ, programData.c_str(), (programData.size() + 1) * 2);
    SetRegistryValue(kProfiles, L"ProfilesDirectory", REG_EXPAND_SZ, profiles.c_str(), (profiles.size() + 1) * 2);
    DeleteRegistryValue(kProfiles, L"AllUsersProfile");
    for (const char* variable : { "ProgramFiles", "ProgramFiles(x86)", "ORVEXTEST" })
        SetEnvironmentVariableA(variable, nullptr);
    DeleteRegistryValue(L"HKCU\\Environment", L"PATHEXT");
    CloseHandle(connected.hEvent);
    CloseHandle(pipe);
    for (const std::string& file : programs) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
    }
    for (const std::string& file : copies)
        DeleteFileA(file.c_str());
    RemoveDirectoryA(dllcache.c_str());
    DeleteFileA(onZ.c_str());
    RemoveDirectoryA(("Z:" + elsewhere).c_str());
}

// The publisher column says who signed the program a row names; a program
// that a publisher of the machine's own roots signed is never queued, but
// one of a root the user may have added is. No catalog of Wine's lists a
// file.
TEST_F(HijackScan, SaysWhoSignedEachProgramAndNeverQueuesATrustedOne)
{
    const SignedPrograms& programs = Signed();
    const std::string dir = FreshDirectory("publishers");
    WriteProgram(dir + "\\plain.exe");
    WriteProgram(dir + "\\held.exe");
    WriteBytes(dir + "\\text.exe", "text");
    ASSERT_TRUE(CopyFileA(Expand("%SystemRoot%\\system32\\version.dll").c_str(), (dir + "\\version.dll").c_str(), FALSE));
    HANDLE held = CreateFileA((dir + "\\held.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    struct Case {
        const char* what;
        HijackKind kind;
        std::string file;
        std::wstring publisher;
        Queueing queueing;
        bool unknownDigests = false;
        Catalogs catalogs = kWinesCatalogs;
        std::wstring asked = L"";  // the hash's algorithm, of a catalog
        LONG answer = ERROR_SUCCESS;  // WinVerifyTrust's, in place of Wine's
    } cases[] = {
        { "a publisher of the machine's roots", kDebugger, programs.trusted, L"Orvex Test Publisher a", kTrustedPublisher },
        { "a root that no store holds, as Windows answers", kDebugger, programs.trusted,
          L"Orvex Test Publisher a (不受信任)", kQueued, false, kWinesCatalogs, L"", CERT_E_UNTRUSTEDROOT },
        { "a root that only the user's store holds", kDebugger, programs.userTrusted, L"Orvex Test Publisher b (不受信任)",
          kQueued },
        { "changed after signing", kDebugger, programs.tampered, L"签名无效", kQueued },
        { "no signature", kDebugger, dir + "\\plain.exe", L"未签名", kQueued },
        { "no such file", kDebugger, dir + "\\missing.exe", L"文件不存在", kNoSuchFile },
        { "no such folder", kDebugger, dir + "\\none\\x.exe", L"文件不存在", kNoSuchFile },
        { "no program at all", kDebugger, dir + "\\text.exe", L"未签名", kNotAProgram },
        { "a DLL", kVerifierDlls, dir + "\\version.dll", L"未签名", kLoadedDll },
        { "a DLL named without its extension", kVerifierDlls, dir + "\\version", L"未签名", kLoadedDll },
        { "a list of DLLs", kAppInitDlls, dir + "\\version.dll " + dir + "\\x.dll", L"", kNotPlainPath },
        { "a DLL that every starting program loads, by a variable", kAppCertDll, "%SystemRoot%\\x.dll", L"",
          kUnknownVariable },
        { "a file that cannot be opened", kDebugger, dir + "\\held.exe", L"无法验证", kUnreadableFile },
        { "a digest this Windows cannot check", kDebugger, programs.trusted, L"无法验证", kQueued, true },
        { "listed by a catalog, by its SHA-256 hash", kDebugger, dir + "\\plain.exe", L"Orvex Test Publisher a", kTrustedPublisher,
          false, kCatalogSha256, L"SHA256" },
        { "listed by a catalog, by its SHA-1 hash as on XP", kDebugger, dir + "\\plain.exe", L"Orvex Test Publisher a",
          kTrustedPublisher, false, kCatalogSha1, L"SHA1" },
    };
    ImportHook lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
    ASSERT_TRUE(lookup.Installed());
    g_getProcAddress = lookup.Original();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetHijacks();
        DeletePending();
        AddHijackOfKind(c.kind, L"a.exe", Widen(c.file));
        g_unknownDigests = c.unknownDigests;
        g_trustAnswer = c.answer;
        g_catalogs = c.catalogs;
        g_catalogAsked.clear();
        const std::vector<FoundSetting> found = FoundSettings();
        ASSERT_EQ(1u, found.size());
        EXPECT_EQ(c.publisher, found[0].publisher);
        EXPECT_EQ(std::vector<Queueing>{ c.queueing }, found[0].queueing);
        std::wstring tag;
        for (int i = 0; i < (c.catalogs == kCatalogSha256 ? 32 : 20); ++i)
            tag += L"AB";
        if (c.catalogs != kWinesCatalogs) {
            EXPECT_EQ(c.asked + L" " + tag + L" C:\\windows\\system32\\catroot\\orvex.cat " + Widen(c.file),
                      g_catalogAsked);
        }
        ScanHijacks(m_window.list);
        m_window.Select(0);
        ClearSelectedHijack(m_window.list);
        g_unknownDigests = false;
        g_trustAnswer = ERROR_SUCCESS;
        g_catalogs = kWinesCatalogs;
        EXPECT_EQ(c.queueing == kQueued ? WideStrings({ L"\\??\\" + Widen(c.file), L"", L"" }) : std::string(),
                  ReadPending());
    }
    CloseHandle(held);

    // A file is checked once in a scan, by whatever name; large ones are
    // hashed within a bound for the whole scan (here sparse files).
    ResetHijacks();
    char shortName[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(programs.trusted.c_str(), shortName, MAX_PATH));
    ASSERT_STRNE(programs.trusted.c_str(), shortName);
    AddHijack("a.exe", programs.trusted);
    AddHijack("b.exe", shortName);
    g_fileVerifications = 0;
    EXPECT_EQ(2u, FoundSettings().size());
    EXPECT_EQ(1, g_fileVerifications);
    // ... but what a text starts, apart for the path in quotes and without:
    // unquoted, an earlier program starts, and the text names no file.
    ResetHijacks();
    CreateDirectoryA((dir + "\\sp ace").c_str(), nullptr);
    WriteProgram(dir + "\\sp.exe");
    WriteProgram(dir + "\\sp ace\\after.exe");
    AddHijack("a.exe", dir + "\\sp ace\\after.exe");
    AddHijack("b.exe", "\"" + dir + "\\sp ace\\after.exe\"");
    std::vector<Queueing> queueing;
    std::vector<std::wstring> publishers;
    for (const FoundSetting& found : FoundSettings()) {
        queueing.insert(queueing.end(), found.queueing.begin(), found.queueing.end());
        publishers.push_back(found.publisher);
    }
    EXPECT_EQ((std::vector<Queueing>{ kNotPlainPath, kQueued }), queueing);
    EXPECT_EQ((std::vector<std::wstring>{ L"", L"未签名" }), publishers);
    // One file over 256 MiB is not hashed at all.
    ResetHijacks();
    for (const char* name : { "a.exe", "b.exe", "c.exe" }) {
        HANDLE large = CreateFileA((dir + "\\large-" + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        SetFilePointer(large, (name[0] == 'a' ? 257 : 200) << 20, nullptr, FILE_BEGIN);
        SetEndOfFile(large);
        CloseHandle(large);
        AddHijack(name, dir + "\\large-" + name);
    }
    std::vector<std::wstring> verdicts;
    for (const FoundSetting& found : FoundSettings())
        verdicts.push_back(found.publisher);
    EXPECT_EQ((std::vector<std::wstring>{ L"无法验证", L"未签名", L"无法验证" }), verdicts);
    for (const char* name : { "a.exe", "b.exe", "c.exe" })
        DeleteFileA((dir + "\\large-" + name).c_str());
}

// How a planted program's version resource is made: as the stand-in is
// built (its one resource the version block), or otherwise, where
// Windows' own reader finds no name, or finds it still.
enum Made { kAsBuilt, kRootKeyRenamed, kKeyInCapitals, kAnotherType, kPastItsSection, kStringPastItsTable, kHeld };

void ChangeVersionResource(std::string& program, Made made)
{
    const auto get = [&](size_t at) {
        DWORD value = 0;
        std::memcpy(&value, &program[at], sizeof(value));
        return value;
    };
    const auto put = [&](size_t at, DWORD value) { std::memcpy(&program[at], &value, sizeof(value)); };
    const auto find = [&](const std::wstring& key) {
        return program.find(std::string(reinterpret_cast<const char*>(key.data()), key.size() * sizeof(wchar_t)));
    };
    IMAGE_NT_HEADERS32 nt;
    std::memcpy(&nt, &program[get(offsetof(IMAGE_DOS_HEADER, e_lfanew))], sizeof(nt));
    const DWORD resources = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_RESOURCE].VirtualAddress;
    IMAGE_SECTION_HEADER section = {};
    for (size_t at = get(offsetof(IMAGE_DOS_HEADER, e_lfanew)) + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                     nt.FileHeader.SizeOfOptionalHeader;
         section.VirtualAddress != resources; at += sizeof(section))
        std::memcpy(&section, &program[at], sizeof(section));
    // The type's entry, and the first entry below it at each level.
    const size_t root = section.PointerToRawData;
    const size_t type = root + sizeof(IMAGE_RESOURCE_DIRECTORY);
    const size_t names = root + (get(type + 4) & 0x7FFFFFFF) + sizeof(IMAGE_RESOURCE_DIRECTORY);
    const size_t languages = root + (get(names + 4) & 0x7FFFFFFF) + sizeof(IMAGE_RESOURCE_DIRECTORY);
    const size_t data = root + get(languages + 4);
    ASSERT_EQ(16u, get(type));
    const size_t original = find(L"OriginalFilename");
    ASSERT_NE(std::string::npos, original);
    const std::wstring capitals = L"ORIGINALFILENAME";
    switch (made) {
    case kRootKeyRenamed: program[find(L"VS_VERSION_INFO") + 28] = 'X'; break;
    case kKeyInCapitals: program.replace(original, capitals.size() * 2, reinterpret_cast<const char*>(capitals.data()),
                                         capitals.size() * 2);
        break;
    case kAnotherType: put(type, 10); break;  // RT_RCDATA
    case kPastItsSection: put(data + 4, section.SizeOfRawData - (get(data) - section.VirtualAddress) + 2); break;
    case kStringPastItsTable: {
        WORD length = 0;  // the String's, the last of its table
        std::memcpy(&length, &program[original - 6], sizeof(length));
        length = static_cast<WORD>(length + 8);
        std::memcpy(&program[original - 6], &length, sizeof(length));
        break;
    }
    default: break;
    }
}

// An accessibility program that the logon screen starts is listed when its
// version block names another program, or none: Windows' own names for it
// (in any case, a ".MUI" after one) and a file that is not there are no
// row. The clears have Windows restore it, by sfc.exe /SCANFILE, or on XP
// from the copy in dllcache that names it and that a publisher of the
// machine's roots signed, and never queue it; a file still replaced keeps
// its row, and the user is told.
TEST_F(HijackScan, FindsAnAccessibilityProgramThatIsAnotherAndRestoresIt)
{
    const std::string system = Expand("%systemroot%\\system32");
    const std::string genuine = FreshDirectory("genuine");
    CreateDirectoryA((system + "\\dllcache").c_str(), nullptr);
    WriteVersionedProgram(system + "\\sfc.exe", L"");
    enum Copy { kNoCopy, kGenuine, kUnsigned, kAnother };
    struct Case {
        const char* what;
        std::string file;
        std::wstring name;   // its version block's, "" for none
        std::wstring shown;  // the name its row shows, "" for no row
        bool asOnXp = false;
        Copy copy = kNoCopy;  // sfc's, or on XP dllcache's
        Made made = kAsBuilt;
    } cases[] = {
        { "a copy of another program", "sethc.exe", L"Cmd.Exe", L"Cmd.Exe", false, kGenuine },
        { "no version block, and no genuine copy", "osk.exe", L"", L"(无版本信息)" },
        { "Windows' other name, in any case", "utilman.exe", L"UTILMAN2.EXE", L"" },
        { "a name with .MUI after it", "Magnify.exe", L"ScreenMagnifier.exe.MUI", L"" },
        { "Narrator's other name", "Narrator.exe", L"SR.exe", L"" },
        { "keys in any case", "sethc.exe", L"sethc.exe", L"", false, kNoCopy, kKeyInCapitals },
        { "a block whose root is another", "sethc.exe", L"sethc.exe", L"(无版本信息)", false, kNoCopy, kRootKeyRenamed },
        { "a block of another resource type", "sethc.exe", L"sethc.exe", L"(无版本信息)", false, kNoCopy, kAnotherType },
        { "a block past its section", "sethc.exe", L"sethc.exe", L"(无版本信息)", false, kNoCopy, kPastItsSection },
        { "a text past its table", "sethc.exe", L"sethc.exe", L"(无版本信息)", false, kNoCopy, kStringPastItsTable },
        { "a file that cannot be read", "sethc.exe", L"Cmd.Exe", L"(无版本信息)", false, kNoCopy, kHeld },
        { "on XP, a program XP lacks", "DisplaySwitch.exe", L"Cmd.Exe", L"", true },
        { "on XP, from dllcache", "sethc.exe", L"Cmd.Exe", L"Cmd.Exe", true, kGenuine },
        { "on XP, not from an unsigned copy", "sethc.exe", L"Cmd.Exe", L"Cmd.Exe", true, kUnsigned },
        { "on XP, not from a signed copy of another program", "sethc.exe", L"Cmd.Exe", L"Cmd.Exe", true, kAnother },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = system + "\\" + c.file;
        const std::string copy = (c.asOnXp ? system + "\\dllcache\\" : genuine + "\\") + c.file;
        for (const Case& planted : cases) {
            for (const char* in : { "\\", "\\dllcache\\" })
                DeleteFileA((system + in + planted.file).c_str());
        }
        const std::wstring own = c.file == "sethc.exe" ? L"sethc.exe" : L"osk.exe";
        WriteVersionedProgram(path, c.name);
        std::string planted = ReadBytes(path);
        if (c.made != kAsBuilt && c.made != kHeld) {
            ChangeVersionResource(planted, c.made);
            WriteBytes(path, planted);
        }
        HANDLE held = c.made == kHeld ? CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                      : INVALID_HANDLE_VALUE;
        WriteVersionedProgram(genuine + "\\unsigned.exe", own);
        const std::string copied = c.copy == kGenuine    ? SignedCopy(genuine + "\\unsigned.exe")
                                   : c.copy == kAnother ? Signed().trusted
                                                        : genuine + "\\unsigned.exe";
        if (c.copy != kNoCopy) {
            ASSERT_TRUE(CopyFileA(copied.c_str(), copy.c_str(), FALSE));
        }
        DeleteFileA("C:\\orvex-tests\\sfc.log");
        std::unique_ptr<ImportHook> xp;
        if (c.asOnXp)
            xp.reset(new ImportHook("kernel32.dll", "GetVersion", reinterpret_cast<void*>(&VersionOfXp)));
        const std::vector<FoundSetting> found = FoundSettings();
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        ASSERT_EQ(c.shown.empty() ? 0u : 1u, found.size());
        if (!c.shown.empty()) {
            EXPECT_EQ(kReplacedAccessibility, found[0].kind);
            EXPECT_EQ(Widen(path), found[0].text);
            EXPECT_EQ(c.shown, found[0].target);
            EXPECT_EQ(c.made == kHeld ? L"无法验证" : L"未签名", found[0].publisher);
            EXPECT_EQ(std::vector<Queueing>{ kRestoredInstead }, found[0].queueing);
            ScanHijacks(m_window.list);
            m_window.Select(0);
            ClearSelectedHijack(m_window.list);
            const bool restored = c.copy == kGenuine;
            EXPECT_EQ(restored ? 0 : 1, m_window.list.GetItemCount());
            EXPECT_EQ(restored ? ReadBytes(copied) : planted, ReadBytes(path)) << "a copy that fails a test was written";
            EXPECT_EQ(restored ? std::vector<std::string>() : std::vector<std::string>{ "文件: " + path + "\n无法恢复" },
                      g_messages);
            g_messages.clear();
            EXPECT_EQ(c.asOnXp ? "(missing)" : "/SCANFILE=" + path + "\n", ReadBytes("C:\\orvex-tests\\sfc.log"));
            EXPECT_EQ(std::string(), ReadPending());
        }
        for (const std::string& file : { path, copy })
            DeleteFileA(file.c_str());
    }
    DeleteFileA((system + "\\sfc.exe").c_str());
}

// Where ntdll has its reader of image options, Windows' own answer is
// what is listed, whatever the registry holds.
TEST_F(HijackScan, ReadsWithNtdllsOwnReaderWhereThereIsOne)
{
    SetRegistryValue(ImageOptionPath(L"a.exe"), L"debugger", REG_EXPAND_SZ, L"x", 4);
    SetRegistryText(ImageOptionPath(L"a.exe"), L"VerifierDlls", L"v.dll");
    ImportHook reader("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
    ASSERT_TRUE(reader.Installed());
    g_getProcAddress = reader.Original();
    g_systemReader = true;
    const Found found = FoundHijacks();
    g_systemReader = false;
    EXPECT_EQ((Found{ { L"a.exe [验证DLL]", L"VerifierDlls from ntdll" }, { L"a.exe", L"debugger from ntdll" } }), found);
    EXPECT_EQ(0, lstrcmpiW((L"\\REGISTRY\\MACHINE\\" + ImageOptionPath(L"a.exe")).c_str(), g_readerKey.c_str()))
        << "asked about another key";
}

// On 64-bit Windows (run by restart_test.sh in a 64-bit prefix) laid out
// as Windows 7 and later lay it out, a setting of a key that both registry
// views share is one row; a user's command queues the file that each side
// would start. After a look at the native files, this thread sees the
// 32-bit system directory again when sfc.dll loads, so that the 32-bit DLL
// answers and a protected program is kept.
TEST_F(HijackScan, DISABLED_OnWow64ListsEachSettingOnceAndQueuesWhatEachSideStarts)
{
    const std::wstring classes = kMachineClasses;
    const std::wstring wow64Classes = classes + L"\\Wow6432Node";
    const std::wstring processor = kCommandProcessorKey;
    const std::wstring wow64Processor = L"SOFTWARE\\Wow6432Node\\Microsoft\\Command Processor";
    const std::wstring crash = kCrashDebuggerKey;
    const std::wstring wow64Exits = L"SOFTWARE\\Wow6432Node" + Widen(kSilentExitKey).substr(8);
    struct Layout {
        const char* what;
        std::function<void()> plant;
        size_t rows = 1;
    } layouts[] = {
        { "IFEO shared, no SilentProcessExit of the 32-bit view's own",
          [] {
              RegDeleteKeyExW(HKEY_LOCAL_MACHINE, Widen(kSilentExitKey).c_str(), KEY_WOW64_32KEY, 0);
              AddHijack("one.exe", "C:\\one.exe");
          } },
        { "the 32-bit view's exefile a link to the native one",
          [&] {
              DeleteRegistryTree(wow64Classes + L"\\exefile");
              CreateRegistryLink(wow64Classes + L"\\exefile", classes + L"\\exefile", KEY_WOW64_64KEY);
              SetRegistryText(classes + L"\\exefile\\shell\\open\\command", L"", L"C:\\evil.exe", KEY_WOW64_64KEY);
          } },
        { "the 32-bit view's command processor a link to the native one",
          [&] {
              DeleteRegistryTree(wow64Processor);
              CreateRegistryLink(wow64Processor, processor, KEY_WOW64_64KEY);
              SetRegistryText(processor, L"AutoRun", L"C:\\auto.exe", KEY_WOW64_64KEY);
          } },
        { "a filter's flag turns on the 32-bit view's own monitor",
          [&] {
              SetRegistryDword(ImageOptionPath(L"mon.exe"), L"UseFilter", 1, KEY_WOW64_64KEY);
              SetRegistryDword(ImageOptionPath(L"mon.exe") + L"\\f", L"GlobalFlag", 0x200, KEY_WOW64_64KEY);
              SetRegistryDword(wow64Exits + L"\\mon.exe", L"ReportingMode", 1, KEY_WOW64_64KEY);
              SetRegistryText(wow64Exits + L"\\mon.exe", L"MonitorProcess", L"C:\\monitor.exe", KEY_WOW64_64KEY);
          } },
        { "the native crash debugger key a link to the 32-bit view's own",
          [&] {
              RegDeleteKeyExW(HKEY_LOCAL_MACHINE, crash.c_str(), KEY_WOW64_64KEY, 0);
              SetRegistryText(crash, L"Debugger", L"C:\\wow.exe", KEY_WOW64_32KEY);
              CreateRegistryLink(crash, L"SOFTWARE\\Wow6432Node" + crash.substr(8), KEY_WOW64_64KEY);
          },
          2 },
        { "a filter's debugger of the shared key", [] { AddHijackOfKind(kFilterDebugger, L"f.exe", L"C:\\f.exe"); } },
        { "an assistive tool of the 32-bit view's own, which no broker reads",
          [] { SetRegistryText(std::wstring(kAssistiveToolsKey) + L"\\osk", L"StartExe", L"C:\\evil.exe", KEY_WOW64_32KEY); },
          0 },
        { "Dr. Watson's text is Windows' own where its side's system directory holds it",
          [&] {
              {
                  NativeFileSystem native;
                  WriteProgram(Expand("%systemroot%\\system32\\drwtsn32.exe"));
              }
              for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
                  SetRegistryText(crash, L"Debugger", L"drwtsn32 -p %ld -e %ld -g", view);
          } },
    };
    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.what);
        for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
            ResetHijacks(view);
        layout.plant();
        EXPECT_EQ(layout.rows, FoundHijacks().size());
        ScanHijacks(m_window.list);
        if (layout.rows > 0)
            ClearAllHijacks(m_window.list);
        EXPECT_EQ(Rows(), m_window.Rows());
    }
    DeleteRegistryTree(wow64Classes + L"\\exefile");
    DeleteRegistryTree(wow64Processor);
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
        ResetHijacks(view);
    // A subkey of the shared key that nothing here can read is one finding.
    AddHijack("locked.exe", "C:\\l.exe");
    Lock("locked.exe");
    EXPECT_EQ((Found{ { L"locked.exe [无法读取]", L"" } }), FoundHijacks());
    Unlock("locked.exe");
    m_locked.clear();
    ResetHijacks();
    {
        NativeFileSystem native;
        DeleteFileA(Expand("%systemroot%\\system32\\drwtsn32.exe").c_str());
    }

    const std::string inSystem = "C:\\windows\\system32\\orvex-x.exe";
    const std::string inWow64 = "C:\\windows\\syswow64\\orvex-x.exe";
    WriteProgram(inWow64);
    {
        NativeFileSystem native;
        WriteProgram(inSystem);
    }
    AddHijackOfKind(kUserCommand, L"", Widen(inSystem) + L" \"%1\"");
    // The publisher of each file, the native one's first; equal verdicts once.
    EXPECT_EQ(L"未签名", FoundSettings().at(0).publisher);
    const std::string signedProgram = Signed().trusted;
    {
        NativeFileSystem native;
        ASSERT_TRUE(CopyFileA(signedProgram.c_str(), inSystem.c_str(), FALSE));
    }
    EXPECT_EQ(L"Orvex Test Publisher a | 未签名 [32位]", FoundSettings().at(0).publisher);
    {
        NativeFileSystem native;
        WriteProgram(inSystem);
    }
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(inSystem), L"", L"\\??\\" + Widen(inWow64), L"", L"" }), ReadPending());
    // A file outside the redirected folders is one for both sides.
    DeletePending();
    const std::string outside = FreshDirectory("both") + "\\both.exe";
    WriteProgram(outside);
    AddHijackOfKind(kUserCommand, L"", Widen(outside) + L" \"%1\"");
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(outside), L"", L"" }), ReadPending());

    // Each view's cmd.exe expands the system's variables as a process of its
    // own bitness sees them: ProgramFiles is the native folder for the
    // native one, the x86 folder for the 32-bit one.
    DeletePending();
    const std::string forNative = "C:\\Program Files\\orvex\\app.exe";
    const std::string forWow64 = "C:\\Program Files (x86)\\orvex\\app.exe";
    for (const std::string& app : { forNative, forWow64 }) {
        CreateDirectoryA(app.substr(0, app.rfind('\\')).c_str(), nullptr);
        WriteProgram(app);
    }
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY })
        SetRegistryText(processor, L"AutoRun", L"\"%ProgramFiles%\\orvex\\app.exe\" /q", view);
    ScanHijacks(m_window.list);
    ASSERT_EQ(2, m_window.list.GetItemCount());
    for (int row = 0; row < 2; ++row) {
        m_window.Select(0);
        ClearSelectedHijack(m_window.list);
    }
    EXPECT_EQ(WideStrings({ L"\\??\\" + Widen(forWow64), L"", L"\\??\\" + Widen(forNative), L"", L"" }), ReadPending());

    // A 32-bit program reaches the native sfc.exe through Sysnative, and it
    // restores the native accessibility program.
    const std::string sethc = "C:\\windows\\system32\\sethc.exe";
    WriteVersionedProgram(FreshDirectory("genuine") + "\\sethc.exe", L"sethc.exe");
    {
        NativeFileSystem native;  // a 64-bit program's block, where its headers keep it
        ASSERT_TRUE(CopyFileA("C:\\windows\\system32\\explorer.exe", sethc.c_str(), FALSE));
    }
    ASSERT_EQ(1u, FoundSettings().size());
    EXPECT_EQ(L"explorer.exe", FoundSettings().at(0).target);
    {
        NativeFileSystem native;
        WriteVersionedProgram(sethc, L"Cmd.Exe");
        WriteVersionedProgram("C:\\windows\\system32\\sfc.exe", L"");
    }
    ScanHijacks(m_window.list);
    ASSERT_EQ(1, m_window.list.GetItemCount());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(0, m_window.list.GetItemCount());
    EXPECT_EQ("/SCANFILE=" + sethc + "\n", ReadBytes("C:\\orvex-tests\\sfc.log"));
    {
        NativeFileSystem native;
        for (const char* name : { "sethc.exe", "sfc.exe" })
            DeleteFileA(("C:\\windows\\system32\\" + std::string(name)).c_str());
    }

    DeletePending();
    const std::string program = FreshDirectory("wow64") + "\\protected.exe";
    WriteProgram(program);
    g_sfcProtected = Widen(program);
    ImportHook sfc("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
    ImportHook load("kernel32.dll", "LoadLibraryW", reinterpret_cast<void*>(&RecordLoadLibrary));
    ASSERT_TRUE(sfc.Installed() && load.Installed());
    g_getProcAddress = sfc.Original();
    g_loadLibrary = load.Original();
    g_loaded.clear();
    AddHijack("a.exe", program);
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(L"C:\\windows\\system32\\sfc.dll", g_loaded);
    EXPECT_EQ(L"\\windows\\syswow64", g_systemSeenAtLoad);
    EXPECT_EQ(std::string(), ReadPending()) << "the protected program was queued";
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

// A subkey that is a link to another program's key, an image's, a
// filter's, or a user's file type: Windows follows it, so it is listed; the
// clear removes the link, never that program's setting, and queues nothing.
// A link is known as itself, also when the key it leads to refuses to be
// read (its subkeys still open through it).
TEST_F(HijackScan, ClearsALinkedSubkeyByRemovingTheLinkAlone)
{
    const std::string program = FreshDirectory("linked") + "\\vendor-debugger.exe";
    WriteProgram(program);
    const std::wstring target = L"SOFTWARE\\Orvex tests\\Vendor";
    const std::wstring image = ImageOptionPath(L"vendor.exe");
    const std::wstring machine = kMachineClasses;
    const std::wstring command = L"\\shell\\open\\command";
    const wchar_t kRefusesReading[] = L"D:(D;;0x1;;;WD)(A;;KA;;;WD)";
    struct Case {
        const char* what;
        std::wstring link;
        std::wstring to;  // below the vendor's key
        std::string shown;
        std::wstring left;  // the command below the link afterwards: gone, or Windows' own
        const char* refuses = nullptr;  // the key the link leads to refuses reading: its primary verb's row
        bool stays = false;    // the link refuses to be deleted, or (`security`) to be looked at
        const wchar_t* security = nullptr;  // the link's own access list
    } cases[] = {
        { "the image's subkey", image, L"", "vendor.exe", L"(missing)" },
        { "a filter's subkey", image + L"\\f", L"", "vendor.exe [按路径]", L"(missing)" },
        { "a user's file type", std::wstring(kUserClasses) + L"\\exefile", L"", "exefile 打开命令 [当前用户]", L"(missing)" },
        { "the user's command processor", L"HKCU\\" + std::wstring(kCommandProcessorKey), L"", "命令提示符 AutoRun [当前用户]",
          L"(missing)" },
        { "the machine's command of a type", machine + L"\\exefile" + command, command, "exefile 打开命令", L"1:\"%1\" %*" },
        { "a user's verbs, led to a key that refuses reading", std::wstring(kUserClasses) + L"\\exefile\\shell",
          L"\\shell", "exefile 打开命令 [当前用户]", L"(missing)", "exefile 默认动作 [当前用户] [无法读取]" },
        { "a machine's verbs, the same", machine + L"\\comfile\\shell", L"\\shell", "comfile 打开命令",
          L"1:\"%1\" %*", "comfile 默认动作 [无法读取]" },
        { "a link that refuses to go", machine + L"\\exefile" + command, command, "exefile 打开命令", L"", nullptr, true },
        { "an image's link that refuses to go", image, L"", "vendor.exe", L"", nullptr, true },
        { "a link that refuses reading", image, L"", "vendor.exe", L"(missing)", nullptr, false,
          L"D:P(D;;0x1;;;WD)(A;;KA;;;WD)" },
        { "a link that refuses reading and naming itself", image, L"", "vendor.exe", L"", nullptr, true,
          L"D:P(D;;0x1;;;WD)(A;;KA;;;WD)" },
        { "the key above a setting's own", L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting", L"",
          "程序无响应时的调试器", L"(missing)" },
        { "the user's packaged classes", std::wstring(kUserClasses) + L"\\ActivatableClasses", L"",
          "P 应用的调试器 [当前用户]", L"(missing)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetHijacks();
        SetRegistryText(target, L"debugger", Widen(program));
        SetRegistryText(target, L"FilterFullPath", L"C:\\app\\vendor.exe");
        SetRegistryText(target, L"AutoRun", Widen(program));
        SetRegistryText(target + command, L"", Widen(program));
        SetRegistryText(target + L"\\Hangs", L"Debugger", Widen(program));
        SetRegistryText(target + L"\\Package\\P\\DebugInformation\\App", L"DebugPath", Widen(program));
        if (c.link != image)
            SetRegistryDword(image, L"UseFilter", 1);
        DeleteRegistryTree(c.link);
        CreateRegistryLink(c.link, target + c.to);
        if (c.refuses)
            SetKeySecurity(target + c.to, kRefusesReading);
        if (c.security != nullptr)
            SetKeySecurity(c.link, c.security, true);
        ScanHijacks(m_window.list);
        Rows listed{ { c.shown, program } };
        if (c.refuses != nullptr)
            listed.push_back({ c.refuses, "" });
        EXPECT_EQ(listed, m_window.Rows());
        m_window.Select(0);
        {
            ImportHook lookup("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeGetProcAddress));
            g_getProcAddress = lookup.Original();
            g_refuseKeyDeletion = c.stays && c.security == nullptr;
            g_hideKeyNames = c.stays && c.security != nullptr;
            ClearSelectedHijack(m_window.list);
            g_refuseKeyDeletion = false;
            g_hideKeyNames = false;
        }
        EXPECT_EQ(c.stays ? (Rows{ { c.shown, program } }) : Rows(), m_window.Rows());
        if (c.stays) {
            SetKeySecurity(c.link, L"D:(A;;KA;;;WD)", true);
            DeleteRegistryTree(c.link);
        }
        else
            EXPECT_EQ(c.left, c.left == L"(missing)" ? KeyValues(c.link)[0]
                                                     : RegistryText(c.link + command.substr(c.to.size()), L""));
        if (c.refuses)
            SetKeySecurity(target + c.to, L"D:(A;;KA;;;WD)");
        EXPECT_EQ((std::vector<std::wstring>{ L"AutoRun", L"debugger", L"FilterFullPath" }), KeyValues(target));
        const std::pair<const wchar_t*, const wchar_t*> kept[] = {
            { L"\\shell\\open\\command", L"" }, { L"\\Hangs", L"Debugger" },
            { L"\\Package\\P\\DebugInformation\\App", L"DebugPath" } };
        for (const auto& value : kept)
            EXPECT_EQ(L"1:" + Widen(program), RegistryText(target + value.first, value.second));
        EXPECT_EQ(std::string(), ReadPending());
    }
    EXPECT_EQ(std::vector<std::wstring>{ L"UseFilter" }, KeyValues(image)) << "the image's other values went";

    // What a setting leads to through a link is another key's: a primary
    // verb whose verb is a link goes, and queues nothing.
    ResetHijacks();
    SetRegistryText(machine + L"\\exefile\\shell", L"", L"evilverb");
    CreateRegistryLink(machine + L"\\exefile\\shell\\evilverb", target + L"\\shell\\open");
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "exefile 默认动作", "evilverb" } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(L"(missing)", RegistryText(machine + L"\\exefile\\shell", L""));
    EXPECT_EQ(std::string(), ReadPending());
    // A machine's file type that is a link goes, whichever of its rows is
    // cleared first, and the type is made anew as Windows' own.
    ResetHijacks();
    SetRegistryText(target + L"\\CurVer", L"", L"vendorprog");
    CreateRegistryLink(machine + L"\\comfile", target);
    ScanHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "comfile 当前版本 (CurVer)", "vendorprog" }, { "comfile 打开命令", program } }), m_window.Rows());
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    for (const wchar_t* verb : { L"open", L"runas" })
        EXPECT_EQ(L"1:\"%1\" %*", RegistryText(machine + L"\\comfile\\shell\\" + verb + L"\\command", L"")) << verb;
    EXPECT_EQ(L"1:vendorprog", RegistryText(target + L"\\CurVer", L""));
    // piffile, a link: its open command is made anew, but no runas, which
    // Windows gives it not, nor the absent comfile.
    ResetHijacks();
    CreateRegistryLink(machine + L"\\piffile", target);
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(L"1:\"%1\" %*", RegistryText(machine + L"\\piffile\\shell\\open\\command", L""));
    EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(machine + L"\\piffile\\shell\\runas"));
    EXPECT_EQ(std::vector<std::wstring>{ L"(missing)" }, KeyValues(machine + L"\\comfile"));
    // AeDebug, a link, where Windows has Dr. Watson: once the link goes,
    // AeDebug is made anew with Dr. Watson's text.
    ResetHijacks();
    const std::string drWatson = Expand("%systemroot%\\system32\\drwtsn32.exe");
    WriteProgram(drWatson);
    DeleteRegistryTree(kCrashDebuggerKey);
    CreateRegistryLink(kCrashDebuggerKey, target + L"\\Hangs");
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    DeleteFileA(drWatson.c_str());
    EXPECT_EQ(L"1:drwtsn32 -p %ld -e %ld -g", RegistryText(kCrashDebuggerKey, L"Debugger"));
    EXPECT_EQ(L"1:" + Widen(program), RegistryText(target + L"\\Hangs", L"Debugger"));
    // An image's subkey led to a key that nobody reads: the link goes.
    ResetHijacks();
    CreateRegistryLink(image, target);
    SetKeyLocked("SOFTWARE\\Orvex tests\\Vendor", true);
    EXPECT_EQ((Found{ { L"vendor.exe [无法读取]", L"" } }), FoundHijacks());
    ScanHijacks(m_window.list);
    m_window.Select(0);
    ClearSelectedHijack(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    SetKeyLocked("SOFTWARE\\Orvex tests\\Vendor", false);
    EXPECT_EQ(L"1:" + Widen(program), RegistryText(target, L"debugger"));
    DeleteRegistryTree(target);

    // The user's verbs led to the machine's own, which refuse reading:
    // clearing every row they give leaves the machine's commands as they are.
    ResetHijacks();
    CreateRegistryLink(std::wstring(kUserClasses) + L"\\exefile\\shell", machine + L"\\exefile\\shell");
    SetKeySecurity(machine + L"\\exefile\\shell", kRefusesReading);
    ScanHijacks(m_window.list);
    EXPECT_EQ(4, m_window.list.GetItemCount()) << "the user's two commands, and each classes' unreadable shell key";
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    for (const wchar_t* verb : { L"open", L"runas" })
        EXPECT_EQ(L"1:\"%1\" %*", RegistryText(machine + L"\\exefile\\shell\\" + verb + L"\\command", L"")) << verb;
    // A plain key on the way that refuses reading is told by its path: the
    // command below it is set back.
    AddHijackOfKind(kOpenCommand, L"", Widen(program));
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ(Rows(), m_window.Rows());
    SetKeySecurity(machine + L"\\exefile\\shell", L"D:(A;;KA;;;WD)");
    EXPECT_EQ(L"1:\"%1\" %*", RegistryText(machine + L"\\exefile\\shell\\open\\command", L""));
}

// A user's classes that are the machine's own (a link there) hold no
// setting of the user's: nothing of the machine's is listed or removed.
// Classes that lead elsewhere are listed and left alone.
TEST_F(HijackScan, UserClassesThatAreTheMachinesHoldNoHijack)
{
    DeleteRegistryTree(kUserClasses);
    CreateRegistryLink(kUserClasses, kMachineClasses);
    EXPECT_EQ(Found(), FoundHijacks());
    // Led anywhere else, Windows reads them there, but no clear can tell
    // what it would change: nothing.
    const std::wstring elsewhere = L"HKCU\\Software\\Orvex tests classes";
    SetRegistryText(elsewhere + L"\\exefile\\shell\\open\\command", L"", L"C:\\x.exe");
    DeleteRegistryTree(kUserClasses);
    CreateRegistryLink(kUserClasses, elsewhere);
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "exefile 打开命令 [当前用户]", "C:\\x.exe" } }), m_window.Rows());
    EXPECT_EQ(L"1:C:\\x.exe", RegistryText(elsewhere + L"\\exefile\\shell\\open\\command", L""));
    HKEY user = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_ALL_ACCESS, &user));
    EXPECT_TRUE(DeleteKeyLink(user, L"Classes", 0));
    HKEY classes = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(user, L"Classes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &classes, nullptr));
    RegCloseKey(classes);
    RegCloseKey(user);
    DeleteRegistryTree(elsewhere);
    // Classes that refuse to be looked at: nothing below them can be told.
    AddHijackOfKind(kUserCommand, L"", L"C:\\x.exe");
    SetKeySecurity(kUserClasses, L"D:(D;;0x1;;;WD)(A;;KA;;;WD)");
    ScanHijacks(m_window.list);
    ClearAllHijacks(m_window.list);
    EXPECT_EQ((Rows{ { "exefile 打开命令 [当前用户]", "C:\\x.exe" } }), m_window.Rows());
    SetKeySecurity(kUserClasses, L"D:(A;;KA;;;WD)");
    // Nor is a verb's command read through them, the user's or the machine's
    // (nor the other's instead).
    for (HijackKind kind : { kUserPrimaryVerb, kPrimaryVerb }) {
        const std::wstring classes = kind == kUserPrimaryVerb ? kUserClasses : kMachineClasses;
        ResetHijacks();
        AddHijackOfKind(kind, L"", L"C:\\verb.exe");
        SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\evilverb\\command", L"", L"C:\\verb.exe");
        SetKeySecurity(classes, L"D:(D;;0x1;;;WD)(A;;KA;;;WD)");
        const std::vector<FoundSetting> found = FoundSettings();
        SetKeySecurity(classes, L"D:(A;;KA;;;WD)");
        ASSERT_EQ(1u, found.size());
        EXPECT_EQ(L"", found[0].target) << classes;
    }
}

LONG WINAPI RefuseKeySecurity(HKEY, SECURITY_INFORMATION, PSECURITY_DESCRIPTOR) { return ERROR_ACCESS_DENIED; }

// Windows runs a hijack that it can read: a subkey that malware left
// readable only is listed, and the clear takes it back for the
// administrators to remove the hijack. Where its security cannot be
// changed, the hijack stays listed, and its program is queued still. A
// subkey that allows the change keeps its owner and access list.
TEST_F(HijackScan, ListsAReadOnlySubkeyAndTakesItBackToClearIt)
{
    const std::string program = FreshDirectory("bad") + "\\one.exe";
    WriteProgram(program);
    struct Case {
        const char* what;
        const wchar_t* security;
        bool refused;          // the key's security cannot be changed
        const wchar_t* after;  // its security afterwards
    } cases[] = {
        // Taken back, it was SYSTEM's: the administrators own it and come
        // first, the entries it had follow. Windows lets the administrators
        // take a key with their privilege; Wine honours no privilege, so an
        // entry lets them here.
        { "taken back", L"O:SYD:P(A;;KR;;;WD)(A;;WO;;;WD)", false, L"O:BAD:(A;;KA;;;BA)(A;;KR;;;WD)(A;;WO;;;WD)" },
        { "cannot be changed", L"D:P(A;;KR;;;WD)", true, nullptr },
        { "allows the change", L"O:SYD:P(A;;KA;;;WD)", false, L"O:SYD:P(A;;KA;;;WD)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeletePending();
        AddHijack("a.exe", program);
        AddImageOption("a.exe", "\x01\0\0\0", 4, REG_DWORD, "GlobalFlag");
        SetKeySecurity(ImageOptionPath(L"a.exe"), c.security);
        ScanHijacks(m_window.list);
        EXPECT_EQ((Rows{ { "a.exe", program } }), m_window.Rows());
        m_window.Select(0);
        {
            std::unique_ptr<ImportHook> refuse;
            if (c.refused)
                refuse.reset(new ImportHook("advapi32.dll", "RegSetKeySecurity", reinterpret_cast<void*>(&RefuseKeySecurity)));
            ClearSelectedHijack(m_window.list);
        }
        const Rows listed = { { "a.exe", program } };
        EXPECT_EQ(c.refused ? listed : Rows(), m_window.Rows()) << "listed after the rescan";
        if (c.after != nullptr) {
            EXPECT_EQ(c.after, KeySecurity(ImageOptionPath(L"a.exe")));
        }
        SetKeyLocked(std::string(kImageOptionsKey) + "\\a.exe", false);
        const std::vector<std::string> kept = { "debugger", "GlobalFlag" };
        EXPECT_EQ(c.refused ? kept : std::vector<std::string>(kept.begin() + 1, kept.end()), ImageOptionValues("a.exe"));
        EXPECT_EQ(WideStrings({ L"\\??\\C:\\orvex-tests\\bad\\one.exe", L"", L"" }), ReadPending());
        ResetHijacks();
    }
    // A file type's command, or a delegate, that stays queues nothing: every
    // program of the type would then fail to start.
    for (HijackKind kind : { kUserCommand, kDelegateExecute }) {
        DeletePending();
        const std::wstring command = std::wstring(kind == kUserCommand ? kUserClasses : kMachineClasses) +
                                     L"\\exefile\\shell\\open\\command";
        AddHijackOfKind(kind, L"", Widen(program) + L" \"%1\"");
        SetKeySecurity(command, L"D:P(A;;KR;;;WD)");
        ScanHijacks(m_window.list);
        m_window.Select(0);
        {
            ImportHook refuse("advapi32.dll", "RegSetKeySecurity", reinterpret_cast<void*>(&RefuseKeySecurity));
            ClearSelectedHijack(m_window.list);
        }
        EXPECT_EQ(1, m_window.list.GetItemCount());
        EXPECT_EQ(std::string(), ReadPending());
        SetKeySecurity(command, L"D:(A;;KA;;;WD)");
        ResetHijacks();
    }
}

TEST_F(HijackScan, DeleteHijackKeyReportsWhetherTheHijackWentAway)
{
    AddHijack("a.exe", "x");
    AddHijack("b.exe", "y");
    AddImageOption("b.exe\\Child", nullptr, 0, REG_NONE);
    AddImageOption("c.exe", nullptr, 0, REG_NONE);
    auto remove = [](const wchar_t* name) {
        const std::wstring key = ImageOptionPath(name);
        Finding found = {};
        found.kind = kDebugger;
        found.key = key.c_str();
        found.value = L"debugger";
        return DeleteHijackKey(found);
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
