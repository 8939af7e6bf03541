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

LinkState KeyLinkState(HKEY parent, const wchar_t* name, REGSAM view)
{
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key);
    if (status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND ? kNoLink : kCannotTell;
    DWORD type = REG_NONE;
    status = ::RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr);
    ::RegCloseKey(key);
    if (status == ERROR_SUCCESS)
        return type == REG_LINK ? kLink : kNoLink;
    return status == ERROR_FILE_NOT_FOUND ? kNoLink : kCannotTell;
}

LinkState FindLinkOnTheWay(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t baseLength, REGSAM view)
{
    // Each key is looked at through its parent, opened as itself in turn:
    // no key on the way is then reached through a link.
    wchar_t kept = path[baseLength];
    path[baseLength] = L'\0';
    HKEY parent = nullptr;
    LONG status = ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent);
    path[baseLength] = kept;
    if (status != ERROR_SUCCESS)
        return kCannotTell;
    LinkState state = kNoLink;
    for (size_t at = baseLength; state == kNoLink && path[at] == L'\\';) {
        size_t end = at + 1 + std::wcscspn(path + at + 1, L"\\");
        wchar_t name[kKeyPathRoom];
        std::wmemcpy(name, path + at + 1, end - at - 1);
        name[end - at - 1] = L'\0';
        state = KeyLinkState(parent, name, view);
        HKEY key = nullptr;
        if (state == kNoLink && ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE | view, &key) !=
                                    ERROR_SUCCESS)
            break;  // not there: nothing below it to change
        ::RegCloseKey(parent);
        parent = key;
        if (state != kNoLink)
            path[end] = L'\0';
        at = end;
    }
    if (parent != nullptr)
        ::RegCloseKey(parent);
    return state;
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
        if (name == nullptr || ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent) != ERROR_SUCCESS)
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
