// Reading registry keys as Windows' own readers do: a key that refuses
// this program's rights is opened with the backup privilege, where it is
// granted, and the subkeys of a key are walked once, each opened so.
#pragma once

#include <windows.h>

// Opens the key `name` of `parent` (in the view) to read its values and
// subkeys; a key that refuses that is opened to back up. A key made
// meanwhile by that open itself is no key that was there:
// ERROR_FILE_NOT_FOUND. ERROR_ACCESS_DENIED when nothing opens it.
LONG OpenKeyToRead(HKEY parent, const wchar_t* name, REGSAM view, HKEY* key);

// Calls visit(subkey, name) for each subkey of an open key, opened by
// OpenKeyToRead and closed after; one that nothing opens is visited with a
// null key. The count is taken once; a subkey that is gone meanwhile is
// skipped and the walk goes on.
template <class Visit> void ForEachSubkey(HKEY key, REGSAM view, Visit visit)
{
    DWORD count = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < count; ++index) {
        wchar_t name[MAX_PATH];
        DWORD length = MAX_PATH;
        LONG status = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        HKEY subkey = nullptr;
        if (status == ERROR_SUCCESS)
            status = OpenKeyToRead(key, name, view, &subkey);
        if (status == ERROR_ACCESS_DENIED)
            visit(nullptr, name);
        if (status != ERROR_SUCCESS)
            continue;
        visit(subkey, name);
        ::RegCloseKey(subkey);
    }
}
