#include "InfectionCheck.h"

#include "system/Wow64.h"
#include "ui/ResultList.h"

#include <cstring>

namespace {
const DWORD kPageSize = 4096;  // the compared head, and each comparison buffer

struct WatchEntry {
    const char* path;
    const char* referencePath;  // null for files tested by presence
    const char* fallbackName;
    const char* label;
};

// Watched paths under the system directory begin so.
const char kSystemPrefix[] = "%systemroot%\\system32";

const char kInfected[] = "感染";
const char kSuspicious[] = "高度可疑";

const WatchEntry kWatchTable[] = {
    { "%systemroot%\\system32\\userinit.exe", "%systemroot%\\system32\\dllcache\\userinit.exe",
      "userinit.exe", kInfected },
    { "%systemroot%\\explorer.exe", "%systemroot%\\system32\\dllcache\\explorer.exe", "explorer.exe",
      kInfected },
    { "%systemroot%\\system32\\ctfmon.exe", "%systemroot%\\system32\\dllcache\\ctfmon.exe", "ctfmon.exe",
      kInfected },
    { "%systemroot%\\system32\\conime.exe", "%systemroot%\\system32\\dllcache\\conime.exe", "conime.exe",
      kInfected },
    { "%systemroot%\\system32\\drivers\\pcihdd.sys", nullptr, "pcihdd.sys", kSuspicious },
    { "%systemroot%\\system32\\drivers\\puid.sys", nullptr, "puid.sys", kSuspicious },
    { "%systemroot%\\system32\\drivers\\ntfs.dll", nullptr, "ntfs.dll", kSuspicious },
};

// Expands the environment references of `path`. An expansion that fails or
// does not fit the buffer counts as failed: the buffer's text is then undefined.
bool ExpandPath(const char* path, char (&expanded)[MAX_PATH])
{
    DWORD needed = ::ExpandEnvironmentStringsA(path, expanded, sizeof(expanded));
    return needed != 0 && needed <= sizeof(expanded);
}

// The same file under the 32-bit system directory, for a path under
// system32 on 64-bit Windows: there the two directories hold two files of
// each name, and a 32-bit program writes to SysWOW64 when it means
// system32. False when there is no such twin.
bool Wow64Twin(const char* path, char (&twin)[MAX_PATH])
{
    size_t prefix = sizeof(kSystemPrefix) - 1;
    if (std::strncmp(path, kSystemPrefix, prefix) != 0 || path[prefix] != '\\')
        return false;
    UINT length = ::GetSystemWow64DirectoryA(twin, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || length + std::strlen(path + prefix) >= MAX_PATH)
        return false;
    ::lstrcpyA(twin + length, path + prefix);
    return true;
}

// Lists the file at `path` (with environment references) when its test
// hits: a first page that differs from `reference`'s, or, without a
// reference, its presence. The row shows the full path.
void AddIfHit(CListCtrl& list, const WatchEntry& entry, const char* path, const char* reference)
{
    int hit = entry.referencePath != nullptr ? FirstPageDiffers(path, reference) : FileIsPresent(path);
    if (!hit)
        return;
    char shown[MAX_PATH];
    if (!ExpandPath(path, shown))
        ::lstrcpyA(shown, entry.fallbackName);
    AddResultRow(list, shown, entry.label);
}

// The path the file tests open: expanded, or the text as given.
const char* FilePath(const char* path, char (&expanded)[MAX_PATH])
{
    return ExpandPath(path, expanded) ? expanded : path;
}
}  // namespace

void ScanInfections(CListCtrl& list)
{
    ResultListFill fill(list);
    for (const WatchEntry& entry : kWatchTable) {
        // The twin goes in first, so that it shows right below the native
        // file; it is compared with the copy in its own directory's dllcache.
        char twin[MAX_PATH];
        char twinReference[MAX_PATH];
        if (Wow64Twin(entry.path, twin))
            AddIfHit(list, entry, twin,
                     entry.referencePath != nullptr && Wow64Twin(entry.referencePath, twinReference) ? twinReference
                                                                                                   : nullptr);
        AddIfHit(list, entry, entry.path, entry.referencePath);
    }
}

int FirstPageDiffers(const char* path, const char* referencePath)
{
    if (path == nullptr || referencePath == nullptr)
        return 0;
    DWORD* first = static_cast<DWORD*>(::VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (first == nullptr)
        return 0;
    DWORD* second = static_cast<DWORD*>(::VirtualAlloc(nullptr, kPageSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (second == nullptr) {
        ::VirtualFree(first, 0, MEM_RELEASE);
        return 0;
    }

    // Files shorter than a page are never reported.
    int differs = 0;
    DWORD size = kPageSize;
    if (ReadFileHead(path, first, &size) && size == kPageSize) {
        size = kPageSize;
        if (ReadFileHead(referencePath, second, &size) && size == kPageSize) {
            for (DWORD i = 0; i < kPageSize / sizeof(DWORD); ++i) {
                if (first[i] != second[i]) {
                    differs = 1;
                    break;
                }
            }
        }
    }
    ::VirtualFree(second, 0, MEM_RELEASE);
    ::VirtualFree(first, 0, MEM_RELEASE);
    return differs;
}

int ReadFileHead(const char* path, void* buffer, DWORD* size)
{
    if (path == nullptr || buffer == nullptr || size == nullptr)
        return 0;
    char expanded[MAX_PATH];
    const char* name = FilePath(path, expanded);
    NativeFileSystem native;  // the very file that a clear would delete
    HANDLE file = ::CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD read = 0;
    BOOL ok = ::ReadFile(file, buffer, *size, &read, nullptr);
    ::CloseHandle(file);
    if (!ok)
        return 0;
    *size = read;
    return 1;
}

int FileIsPresent(const char* path)
{
    if (path == nullptr)
        return 0;
    char expanded[MAX_PATH];
    const char* name = FilePath(path, expanded);
    WIN32_FIND_DATAA found;
    NativeFileSystem native;
    HANDLE search = ::FindFirstFileA(name, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    ::FindClose(search);
    return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 0 : 1;
}
