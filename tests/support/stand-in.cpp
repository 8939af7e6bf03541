// A program that stands in for others in the test prefix: its copies carry
// whatever version block a test gives them (WriteVersionedProgram). As
// sfc.exe, given /SCANFILE=<path>, it restores the file as Windows would,
// from C:\orvex-tests\genuine, and notes its command line in
// C:\orvex-tests\sfc.log.
#include <windows.h>

#include <cwchar>

int main()
{
    const wchar_t* line = GetCommandLineW();
    HANDLE log = CreateFileW(L"C:\\orvex-tests\\sfc.log", FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0,
                             nullptr);
    const wchar_t* scan = std::wcsstr(line, L"/SCANFILE=");
    if (log != INVALID_HANDLE_VALUE && scan != nullptr) {
        char text[1024];
        const int length = WideCharToMultiByte(CP_ACP, 0, scan, -1, text, sizeof(text) - 2, nullptr, nullptr);
        DWORD wrote = 0;
        if (length > 0) {
            text[length - 1] = '\n';
            WriteFile(log, text, static_cast<DWORD>(length), &wrote, nullptr);
        }
    }
    if (log != INVALID_HANDLE_VALUE)
        CloseHandle(log);
    if (scan == nullptr)
        return 0;
    wchar_t path[MAX_PATH];
    lstrcpynW(path, scan + 10, MAX_PATH);
    if (path[0] == L'"')
        lstrcpynW(path, path + 1, MAX_PATH);
    if (wchar_t* quote = std::wcschr(path, L'"'))
        *quote = L'\0';
    // The real sfc.exe is a native program: it sees the native system32.
    typedef BOOL(WINAPI * Disable)(PVOID*);
    const Disable disable = reinterpret_cast<Disable>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "Wow64DisableWow64FsRedirection")));
    PVOID previous = nullptr;
    if (disable != nullptr)
        disable(&previous);
    const wchar_t* name = std::wcsrchr(path, L'\\');
    wchar_t genuine[MAX_PATH];
    if (name == nullptr || std::wcslen(name) + 24 >= MAX_PATH)
        return 1;
    lstrcpyW(genuine, L"C:\\orvex-tests\\genuine");
    lstrcatW(genuine, name);
    return CopyFileW(genuine, path, FALSE) ? 0 : 2;
}
