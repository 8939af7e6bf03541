#include "KeyLinks.h"

#include "NativeApi.h"
#include "Wow64.h"

#include <cwchar>

namespace {
const wchar_t kLinkValue[] = L"SymbolicLinkValue";

// Cuts `path` at its last "\": `path` then names the parent, and the
// result the subkey; null when there is none.
wchar_t* CutLast(wchar_t* path)
{
    wchar_t* last = std::wcsrchr(path, L'\\');
    if (last == nullptr)
        return nullptr;
    *last = L'\0';
    return last + 1;
}
}  // namespace

bool IsSubkeyItself(HKEY parent, HKEY key, const wchar_t* name)
{
    wchar_t expected[kKeyPathRoom];
    wchar_t found[kKeyPathRoom];
    if (!KeyPathOf(parent, expected, kKeyPathRoom) || !KeyPathOf(key, found, kKeyPathRoom) ||
        std::wcslen(expected) + 1 + std::wcslen(name) >= kKeyPathRoom)
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

LinkState FindLinkOnTheWay(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view)
{
    for (size_t at = baseLength; path[at] == L'\\';) {
        size_t end = at + 1 + std::wcscspn(path + at + 1, L"\\");
        wchar_t name[kKeyPathRoom];
        std::wmemcpy(name, path + at + 1, end - at - 1);
        name[end - at - 1] = L'\0';
        path[at] = L'\0';
        HKEY parent = nullptr;
        bool linked = ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent) == ERROR_SUCCESS &&
                      IsKeyLink(parent, name, view);
        if (parent != nullptr)
            ::RegCloseKey(parent);
        path[at] = L'\\';
        if (linked) {
            path[end] = L'\0';
            return kLink;
        }
        at = end;
    }
    return kNoLink;
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

int DeleteKeyLinkAt(HKEY root, const wchar_t* path, REGSAM view)
{
    wchar_t parentPath[kKeyPathRoom];
    ::lstrcpynW(parentPath, path, kKeyPathRoom);
    const wchar_t* name = CutLast(parentPath);
    HKEY parent = nullptr;
    if (name == nullptr || ::RegOpenKeyExW(root, parentPath, 0, KEY_QUERY_VALUE | view, &parent) != ERROR_SUCCESS)
        return 0;
    int deleted = DeleteKeyLink(parent, name, view);
    ::RegCloseKey(parent);
    return deleted;
}

void DeleteEmptyKeys(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view)
{
    while (std::wcslen(path) > baseLength) {
        const wchar_t* name = CutLast(path);
        HKEY parent = nullptr;
        if (name == nullptr || std::wcslen(path) < baseLength ||
            ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent) != ERROR_SUCCESS)
            return;
        HKEY key = nullptr;
        DWORD subkeys = 1;
        DWORD values = 1;
        bool empty = ::RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS &&
                     IsSubkeyItself(parent, key, name) &&
                     ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                        nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                     subkeys == 0 && values == 0;
        if (key != nullptr)
            ::RegCloseKey(key);
        bool deleted = empty && DeleteSubkeyInView(parent, name, view);
        ::RegCloseKey(parent);
        if (!deleted)
            return;
    }
}
