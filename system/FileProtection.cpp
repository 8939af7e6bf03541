#include "FileProtection.h"

#include <windows.h>

#include <cwchar>

namespace {
const wchar_t kSfcDll[] = L"\\sfc.dll";
const wchar_t kDllcache[] = L"\\dllcache\\";

// The path is looked at as wide text: in a double-byte code page the second
// byte of a character can be 0x5C, which a byte-wise search would take for a
// "\".
typedef wchar_t WidePath[MAX_PATH];

bool SystemDirectory(WidePath& path)
{
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

// Asks Windows File Protection. sfc.dll is looked up at run time and only in
// the system directory: a system without it still runs, and a copy planted
// beside the program is never loaded.
bool SfcProtects(const wchar_t* path)
{
    WidePath dll;
    if (!SystemDirectory(dll) || ::lstrlenW(dll) + ::lstrlenW(kSfcDll) >= MAX_PATH)
        return false;
    ::lstrcatW(dll, kSfcDll);
    HMODULE sfc = ::LoadLibraryW(dll);
    if (sfc == nullptr)
        return false;
    typedef BOOL(WINAPI * Fn)(HANDLE, LPCWSTR);
    Fn isProtected = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(sfc, "SfcIsFileProtected")));
    bool protects = isProtected != nullptr && isProtected(nullptr, path);
    ::FreeLibrary(sfc);
    return protects;
}

// True when `folder` is the directory `directory`, compared without regard
// to case, a trailing "\" of the directory ignored.
bool SameDirectory(const wchar_t* folder, WidePath& directory)
{
    int length = ::lstrlenW(directory);
    if (length > 0 && directory[length - 1] == L'\\')
        directory[length - 1] = L'\0';
    return ::lstrcmpiW(folder, directory) == 0;
}

// Windows File Protection restores a protected file of the Windows directory
// or of system32 from its copy in system32\dllcache.
bool HasDllcacheCopy(const wchar_t* path)
{
    WidePath folder;
    ::lstrcpynW(folder, path, MAX_PATH);
    wchar_t* separator = std::wcsrchr(folder, L'\\');
    WidePath system;
    WidePath windows;
    UINT windowsLength = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (separator == nullptr || !SystemDirectory(system) || windowsLength == 0 || windowsLength >= MAX_PATH)
        return false;
    *separator = L'\0';
    const wchar_t* name = separator + 1;
    if (!SameDirectory(folder, system) && !SameDirectory(folder, windows))
        return false;

    WidePath copy;
    if (::lstrlenW(system) + ::lstrlenW(kDllcache) + ::lstrlenW(name) >= MAX_PATH)
        return true;  // cannot be looked for: taken as kept there
    ::lstrcpyW(copy, system);
    ::lstrcatW(copy, kDllcache);
    ::lstrcatW(copy, name);
    return ::GetFileAttributesW(copy) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace

int IsProtectedSystemFile(const char* path)
{
    WidePath widePath;
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, widePath, MAX_PATH) == 0)
        return 1;
    return SfcProtects(widePath) || HasDllcacheCopy(widePath) ? 1 : 0;
}
