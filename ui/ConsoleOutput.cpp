#include "ConsoleOutput.h"

#include <windows.h>

namespace {
// The console of the prompt that started this windowed program, which
// hands such a program no standard handles of its own: attached once.
HANDLE g_console = INVALID_HANDLE_VALUE;
bool g_attached = false;

HANDLE ParentConsole()
{
    if (!g_attached) {
        g_attached = true;
        if (::AttachConsole(ATTACH_PARENT_PROCESS) || ::GetLastError() == ERROR_ACCESS_DENIED)  // attached already
            g_console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    }
    return g_console;
}

bool WriteAll(HANDLE handle, const char* bytes, DWORD size)
{
    while (size > 0) {
        DWORD wrote = 0;
        if (!::WriteFile(handle, bytes, size, &wrote, nullptr) || wrote == 0)
            return false;
        bytes += wrote;
        size -= wrote;
    }
    return true;
}

bool WriteToConsole(HANDLE console, const wchar_t* text, size_t length)
{
    // A console takes a bounded piece at a time.
    const size_t kPiece = 8192;
    for (size_t at = 0; at < length;) {
        const DWORD piece = static_cast<DWORD>(length - at < kPiece ? length - at : kPiece);
        DWORD wrote = 0;
        if (!::WriteConsoleW(console, text + at, piece, &wrote, nullptr) || wrote == 0)
            return false;
        at += wrote;
    }
    return true;
}

bool WriteUtf8(HANDLE handle, const wchar_t* text, size_t length)
{
    if (length == 0)
        return true;
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    char* bytes = size > 0 ? static_cast<char*>(::LocalAlloc(LMEM_FIXED, size)) : nullptr;
    const bool written = bytes != nullptr &&
                         ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), bytes, size, nullptr,
                                               nullptr) == size &&
                         WriteAll(handle, bytes, static_cast<DWORD>(size));
    if (bytes != nullptr)
        ::LocalFree(bytes);
    return written;
}
}  // namespace

bool WriteStream(Stream stream, const wchar_t* text, size_t length)
{
    HANDLE handle = ::GetStdHandle(stream == kStandardOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || ::GetFileType(handle) == FILE_TYPE_UNKNOWN)
        handle = ParentConsole();
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || length > 0x7FFFFFFF)
        return false;
    return ::GetConsoleMode(handle, &mode) ? WriteToConsole(handle, text, length) : WriteUtf8(handle, text, length);
}
