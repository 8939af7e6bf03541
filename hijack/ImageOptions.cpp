#include "ImageOptions.h"

#include "system/NativeApi.h"
#include "system/RegistryValue.h"

#include <cstring>

namespace {
const ULONG kTextBytes = MAX_PATH * sizeof(wchar_t);

// Windows' own reader: every Windows from XP on exports it, Wine does not.
typedef NTSTATUS(NTAPI* KeyOptionReader)(HANDLE key, PCWSTR value, ULONG type, PVOID buffer, ULONG size,
                                          PULONG returned);
KeyOptionReader SystemReader() { return SystemFunction<KeyOptionReader>("ntdll.dll", "LdrQueryImageFileKeyOption"); }

// RtlUnicodeStringToInteger over the string's bytes without its last
// character, which the reader takes for the terminator. The length is the
// reader's 16-bit one; a string too short for a terminator is read as empty,
// where the reader would read past it.
bool StringToNumber(const BYTE* data, DWORD size, DWORD* number)
{
    typedef NTSTATUS(NTAPI * Fn)(const UNICODE_STRING*, ULONG, PULONG);
    const Fn convert = SystemFunction<Fn>("ntdll.dll", "RtlUnicodeStringToInteger");
    USHORT bytes = static_cast<USHORT>(size);
    UNICODE_STRING text;
    text.Length = bytes >= sizeof(wchar_t) ? static_cast<USHORT>(bytes - sizeof(wchar_t)) : 0;
    text.MaximumLength = text.Length;
    text.Buffer = reinterpret_cast<PWSTR>(const_cast<BYTE*>(data));
    ULONG value = 0;
    if (convert == nullptr || convert(&text, 0, &value) < 0)
        return false;
    *number = value;
    return true;
}
}  // namespace

bool ReadOptionText(HKEY key, const wchar_t* value, wchar_t (&text)[kOptionTextRoom])
{
    std::memset(text, 0, sizeof(text));
    if (const KeyOptionReader reader = SystemReader()) {
        ULONG returned = 0;
        return reader(key, value, REG_SZ, text, kTextBytes, &returned) >= 0;
    }
    // The system's reader takes in a value of any size before it judges it.
    WholeValue whole(key, value);
    if (!whole.Read() || (whole.Type() != REG_SZ && whole.Type() != REG_BINARY) || whole.Size() > kTextBytes)
        return false;
    std::memcpy(text, whole.Data(), whole.Size());
    return true;
}

bool ReadOptionNumber(HKEY key, const wchar_t* value, DWORD* number)
{
    DWORD read = 0;
    if (const KeyOptionReader reader = SystemReader()) {
        if (reader(key, value, REG_DWORD, &read, sizeof(read), nullptr) < 0)
            return false;
        *number = read;
        return true;
    }
    WholeValue whole(key, value);
    if (!whole.Read())
        return false;
    if (whole.Type() == REG_SZ)
        return StringToNumber(whole.Data(), whole.Size(), number);
    if ((whole.Type() != REG_DWORD && whole.Type() != REG_BINARY) || whole.Size() > sizeof(read))
        return false;
    std::memcpy(&read, whole.Data(), whole.Size());
    *number = read;
    return true;
}
