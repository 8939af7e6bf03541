// The 32-bit side of 64-bit Windows (WOW64). A 32-bit program there has
// its system32 calls redirected to SysWOW64 and its view of HKLM\SOFTWARE
// partly to Wow6432Node, while Windows acts on the native files and keys
// too: a 64-bit launcher runs the native system32's programs, and the
// Session Manager deletes queued files by their native paths. On 32-bit
// Windows none of this exists, and these calls change nothing.
#pragma once

#include <windows.h>

// True when the system has a 32-bit side beside its native one: this is a
// 32-bit process on 64-bit Windows, or a 64-bit process.
bool HasWow64();

// The registry views in which Windows reads a key under HKLM\SOFTWARE, in
// the one order the program takes them in: only the one view (0) on 32-bit
// Windows, else the native view, then the 32-bit one (where a native
// program looks first). Returns the count.
int RegistryViews(REGSAM (&views)[2]);

// Whether `key`, opened in the 32-bit view from `path`, is the native
// view's key itself, found at its own path: WOW64 shares some keys between
// the views (a link in Wow6432Node), so that one key shows in both.
bool IsNativeKeyToo(HKEY key, const wchar_t* path);

// The programs that read a key, and so act on its settings: on 64-bit
// Windows the 32-bit programs read the 32-bit view, the native ones the
// native view.
enum Programs { kNativePrograms = 1, kWow64Programs = 2 };

// Which programs read the key `path` of HKEY_LOCAL_MACHINE as it is seen in
// `view` (one of RegistryViews): on 32-bit Windows, the one kind; on 64-bit
// Windows, both for a key the views share, else the view's own programs.
// 0 for the 32-bit view of a shared key: that key is the native view's,
// and read with it.
int ProgramsReading(const wchar_t* path, REGSAM view);

// Deletes the subkey `name` of `parent`, which has no subkeys, in the
// registry view: RegDeleteKeyW cannot reach the other view's key.
bool DeleteSubkeyInView(HKEY parent, const wchar_t* name, REGSAM view);

// The Windows directory, the system directory (the native system32) and,
// on 64-bit Windows, the 32-bit one (SysWOW64), each without a trailing "\".
enum SystemFolder { kWindowsFolder, kSystemFolder, kWow64Folder, kNoFolder };
bool GetSystemFolder(SystemFolder folder, wchar_t (&path)[MAX_PATH]);

// Loads a DLL of the system directory by its full path (`name` with its
// leading "\\"), so that a copy planted beside the program is never
// loaded; null where it is not there. Outside any NativeFileSystem: a
// 32-bit process needs the 32-bit DLL.
HMODULE LoadSystemLibrary(const wchar_t* name);

// For a path in or below system32 or SysWOW64 on 64-bit Windows, the same
// path in the other of the two ("C:\Windows\System32\x" and
// "C:\Windows\SysWOW64\x"). Returns the folder `path` lies in, kNoFolder
// when it lies in neither (`other` is then undefined).
SystemFolder OtherSystemFolderPath(const wchar_t* path, wchar_t (&other)[MAX_PATH]);

// For its lifetime, the file calls of this thread see the native file
// system, as the Session Manager does: WOW64 redirects none of them. Keep
// it around file calls only: a 32-bit process that loads a DLL meanwhile
// would be handed the 64-bit one.
class NativeFileSystem {
public:
    // `native` false: the file system as this process sees it, unchanged.
    explicit NativeFileSystem(bool native = true);
    ~NativeFileSystem();
    NativeFileSystem(const NativeFileSystem&) = delete;
    NativeFileSystem& operator=(const NativeFileSystem&) = delete;

private:
    void* m_previous = nullptr;
    bool m_disabled = false;
};
