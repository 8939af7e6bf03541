#include "FileProtection.h"

#include "NativeApi.h"
#include "Wow64.h"

#include <windows.h>

#include <cwchar>

namespace {
const wchar_t kSfcDll[] = L"\\sfc.dll";
const wchar_t kDllcache[] = L"\\dllcache";

// The path is looked at as wide text: in a double-byte code page the second
// byte of a character can be 0x5C, which a byte-wise search would take for a
// "\".
typedef wchar_t WidePath[MAX_PATH];

// Asks Windows File Protection. sfc.dll is looked up at run time and only in
// the system directory: a system without it still runs, and a copy planted
// beside the program is never loaded.
bool SfcProtects(const wchar_t* path)
{
    HMODULE sfc = LoadSystemLibrary(kSfcDll);
    if (sfc == nullptr)
        return false;
    typedef BOOL(WINAPI * Fn)(HANDLE, LPCWSTR);
    Fn isProtected = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(sfc, "SfcIsFileProtected")));
    bool protects = isProtected != nullptr && isProtected(nullptr, path);
    ::FreeLibrary(sfc);
    return protects;
}

// Splits a path into its folder and name; false when it has no "\".
bool SplitName(const wchar_t* path, WidePath& folder, const wchar_t** name)
{
    ::lstrcpynW(folder, path, MAX_PATH);
    wchar_t* separator = std::wcsrchr(folder, L'\\');
    if (separator == nullptr)
        return false;
    *separator = L'\0';
    *name = path + (separator - folder) + 1;
    return true;
}

// Which of the Windows directory, system32 and SysWOW64 the folder is.
SystemFolder WhichSystemFolder(const wchar_t* folder)
{
    const SystemFolder folders[] = { kWindowsFolder, kSystemFolder, kWow64Folder };
    WidePath known;
    for (SystemFolder f : folders) {
        if (GetSystemFolder(f, known) && SameName(folder, known))
            return f;
    }
    return kNoFolder;
}

// The file's volume and its index there, on the native file system.
bool Identify(const wchar_t* path, BY_HANDLE_FILE_INFORMATION* info)
{
    NativeFileSystem native;
    HANDLE file = ::CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool identified = ::GetFileInformationByHandle(file, info) != FALSE;
    ::CloseHandle(file);
    return identified;
}

// The path by which Windows knows the file: the same file of its name in the
// Windows directory, system32 or SysWOW64, when it is one of them reached by
// another name (a second drive letter for the folder, a link on the way);
// otherwise `path` itself.
const wchar_t* KnownPath(const wchar_t* path, WidePath& known)
{
    WidePath folder;
    const wchar_t* name = nullptr;
    BY_HANDLE_FILE_INFORMATION file;
    if (!SplitName(path, folder, &name) || !Identify(path, &file))
        return path;
    const SystemFolder folders[] = { kWindowsFolder, kSystemFolder, kWow64Folder };
    for (SystemFolder f : folders) {
        BY_HANDLE_FILE_INFORMATION other;
        if (!GetSystemFolder(f, known) || ::lstrlenW(known) + 1 + ::lstrlenW(name) >= MAX_PATH)
            continue;
        ::lstrcatW(known, L"\\");
        ::lstrcatW(known, name);
        if (Identify(known, &other) && other.dwVolumeSerialNumber == file.dwVolumeSerialNumber &&
            other.nFileIndexHigh == file.nFileIndexHigh && other.nFileIndexLow == file.nFileIndexLow)
            return known;
    }
    return path;
}

// Windows File Protection restores a protected file of the Windows directory
// or of a system directory from its copy in that system directory's dllcache
// (system32's for the Windows directory); the copies there are its own. A
// file call: made on the native file system.
bool KeptByFileProtection(const wchar_t* path)
{
    WidePath folder;
    const wchar_t* name = nullptr;
    if (!SplitName(path, folder, &name))
        return false;
    SystemFolder in = WhichSystemFolder(folder);
    WidePath cache;
    const wchar_t* cacheName = nullptr;
    if (in == kNoFolder) {
        return SplitName(folder, cache, &cacheName) && SameName(cacheName, kDllcache + 1) &&
               (WhichSystemFolder(cache) == kSystemFolder || WhichSystemFolder(cache) == kWow64Folder);
    }
    if (!GetSystemFolder(in == kWow64Folder ? kWow64Folder : kSystemFolder, cache))
        return false;
    if (::lstrlenW(cache) + ::lstrlenW(kDllcache) + 1 + ::lstrlenW(name) >= MAX_PATH)
        return true;  // cannot be looked for: taken as kept there
    ::lstrcatW(cache, kDllcache);
    ::lstrcatW(cache, L"\\");
    ::lstrcatW(cache, name);
    NativeFileSystem native;
    return ::GetFileAttributesW(cache) != INVALID_FILE_ATTRIBUTES;
}
}  // namespace

int IsProtectedSystemFile(const wchar_t* path)
{
    WidePath known;
    WidePath twin;
    path = KnownPath(path, known);
    const wchar_t* forms[] = { path, OtherSystemFolderPath(path, twin) != kNoFolder ? twin : nullptr };
    for (const wchar_t* form : forms) {
        if (form != nullptr && (SfcProtects(form) || KeptByFileProtection(form)))
            return 1;
    }
    return 0;
}
