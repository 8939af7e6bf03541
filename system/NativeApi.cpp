#include "NativeApi.h"

#include <cwchar>

namespace {
const int kKeyNameInformation = 3;    // KEY_INFORMATION_CLASS
const int kFileNameInformation = 9;   // FILE_INFORMATION_CLASS

template <class F> F NtdllFunction(const char* name) { return SystemFunction<F>("ntdll.dll", name); }

// Copies a name that the system returned as a length in bytes and the
// characters after it (KEY_NAME_INFORMATION, FILE_NAME_INFORMATION).
bool CopyCountedName(const BYTE* info, ULONG returned, wchar_t* path, size_t capacity)
{
    ULONG bytes = *reinterpret_cast<const ULONG*>(info);
    size_t units = bytes / sizeof(wchar_t);
    if (returned < sizeof(ULONG) || bytes > returned - sizeof(ULONG) || units == 0 || units >= capacity)
        return false;
    std::wmemcpy(path, reinterpret_cast<const wchar_t*>(info + sizeof(ULONG)), units);
    path[units] = L'\0';
    return true;
}
}  // namespace

BOOL DosPathToNtPath(const wchar_t* dosPath, UNICODE_STRING* ntPath)
{
    typedef BOOLEAN(NTAPI * Fn)(PCWSTR, PUNICODE_STRING, PCWSTR*, void*);
    const Fn convert = NtdllFunction<Fn>("RtlDosPathNameToNtPathName_U");
    if (convert == nullptr)
        return FALSE;
    return convert(dosPath, ntPath, nullptr, nullptr) ? TRUE : FALSE;
}

namespace {
// Whether the first `length` characters of two names are the same name.
bool SameStart(const wchar_t* a, const wchar_t* b, size_t length)
{
    typedef BOOLEAN(NTAPI * Fn)(const UNICODE_STRING*, const UNICODE_STRING*, BOOLEAN);
    const Fn equal = NtdllFunction<Fn>("RtlEqualUnicodeString");
    if (equal == nullptr || length > 0x7FFF)
        return false;
    const USHORT bytes = static_cast<USHORT>(length * sizeof(wchar_t));
    UNICODE_STRING first = { bytes, bytes, const_cast<wchar_t*>(a) };
    UNICODE_STRING second = { bytes, bytes, const_cast<wchar_t*>(b) };
    return equal(&first, &second, TRUE) != FALSE;
}
}  // namespace

bool IsVistaOrLater() { return LOBYTE(LOWORD(::GetVersion())) >= 6; }

bool SameName(const wchar_t* a, const wchar_t* b)
{
    const size_t length = std::wcslen(a);
    return length == std::wcslen(b) && SameStart(a, b, length);
}

bool LiesAtOrBelow(const wchar_t* path, const wchar_t* above)
{
    const size_t length = std::wcslen(above);
    return std::wcslen(path) >= length && (path[length] == L'\\' || path[length] == L'\0') &&
           SameStart(path, above, length);
}

bool KeyPathOf(HKEY key, wchar_t* path, size_t capacity)
{
    typedef NTSTATUS(NTAPI * Fn)(HANDLE, int, PVOID, ULONG, PULONG);
    const Fn query = NtdllFunction<Fn>("NtQueryKey");
    BYTE info[2048];
    ULONG returned = 0;
    return query != nullptr && query(key, kKeyNameInformation, info, sizeof(info), &returned) >= 0 &&
           CopyCountedName(info, returned, path, capacity);
}

bool FilePathOnVolume(HANDLE file, wchar_t* path, size_t capacity)
{
    typedef NTSTATUS(NTAPI * Fn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, int);
    const Fn query = NtdllFunction<Fn>("NtQueryInformationFile");
    BYTE info[2048];
    IO_STATUS_BLOCK status = {};
    return query != nullptr && query(file, &status, info, sizeof(info), kFileNameInformation) >= 0 &&
           CopyCountedName(info, static_cast<ULONG>(status.Information), path, capacity);
}

bool DeleteOpenKey(HKEY key)
{
    typedef NTSTATUS(NTAPI * Fn)(HANDLE);
    const Fn erase = NtdllFunction<Fn>("NtDeleteKey");
    return erase != nullptr && erase(key) >= 0;
}

bool DeleteValueNamed(HKEY key, const wchar_t* name, size_t length)
{
    typedef NTSTATUS(NTAPI * Fn)(HANDLE, const UNICODE_STRING*);
    const Fn erase = NtdllFunction<Fn>("NtDeleteValueKey");
    const USHORT bytes = static_cast<USHORT>(length * sizeof(wchar_t));
    const UNICODE_STRING counted = { bytes, bytes, const_cast<wchar_t*>(name) };
    return length <= 0x7FFF && erase != nullptr && erase(key, &counted) >= 0;
}
