#include "HijackProgram.h"

#include "system/FileProtection.h"
#include "system/NativeApi.h"
#include "system/ProgramImage.h"
#include "system/RealPath.h"
#include "system/RestartQueue.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {
const wchar_t kNtPrefix[] = L"\\??\\";
const size_t kNtPrefixLength = 4;

// Whether the Session Manager will resolve the path as it is written: its
// NT form is "\??\" followed by the path itself. That holds only for a full
// drive path that the conversion leaves alone, with no "/" for "\", no "."
// or "..", no dots or spaces ending a name, no repeated "\", and no device
// name (NUL, AUX, COM1) anywhere. Anything else is never even opened:
// opening a pipe or a share may hand our rights to whoever serves it.
bool IsPlainPath(const wchar_t* path)
{
    UNICODE_STRING nt = {};
    if (!DosPathToNtPath(path, &nt))
        return false;
    size_t length = std::wcslen(path);
    bool plain = nt.Length == (kNtPrefixLength + length) * sizeof(wchar_t) &&
                 std::wmemcmp(nt.Buffer, kNtPrefix, kNtPrefixLength) == 0 &&
                 std::wmemcmp(nt.Buffer + kNtPrefixLength, path, length) == 0;
    ::HeapFree(::GetProcessHeap(), 0, nt.Buffer);
    return plain;
}

// Whether the file at `path` may go: it is a file whose own location is
// `path` itself (no junction, link, mount point or other drive name leads
// there from elsewhere), a Windows program, and not protected. Looked at on
// the native file system, as the Session Manager will see it; the
// protection check loads sfc.dll, so it runs outside.
bool MayRemove(const wchar_t* path)
{
    wchar_t longPath[MAX_PATH];
    wchar_t real[MAX_PATH];
    bool itself = false;
    {
        NativeFileSystem native;
        HANDLE file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD length = ::GetLongPathNameW(path, longPath, MAX_PATH);
        itself = length > 0 && length < MAX_PATH && RealPathOf(file, path, real) && SameName(real, longPath) &&
                 IsWindowsProgram(file);
        ::CloseHandle(file);
    }
    return itself && !IsProtectedSystemFile(longPath);
}
}  // namespace

void QueueHijackProgram(const wchar_t* text)
{
    if (!IsPlainPath(text))
        return;
    // A 64-bit launcher runs the native file, a 32-bit one its SysWOW64
    // namesake; each is queued by its own path, which the Session Manager
    // resolves to that same file. A path in SysWOW64 names one file only.
    wchar_t twin[MAX_PATH];
    const wchar_t* files[] = { text, OtherSystemFolderPath(text, twin) == kSystemFolder ? twin : nullptr };
    for (const wchar_t* file : files) {
        if (file != nullptr && MayRemove(file))
            QueueDeleteAtRestart(file);
    }
}
