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

// The system or the Windows directory, without a trailing "\" (a root
// directory has one). False when it does not fit.
bool Directory(UINT(WINAPI* get)(LPWSTR, UINT), WidePath& path)
{
    UINT length = get(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (path[length - 1] == L'\\')
        path[length - 1] = L'\0';
    return true;
}

// Asks Windows File Protection. sfc.dll is looked up at run time and only in
// the system directory: a system without it still runs, and a copy planted
// beside the program is never loaded.
bool SfcProtects(const wchar_t* path)
{
    WidePath dll;
    if (!Directory(::GetSystemDirectoryW, dll) || ::lstrlenW(dll) + ::lstrlenW(kSfcDll) >= MAX_PATH)
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

// Windows File Protection restores a protected file of the Windows directory
// or of system32 from its copy in system32\dllcache.
bool HasDllcacheCopy(const wchar_t* path)
{
    WidePath folder;
    ::lstrcpynW(folder, path, MAX_PATH);
    wchar_t* separator = std::wcsrchr(folder, L'\\');
    WidePath system;
    WidePath windows;
    if (separator == nullptr || !Directory(::GetSystemDirectoryW, system) ||
        !Directory(::GetWindowsDirectoryW, windows))
        return false;
    *separator = L'\0';
    const wchar_t* name = separator + 1;
    if (::lstrcmpiW(folder, system) != 0 && ::lstrcmpiW(folder, windows) != 0)
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
