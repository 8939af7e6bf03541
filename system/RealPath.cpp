#include "RealPath.h"

#include "NativeApi.h"

#include <cwchar>

namespace {
const DWORD kNormalizedDosName = 0;  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
const wchar_t kLongPathPrefix[] = L"\\\\?\\";
const size_t kLongPathPrefixLength = 4;

// "C:\" and the like.
bool IsDriveRoot(const wchar_t* path)
{
    return path[0] != L'\0' && path[1] == L':' && path[2] == L'\\' && path[3] == L'\0';
}

// Windows XP has no GetFinalPathNameByHandle: the file's path on its volume,
// under the drive letter that the mount manager gives the volume of the
// drive it was opened on. A substituted drive is no mount point at all, and
// a letter that was only defined for a volume is not the mount manager's; a
// link on the way to another volume shows in the file's volume serial.
bool RealPathOnXp(HANDLE file, const wchar_t* openedAs, wchar_t (&path)[MAX_PATH])
{
    wchar_t onVolume[MAX_PATH];
    wchar_t root[] = { openedAs[0], L':', L'\\', L'\0' };
    wchar_t volume[64];
    wchar_t mountPoints[MAX_PATH];
    DWORD needed = 0;
    if (!FilePathOnVolume(file, onVolume, MAX_PATH) || onVolume[0] != L'\\' ||
        !::GetVolumeNameForVolumeMountPointW(root, volume, 64) ||
        !::GetVolumePathNamesForVolumeNameW(volume, mountPoints, MAX_PATH, &needed))
        return false;
    const wchar_t* drive = mountPoints;
    while (*drive != L'\0' && !IsDriveRoot(drive))
        drive += std::wcslen(drive) + 1;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD serial = 0;
    if (*drive == L'\0' || std::wcslen(onVolume) + 2 >= MAX_PATH || !::GetFileInformationByHandle(file, &info) ||
        !::GetVolumeInformationW(drive, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) ||
        serial != info.dwVolumeSerialNumber)
        return false;
    path[0] = drive[0];
    path[1] = L':';
    ::lstrcpyW(path + 2, onVolume);
    return true;
}
}  // namespace

bool RealPathOf(HANDLE file, const wchar_t* openedAs, wchar_t (&path)[MAX_PATH])
{
    typedef DWORD(WINAPI * Fn)(HANDLE, LPWSTR, DWORD, DWORD);
    const Fn finalPath = SystemFunction<Fn>("kernel32.dll", "GetFinalPathNameByHandleW");  // Vista and later
    if (finalPath == nullptr)
        return RealPathOnXp(file, openedAs, path);

    // "\\?\C:\dir\file" for a file on a drive; a network share comes back as
    // "\\?\UNC\...", which no drive path names.
    wchar_t found[kLongPathPrefixLength + MAX_PATH];
    DWORD length = finalPath(file, found, kLongPathPrefixLength + MAX_PATH, kNormalizedDosName);
    if (length < kLongPathPrefixLength + 3 || length >= kLongPathPrefixLength + MAX_PATH ||
        std::wcsncmp(found, kLongPathPrefix, kLongPathPrefixLength) != 0 || found[kLongPathPrefixLength + 1] != L':' ||
        found[kLongPathPrefixLength + 2] != L'\\')
        return false;
    ::lstrcpyW(path, found + kLongPathPrefixLength);
    return true;
}
