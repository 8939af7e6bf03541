#include "Wow64.h"

#include "NativeApi.h"

#include <cwchar>

namespace {
// Looked up at run time: 32-bit Windows XP has none of them.
template <class F> F KernelFunction(const char* name) { return SystemFunction<F>("kernel32.dll", name); }

UINT GetWow64Directory(LPWSTR path, UINT size)
{
    typedef UINT(WINAPI * Fn)(LPWSTR, UINT);
    const Fn get = KernelFunction<Fn>("GetSystemWow64DirectoryW");
    return get != nullptr ? get(path, size) : 0;
}
}  // namespace

bool HasWow64()
{
#ifdef _WIN64
    return true;
#else
    typedef BOOL(WINAPI * Fn)(HANDLE, PBOOL);
    const Fn isWow64 = KernelFunction<Fn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

int RegistryViews(REGSAM (&views)[2])
{
    if (!HasWow64()) {
        views[0] = 0;
        return 1;
    }
    views[0] = KEY_WOW64_64KEY;
    views[1] = KEY_WOW64_32KEY;
    return 2;
}

bool IsNativeKeyToo(HKEY key, const wchar_t* path)
{
    HKEY native = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &native) != ERROR_SUCCESS)
        return false;
    // The native key is where its path says, with no link on the way: a
    // native path led to the 32-bit view's own key makes that key no
    // shared one, but a key of its view that the native view links to.
    wchar_t own[1024] = L"\\REGISTRY\\MACHINE\\";
    wchar_t ours[1024];
    wchar_t theirs[1024];
    bool same = std::wcslen(own) + std::wcslen(path) < 1024 && KeyPathOf(key, ours, 1024) &&
                KeyPathOf(native, theirs, 1024) && SameName(ours, theirs) && SameName(::lstrcatW(own, path), theirs);
    ::RegCloseKey(native);
    return same;
}

int ProgramsReading(const wchar_t* path, REGSAM view)
{
    if (view == 0)
        return HasWow64() ? kNativePrograms | kWow64Programs : kNativePrograms;
    HKEY wow64 = nullptr;
    bool shared = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &wow64) ==
                      ERROR_SUCCESS &&
                  IsNativeKeyToo(wow64, path);
    if (wow64 != nullptr)
        ::RegCloseKey(wow64);
    if (shared)
        return view == KEY_WOW64_32KEY ? 0 : kNativePrograms | kWow64Programs;
    return view == KEY_WOW64_32KEY ? kWow64Programs : kNativePrograms;
}

bool DeleteSubkeyInView(HKEY parent, const wchar_t* name, REGSAM view)
{
    // Looked up at run time: 32-bit Windows XP lacks it, and has only the one view.
    typedef LONG(WINAPI * Fn)(HKEY, LPCWSTR, REGSAM, DWORD);
    const Fn deleteInView = SystemFunction<Fn>("advapi32.dll", "RegDeleteKeyExW");
    LONG status = deleteInView != nullptr ? deleteInView(parent, name, view, 0) : ::RegDeleteKeyW(parent, name);
    return status == ERROR_SUCCESS;
}

bool GetSystemFolder(SystemFolder folder, wchar_t (&path)[MAX_PATH])
{
    UINT length = folder == kWindowsFolder  ? ::GetWindowsDirectoryW(path, MAX_PATH)
                  : folder == kSystemFolder ? ::GetSystemDirectoryW(path, MAX_PATH)
                  : folder == kWow64Folder  ? GetWow64Directory(path, MAX_PATH)
                                            : 0;
    if (length == 0 || length >= MAX_PATH)
        return false;
    if (path[length - 1] == L'\\')  // a root directory
        path[length - 1] = L'\0';
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    if (!GetSystemFolder(kSystemFolder, path) || std::wcslen(path) + std::wcslen(name) >= MAX_PATH)
        return nullptr;
    return ::LoadLibraryW(::lstrcatW(path, name));
}

SystemFolder OtherSystemFolderPath(const wchar_t* path, wchar_t (&other)[MAX_PATH])
{
    wchar_t native[MAX_PATH];
    wchar_t wow64[MAX_PATH];
    if (!GetSystemFolder(kSystemFolder, native) || !GetSystemFolder(kWow64Folder, wow64))
        return kNoFolder;
    SystemFolder from = LiesAtOrBelow(path, native) ? kSystemFolder : LiesAtOrBelow(path, wow64) ? kWow64Folder : kNoFolder;
    if (from == kNoFolder)
        return kNoFolder;
    const wchar_t* to = from == kSystemFolder ? wow64 : native;
    const wchar_t* rest = path + std::wcslen(from == kSystemFolder ? native : wow64);
    if (std::wcslen(to) + std::wcslen(rest) >= MAX_PATH)
        return kNoFolder;
    ::lstrcpyW(other, to);
    ::lstrcatW(other, rest);
    return from;
}

NativeFileSystem::NativeFileSystem(bool native)
{
    typedef BOOL(WINAPI * Fn)(PVOID*);
    const Fn disable = native ? KernelFunction<Fn>("Wow64DisableWow64FsRedirection") : nullptr;
    m_disabled = disable != nullptr && disable(&m_previous);
}

NativeFileSystem::~NativeFileSystem()
{
    typedef BOOL(WINAPI * Fn)(PVOID);
    const Fn revert = KernelFunction<Fn>("Wow64RevertWow64FsRedirection");
    if (m_disabled && revert != nullptr)
        revert(m_previous);
}
