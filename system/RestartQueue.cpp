#include "RestartQueue.h"

#include "NativeApi.h"
#include "Wow64.h"

#include <cstring>
#include <cwchar>

namespace {
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Limits in characters of a wide path, or in bytes of an ANSI one.
const size_t kMaxPath = 260;    // longest accepted input path
const size_t kMaxNtPath = 264;  // kMaxPath plus the "\??\" prefix

// Another program may rewrite the value between our size query and our read;
// measure again this many times before giving up.
const int kReadAttempts = 8;

// The NT form of `path` ("\??\C:\dir\file" for a drive path). Relative
// paths take on the current directory. Returns the length in characters, or
// 0 when it cannot be made or is longer than kMaxNtPath characters.
size_t NtForm(const wchar_t* path, wchar_t (&ntPath)[kMaxNtPath + 1])
{
    UNICODE_STRING converted = {};
    if (!DosPathToNtPath(path, &converted))
        return 0;
    size_t units = converted.Length / sizeof(wchar_t);
    if (units <= kMaxNtPath)
        std::memcpy(ntPath, converted.Buffer, units * sizeof(wchar_t));
    ::HeapFree(::GetProcessHeap(), 0, converted.Buffer);
    if (units > kMaxNtPath)
        return 0;
    ntPath[units] = L'\0';
    return units;
}

// Where a new pair goes in a list of `units` characters: at its list-end
// zero, or after its last pair when that zero is missing. False when the
// value is not a list of whole pairs (a string without its terminator, a
// source without a destination, data after the list end): what another
// program meant by it is unknown, and it is left as it is. The list is
// walked pair by pair, so an empty destination is never taken for its end.
bool FindAppendPoint(const wchar_t* text, size_t units, size_t* at)
{
    size_t pos = 0;
    while (pos < units) {
        if (text[pos] == L'\0') {  // an empty source ends the list
            for (size_t i = pos; i < units; ++i)
                if (text[i] != L'\0')
                    return false;
            *at = pos;
            return true;
        }
        for (int string = 0; string < 2; ++string) {  // source, then destination
            if (pos >= units)
                return false;
            while (pos < units && text[pos] != L'\0')
                ++pos;
            if (pos >= units)
                return false;
            ++pos;  // past the terminator
        }
    }
    *at = units;
    return true;
}
}  // namespace

namespace {
// Appends the pair (entry, empty destination) to the value.
int AppendPair(const wchar_t* entry, size_t entryUnits)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                        &key) != ERROR_SUCCESS)
        return 0;
    int written = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD type = REG_MULTI_SZ;
        DWORD size = 0;
        LONG status = ::RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size);
        if (status == ERROR_FILE_NOT_FOUND) {
            type = REG_MULTI_SZ;
            size = 0;
        } else if (status != ERROR_SUCCESS) {
            break;
        }
        // A value of another type is no list of pairs, and the Session
        // Manager ignores it; appended to, it would become one.
        if (type != REG_MULTI_SZ)
            break;

        // Room for the value, then the pair and the list end.
        size_t room = size + (entryUnits + 3) * sizeof(wchar_t);
        BYTE* block = static_cast<BYTE*>(::LocalAlloc(LPTR, room));
        if (block == nullptr)
            break;

        DWORD read = size;
        if (size > 0) {
            status = ::RegQueryValueExW(key, kPendingValue, nullptr, &type, block, &read);
            if (status != ERROR_SUCCESS || read > size || type != REG_MULTI_SZ) {  // changed since it was measured
                ::LocalFree(block);
                continue;
            }
        }

        // An odd length is no wide text.
        size_t at = 0;
        if (read % sizeof(wchar_t) == 0 &&
            FindAppendPoint(reinterpret_cast<const wchar_t*>(block), read / sizeof(wchar_t), &at)) {
            // The block is zero-filled: the empty destination and the list end are already there.
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

// Queues the file `path`, whose NT form is `entry`. The value is read and
// written as wide text, so that other programs' pairs come back unchanged
// whatever characters they hold.
int Queue(const wchar_t* path, const wchar_t* entry, size_t entryUnits)
{
    int written = AppendPair(entry, entryUnits);
    // A read-only file would survive the deletion at restart; a file that
    // is not queued keeps its attributes. The path is the native file's,
    // as the Session Manager resolves it.
    if (written) {
        NativeFileSystem native;
        ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    }
    return written;
}
}  // namespace

int QueueDeleteAtRestart(const wchar_t* path)
{
    if (path == nullptr)
        return 0;
    size_t pathLength = std::wcslen(path);
    wchar_t entry[kMaxNtPath + 1];
    size_t entryUnits = pathLength > 0 && pathLength <= kMaxPath ? NtForm(path, entry) : 0;
    return entryUnits > 0 ? Queue(path, entry, entryUnits) : 0;
}

int QueueDeleteAtRestart(const char* path)
{
    if (path == nullptr)
        return 0;
    size_t pathLength = std::strlen(path);
    if (pathLength == 0 || pathLength > kMaxPath)
        return 0;

    // Read in the ANSI code page, so that a double-byte character whose
    // second byte is 0x5C stays one character and is never taken for a "\";
    // bytes that are no text in that code page are refused. Here the limits
    // count bytes of that code page.
    wchar_t widePath[kMaxPath + 1];
    wchar_t entry[kMaxNtPath + 1];
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, widePath, kMaxPath + 1) == 0)
        return 0;
    size_t entryUnits = NtForm(widePath, entry);
    int bytes = entryUnits > 0 ? ::WideCharToMultiByte(CP_ACP, 0, entry, static_cast<int>(entryUnits), nullptr, 0,
                                                      nullptr, nullptr)
                               : 0;
    if (bytes <= 0 || static_cast<size_t>(bytes) > kMaxNtPath)
        return 0;
    return Queue(widePath, entry, entryUnits);
}
