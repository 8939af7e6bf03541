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

// The file CreateProcess looks for: a name without an extension (no dot
// after its last "\\") with SearchPath's default ".exe", and only so; any
// other as it is. False when that does not fit.
bool ProgramFile(const wchar_t* path, size_t length, wchar_t (&file)[MAX_PATH])
{
    const wchar_t kDefaultExtension[] = L".exe";
    size_t name = length;
    while (name > 0 && path[name - 1] != L'\\')
        --name;
    const bool bare = std::wmemchr(path + name, L'.', length - name) == nullptr;
    if (length + (bare ? 4 : 0) >= MAX_PATH)
        return false;
    std::wmemcpy(file, path, length);
    ::lstrcpyW(file + length, bare ? kDefaultExtension : L"");
    return true;
}

// The file that a text of one program starts: CreateProcess takes an
// unquoted command up to a space, so spaces that end it are no part of
// it; a path in quotes is the text inside (*quoted). False when anything
// follows.
bool ProgramPathOf(const wchar_t* text, wchar_t (&path)[MAX_PATH], bool* quoted)
{
    size_t length = std::wcslen(text);
    while (length > 0 && text[length - 1] == L' ')
        --length;
    *quoted = length >= 2 && text[0] == L'"' && text[length - 1] == L'"';
    if (*quoted) {
        ++text;
        length -= 2;
    }
    return length > 0 && ProgramFile(text, length, path);
}

// Whether an unquoted path with spaces starts another program before it:
// CreateProcess tries each part up to a space in turn and starts the first
// file there.
bool EarlierProgramExists(const wchar_t* path)
{
    for (const wchar_t* space = std::wcschr(path, L' '); space != nullptr; space = std::wcschr(space + 1, L' ')) {
        wchar_t part[MAX_PATH];
        if (!ProgramFile(path, static_cast<size_t>(space - path), part))
            continue;
        DWORD attributes = ::GetFileAttributesW(part);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            return true;
    }
    return false;
}

// The file that a program of the kind opens for `path`, by its real path:
// a 32-bit program opens it with WOW64's file redirection on (this
// process's own way), a native one with it off. False when it opens none,
// or one that is no program this Windows starts. A kind of program that
// this process is not (the 64-bit build has no 32-bit side to open as)
// names nothing.
bool FileStartedBy(int program, const wchar_t* path, bool whole, wchar_t (&real)[MAX_PATH])
{
#ifdef _WIN64
    if (program == kWow64Programs)
        return false;
#endif
    HANDLE file = INVALID_HANDLE_VALUE;
    {
        NativeFileSystem native(program == kNativePrograms);
        if (whole || !EarlierProgramExists(path))
            file = ::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;
    wchar_t found[MAX_PATH];
    bool started = RealPathOf(file, path, found) && IsWindowsProgram(file);
    ::CloseHandle(file);
    if (!started)
        return false;
    // The real path is the native one, which the Session Manager resolves
    // as it stands; its long form names the file whatever short names led there.
    NativeFileSystem native;
    DWORD length = ::GetLongPathNameW(found, real, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// The file the first token of a command line names: the text inside its
// opening quotes, or up to its first space or tab, after the spaces and
// tabs that lead it.
bool FirstToken(const wchar_t* command, wchar_t (&token)[MAX_PATH])
{
    while (*command == L' ' || *command == L'\t')
        ++command;
    const wchar_t* end = nullptr;
    if (*command == L'"') {
        ++command;
        end = std::wcschr(command, L'"');
    } else {
        end = command + std::wcscspn(command, L" \t");
    }
    size_t length = end != nullptr ? static_cast<size_t>(end - command) : 0;
    return length > 0 && ProgramFile(command, length, token);
}

// `whole`: the path is known to be all of the program's name (in quotes, or
// a token without spaces); else a part of it up to a space may name another.
void QueueProgramAt(const wchar_t* path, bool whole, int programs)
{
    if (!IsPlainPath(path))
        return;
    // On 64-bit Windows a path in system32 leads a 32-bit program to
    // SysWOW64, a native one to system32 itself, while other folders are
    // one for both: Windows says which, and each file goes by its own path.
    wchar_t files[2][MAX_PATH];
    int count = 0;
    const int kinds[] = { kNativePrograms, kWow64Programs };
    for (int program : kinds) {
        if ((programs & program) && FileStartedBy(program, path, whole, files[count]) &&
            (count == 0 || !SameName(files[0], files[count])))
            ++count;
    }
    // The protection check loads sfc.dll: outside any native file system.
    for (int i = 0; i < count; ++i) {
        if (!IsProtectedSystemFile(files[i]))
            QueueDeleteAtRestart(files[i]);
    }
}
}  // namespace

void QueueHijackProgram(const wchar_t* text, int programs)
{
    wchar_t path[MAX_PATH];
    bool quoted = false;
    if (ProgramPathOf(text, path, &quoted))
        QueueProgramAt(path, quoted, programs);
}

void QueueCommandProgram(const wchar_t* command, bool expand, int programs)
{
    wchar_t* expanded = nullptr;
    if (expand) {
        DWORD room = ::ExpandEnvironmentStringsW(command, nullptr, 0);
        expanded = room != 0 ? static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, room * sizeof(wchar_t))) : nullptr;
        if (expanded == nullptr || ::ExpandEnvironmentStringsW(command, expanded, room) - 1 >= room) {
            if (expanded != nullptr)
                ::LocalFree(expanded);
            return;
        }
        command = expanded;
    }
    wchar_t path[MAX_PATH];
    if (FirstToken(command, path))
        QueueProgramAt(path, true, programs);
    if (expanded != nullptr)
        ::LocalFree(expanded);
}
