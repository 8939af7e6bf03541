#include "KeyLinks.h"

#include "NativeApi.h"

#include <cwchar>

namespace {
const wchar_t kLinkValue[] = L"SymbolicLinkValue";
const size_t kPathRoom = 1024;
}  // namespace

bool IsSubkeyItself(HKEY parent, HKEY key, const wchar_t* name)
{
    wchar_t expected[kPathRoom];
    wchar_t found[kPathRoom];
    if (!KeyPathOf(parent, expected, kPathRoom) || !KeyPathOf(key, found, kPathRoom) ||
        std::wcslen(expected) + 1 + std::wcslen(name) >= kPathRoom)
        return false;
    ::lstrcatW(expected, L"\\");
    ::lstrcatW(expected, name);
    return SameName(expected, found);
}

bool IsKeyLink(HKEY parent, const wchar_t* name, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    bool link = !IsSubkeyItself(parent, key, name);
    ::RegCloseKey(key);
    return link;
}

int DeleteKeyLink(HKEY parent, const wchar_t* name, REGSAM view)
{
    HKEY link = nullptr;
    if (::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | DELETE | view, &link) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    int deleted = ::RegQueryValueExW(link, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
                  type == REG_LINK && DeleteOpenKey(link);
    ::RegCloseKey(link);
    return deleted;
}
