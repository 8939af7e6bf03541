#include "RestartQueue.h"

#include "NativeApi.h"

#include <cstdlib>
#include <cstring>

namespace {
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

const size_t kMaxPath = 260;    // longest accepted input path, in bytes
const size_t kMaxNtPath = 264;  // kMaxPath plus the "\??\" prefix

// Another program may rewrite the value between our size query and our read;
// measure again this many times before giving up.
const int kReadAttempts = 8;

// The NT form of `path` ("\??\C:\dir\file" for a drive path), as the ANSI
// bytes the path was given in. Relative paths take on the current directory.
size_t AnsiNtPath(const char* path, char (&ntPath)[kMaxNtPath + 1])
{
    // Each byte becomes one character and back again, so the ANSI bytes of
    // the path pass through the conversion unchanged.
    wchar_t widePath[kMaxPath + 1];
    size_t wideLength = std::mbstowcs(widePath, path, kMaxPath + 1);
    if (wideLength == static_cast<size_t>(-1) || wideLength > kMaxPath)
        return 0;
    widePath[wideLength] = L'\0';

    UNICODE_STRING converted = {};
    if (!DosPathToNtPath(widePath, &converted))
        return 0;
    wchar_t wideNtPath[kMaxNtPath + 1];
    size_t units = converted.Length / sizeof(wchar_t);
    if (units <= kMaxNtPath)
        std::memcpy(wideNtPath, converted.Buffer, units * sizeof(wchar_t));
    ::HeapFree(::GetProcessHeap(), 0, converted.Buffer);
    if (units > kMaxNtPath)
        return 0;
    wideNtPath[units] = L'\0';

    // A current directory holding a character above 255 cannot be narrowed.
    size_t length = std::wcstombs(ntPath, wideNtPath, sizeof(ntPath));
    if (length == static_cast<size_t>(-1) || length == 0 || length > kMaxNtPath)
        return 0;
    ntPath[length] = '\0';
    return length;
}

// Where a new pair goes in a value of `units` characters: at its list-end
// zero, or after the data when that zero is missing. `pad` is the number of
// zeros to put first: one to end a last string that lacks its terminator,
// one for the empty destination of a source that has none (the Session
// Manager reads such a source as a deletion; without it the new path would
// be taken as its destination). The list is walked pair by pair, so an empty
// destination is never taken for the list's end. Returns false when
// non-zero data follows the list end.
bool FindAppendPoint(const wchar_t* text, size_t units, size_t* at, size_t* pad)
{
    size_t pos = 0;
    *pad = 0;
    while (pos < units && *pad == 0) {
        if (text[pos] == L'\0') {  // an empty source ends the list
            for (size_t i = pos; i < units; ++i)
                if (text[i] != L'\0')
                    return false;
            *at = pos;
            return true;
        }
        for (int string = 0; string < 2 && *pad == 0; ++string) {  // source, then destination
            if (pos >= units) {  // a source without destination
                *pad = 1;
                break;
            }
            while (pos < units && text[pos] != L'\0')
                ++pos;
            if (pos >= units)  // a string without terminator
                *pad = string == 0 ? 2 : 1;
            else
                ++pos;  // past the terminator
        }
    }
    *at = units;
    return true;
}
}  // namespace

int QueueDeleteAtRestart(const char* path)
{
    if (path == nullptr)
        return 0;
    size_t pathLength = std::strlen(path);
    if (pathLength == 0 || pathLength > kMaxPath)
        return 0;

    // A read-only file would survive the deletion at restart.
    ::SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);

    char ntPath[kMaxNtPath + 1];
    size_t ntLength = AnsiNtPath(path, ntPath);
    if (ntLength == 0)
        return 0;

    // The value is read and written as wide text so that other programs'
    // pairs come back unchanged, whatever characters they hold; the new path
    // is stored as the ANSI interface would have stored it.
    wchar_t entry[kMaxNtPath + 1];
    int entryUnits = ::MultiByteToWideChar(CP_ACP, 0, ntPath, static_cast<int>(ntLength), entry,
                                           static_cast<int>(kMaxNtPath));
    if (entryUnits <= 0)
        return 0;
    entry[entryUnits] = L'\0';

    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        &key) != ERROR_SUCCESS)
        return 0;

    int written = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD size = 0;
        LONG status = ::RegQueryValueExW(key, kPendingValue, nullptr, nullptr, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND)
            size = 0;
        else if (status != ERROR_SUCCESS)
            break;

        // Room for the value, a byte to even out an odd length, up to two
        // padding zeros, then the pair and the list end.
        size_t room = size + 1 + (2 + entryUnits + 3) * sizeof(wchar_t);
        BYTE* block = static_cast<BYTE*>(::LocalAlloc(LPTR, room));
        if (block == nullptr)
            break;

        DWORD read = size;
        if (size > 0) {
            status = ::RegQueryValueExW(key, kPendingValue, nullptr, nullptr, block, &read);
            if (status != ERROR_SUCCESS || read > size) {  // changed since it was measured
                ::LocalFree(block);
                continue;
            }
        }

        const wchar_t* text = reinterpret_cast<const wchar_t*>(block);
        size_t units = (read + 1) / sizeof(wchar_t);  // an odd last byte is padded by a zero
        size_t at = 0;
        size_t pad = 0;
        if (FindAppendPoint(text, units, &at, &pad)) {
            at += pad;  // the block is zero-filled: the padding zeros are already there
            std::memcpy(block + at * sizeof(wchar_t), entry, (entryUnits + 1) * sizeof(wchar_t));
            DWORD total = static_cast<DWORD>((at + entryUnits + 3) * sizeof(wchar_t));
            written = ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ, block, total) == ERROR_SUCCESS;
        }
        ::LocalFree(block);
        break;
    }
    ::RegCloseKey(key);
    return written;
}
