#include "FileProtection.h"

#include "NativeApi.h"
#include "Wow64.h"

#include <windows.h>

#include <cwchar>

namespace {
const wchar_t kSfcDll[] = L"\\sfc.dll";
const wchar_t kDllcache[] = L"\\dllcache\\";

// The path is looked at as wide text: in a double-byte code page the second
// byte of a character can be 0x5C, which a byte-wise search would take for a
// "\".
typedef wchar_t WidePath[MAX_PATH];

// Asks Windows File Protection. sfc.dll is looked up at run time and only in
// the system directory: a system without it still runs, and a copy planted
// beside the program is never loaded.
bool SfcProtects(const wchar_t* path)
{
    WidePath dll;
    if (!GetSystemFolder(kSystemFolder, dll) || ::lstrlenW(dll) + ::lstrlenW(kSfcDll) >= MAX_PATH)
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
// or of a system directory from its copy in that system directory's
// dllcache. A file call: made on the native file system.
bool HasDllcacheCopy(const wchar_t* path)
{
    WidePath folder;
    ::lstrcpynW(folder, path, MAX_PATH);
    wchar_t* separator = std::wcsrchr(folder, L'\\');
    if (separator == nullptr)
        return false;
    *separator = L'\0';
    const wchar_t* name = separator + 1;

    WidePath cache;
    WidePath known;
    const SystemFolder folders[] = { kWindowsFolder, kSystemFolder, kWow64Folder };
    SystemFolder in = kNoFolder;
    for (SystemFolder f : folders) {
        if (GetSystemFolder(f, known) && SameName(folder, known))
            in = f;
    }
    if (in == kNoFolder || !GetSystemFolder(in == kWow64Folder ? kWow64Folder : kSystemFolder, cache))
        return false;
    if (::lstrlenW(cache) + ::lstrlenW(kDllcache) + ::lstrlenW(name) >= MAX_PATH)
        return true;  // cannot be looked for: taken as kept there
    ::lstrcatW(cache, kDllcache);
    ::lstrcatW(cache, name);
    NativeFileSystem native;
    return ::GetFileAttributesW(cache) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace

int IsProtectedSystemFile(const wchar_t* path)
{
    WidePath twin;
    const wchar_t* forms[] = { path, OtherSystemFolderPath(path, twin) != kNoFolder ? twin : nullptr };
    for (const wchar_t* form : forms) {
        if (form != nullptr && (SfcProtects(form) || HasDllcacheCopy(form)))
            return 1;
    }
    return 0;
}
