// The accessibility programs that the logon screen starts as SYSTEM, before
// anyone signs in: replaced by another program (a copy of cmd.exe, say),
// they give whoever presses Shift five times a command prompt.
#include "Accessibility.h"

#include "Findings.h"
#include "system/NativeApi.h"
#include "system/ProgramImage.h"
#include "system/Signature.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {
// Each program of the system directory, and the names that Windows' own
// version blocks give it (OriginalFilename, in any case): sethc.exe
// (Sticky Keys), utilman.exe (the Ease of Access button; utilman2.exe
// from Windows 7 on), osk.exe, Magnify.exe (ScreenMagnifier.exe from
// Windows 7 on), Narrator.exe (SR.exe from Windows 8 on), DisplaySwitch.exe
// (Windows 7 on) and AtBroker.exe (Vista on). Sources: Elastic's detection
// rule "Potential Modification of Accessibility Binaries", and the
// signature-base rules "Utilman_ANOMALY", "SetHC_ANOMALY" and
// "osk_ANOMALY" (Florian Roth, Nextron Systems).
struct AccessibilityProgram {
    const wchar_t* file;
    bool onXp;  // XP and 2003 have it
    const wchar_t* names[3];
};
const AccessibilityProgram kPrograms[] = {
    { L"sethc.exe", true, { L"sethc.exe" } },
    { L"utilman.exe", true, { L"utilman.exe", L"utilman2.exe" } },
    { L"osk.exe", true, { L"osk.exe" } },
    { L"Magnify.exe", true, { L"magnify.exe", L"ScreenMagnifier.exe" } },
    { L"Narrator.exe", true, { L"narrator.exe", L"SR.exe" } },
    { L"DisplaySwitch.exe", false, { L"DisplaySwitch.exe" } },
    { L"AtBroker.exe", false, { L"ATBroker.exe" } },
};

const wchar_t kNoVersion[] = L"(无版本信息)";
const DWORD kLargestCopy = 64 * 1024 * 1024;
const DWORD kSfcWait = 90 * 1000;  // bounded: the window waits for it

// The native system directory's file of the program, by its full path.
bool PathOf(const AccessibilityProgram& program, const wchar_t* folder, wchar_t (&path)[MAX_PATH])
{
    wchar_t system[MAX_PATH];
    if (!GetSystemFolder(kSystemFolder, system) || std::wcslen(system) + std::wcslen(folder) + 2 +
                                                          std::wcslen(program.file) >= MAX_PATH)
        return false;
    ::wsprintfW(path, L"%s%s\\%s", system, folder, program.file);
    return true;
}

// Whether the open file's version block names the program, a trailing
// ".MUI" no part of a name; else the name it gives instead, or that it has
// none, into `other`.
bool NamesTheProgram(HANDLE file, const AccessibilityProgram& program, wchar_t (&other)[MAX_PATH])
{
    VersionNames found;
    ReadOriginalFilenames(file, found);
    ::lstrcpyW(other, kNoVersion);
    for (int i = 0; i < found.count; ++i) {
        wchar_t* name = found.names[i];
        const size_t length = std::wcslen(name);
        if (length > 4 && SameName(name + length - 4, L".mui"))
            name[length - 4] = L'\0';
        bool known = false;
        for (const wchar_t* own : program.names)
            known = known || (own != nullptr && SameName(name, own));
        if (!known) {
            ::lstrcpyW(other, found.names[i]);
            return false;
        }
    }
    return found.count > 0;
}

// Opens a file of the native file system to read it, others reading it
// too but none changing it meanwhile.
HANDLE OpenNative(const wchar_t* path)
{
    NativeFileSystem native;
    return ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Whether the program's file is there and another program: the name its
// version block gives into `other`. A file that cannot be read is taken
// for one.
bool IsReplaced(const AccessibilityProgram& program, const wchar_t* path, wchar_t (&other)[MAX_PATH])
{
    {
        NativeFileSystem native;
        if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES)
            return false;
    }
    HANDLE file = OpenNative(path);
    ::lstrcpyW(other, kNoVersion);
    const bool named = file != INVALID_HANDLE_VALUE && NamesTheProgram(file, program, other);
    if (file != INVALID_HANDLE_VALUE)
        ::CloseHandle(file);
    return !named;
}

// XP and 2003: the copy that Windows File Protection keeps in dllcache, only
// where its version block names the program and a publisher of the
// machine's own roots signed it (a file anyone could have planted must not
// become a program the logon screen runs as SYSTEM), written over the file.
bool RestoreFromCache(const AccessibilityProgram& program, const wchar_t* path)
{
    wchar_t cache[MAX_PATH];
    wchar_t signer[kSignerRoom];
    wchar_t other[MAX_PATH];
    if (!PathOf(program, L"\\dllcache", cache))
        return false;
    HANDLE copy = OpenNative(cache);
    if (copy == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = ::GetFileSize(copy, nullptr);
    BYTE* bytes = nullptr;
    DWORD read = 0;
    if (NamesTheProgram(copy, program, other) && CheckSignature(copy, cache, signer) == kTrustedSigner &&
        size != INVALID_FILE_SIZE && size <= kLargestCopy &&
        (bytes = static_cast<BYTE*>(::LocalAlloc(LMEM_FIXED, size + 1))) != nullptr) {
        ::SetFilePointer(copy, 0, nullptr, FILE_BEGIN);
        if (!::ReadFile(copy, bytes, size, &read, nullptr))
            read = 0;
    }
    ::CloseHandle(copy);
    bool written = false;
    if (bytes != nullptr && read == size) {
        NativeFileSystem native;
        ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
        HANDLE file = ::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD wrote = 0;
        written = file != INVALID_HANDLE_VALUE && ::WriteFile(file, bytes, size, &wrote, nullptr) && wrote == size;
        if (file != INVALID_HANDLE_VALUE)
            ::CloseHandle(file);
    }
    if (bytes != nullptr)
        ::LocalFree(bytes);
    return written;
}

// Vista and later keep no dllcache (any copy there was planted): the
// native System File Checker restores the file, waited for, bounded. A
// 32-bit program on 64-bit Windows reaches it through Sysnative.
bool RunSystemFileChecker(const wchar_t* path)
{
    wchar_t checker[MAX_PATH];
    wchar_t line[2 * MAX_PATH + 32];
#ifdef _WIN64
    const bool viaSysnative = false;
#else
    const bool viaSysnative = HasWow64();
#endif
    if (!GetSystemFolder(viaSysnative ? kWindowsFolder : kSystemFolder, checker) ||
        std::wcslen(checker) + 20 >= MAX_PATH)
        return false;
    ::lstrcatW(checker, viaSysnative ? L"\\Sysnative\\sfc.exe" : L"\\sfc.exe");
    ::wsprintfW(line, std::wcschr(path, L' ') != nullptr ? L"\"%s\" \"/SCANFILE=%s\"" : L"\"%s\" /SCANFILE=%s",
                checker, path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(checker, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &process))
        return false;
    const bool ended = ::WaitForSingleObject(process.hProcess, kSfcWait) == WAIT_OBJECT_0;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return ended;
}

const AccessibilityProgram* ProgramNamed(const wchar_t* file)
{
    for (const AccessibilityProgram& program : kPrograms) {
        if (SameName(program.file, file))
            return &program;
    }
    return nullptr;
}
}  // namespace

void FindReplacedPrograms(HijackKind kind, Findings& found)
{
    for (const AccessibilityProgram& program : kPrograms) {
        wchar_t path[MAX_PATH];
        wchar_t other[MAX_PATH];
        if ((!program.onXp && !IsVistaOrLater()) || !PathOf(program, L"", path) || !IsReplaced(program, path, other))
            continue;
        Finding finding = {};
        finding.kind = kind;
        finding.programs = kNativePrograms;
        finding.key = path;
        finding.value = L"";
        finding.subject = program.file;
        finding.text = path;
        finding.target = other;
        finding.type = REG_SZ;
        found.Add(finding);
    }
}

bool RestoreAccessibilityProgram(const Finding& found)
{
    const AccessibilityProgram* program = ProgramNamed(found.subject);
    wchar_t path[MAX_PATH];
    wchar_t other[MAX_PATH];
    if (program == nullptr || !PathOf(*program, L"", path))
        return false;
    if (!IsVistaOrLater())
        RestoreFromCache(*program, path);
    else
        RunSystemFileChecker(path);
    return !IsReplaced(*program, path, other);
}
