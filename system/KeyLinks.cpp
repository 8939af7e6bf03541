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
    // A key that refuses to show its values is told by its path alone,
    // opened with whatever rights it grants: a plain key is the same key
    // opened either way.
    REGSAM access = KEY_QUERY_VALUE;
    HKEY itself = nullptr;
    LONG status = ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access | view, &itself);
    if (status == ERROR_ACCESS_DENIED) {
        access = MAXIMUM_ALLOWED;
        status = ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access | view, &itself);
    }
    if (status != ERROR_SUCCESS)
        return status == ERROR_FILE_NOT_FOUND ? kNoLink : kCannotTell;
    DWORD type = REG_LINK;
    status = access == MAXIMUM_ALLOWED ? ERROR_SUCCESS
                                       : ::RegQueryValueExW(itself, kLinkValue, nullptr, &type, nullptr, nullptr);
    LinkState state = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? kNoLink : kCannotTell;
    HKEY through = nullptr;
    if (status == ERROR_SUCCESS && type == REG_LINK) {
        // Opened as a key, a link is the key it leads to, or nothing that
        // opens with the same rights.
        wchar_t own[kKeyPathRoom];
        wchar_t led[kKeyPathRoom];
        state = ::RegOpenKeyExW(parent, name, 0, access | view, &through) != ERROR_SUCCESS ? kLink
                : !KeyPathOf(itself, own, kKeyPathRoom) || !KeyPathOf(through, led, kKeyPathRoom)
                    ? kCannotTell
                : SameName(own, led) ? kNoLink
                                     : kLink;
    }
    if (through != nullptr)
        ::RegCloseKey(through);
    ::RegCloseKey(itself);
    return state;
}

size_t TrustedLength(const wchar_t* path)
{
    const wchar_t* second = std::wcschr(path, L'\\');
    const wchar_t* third = second != nullptr ? std::wcschr(second + 1, L'\\') : nullptr;
    return third != nullptr ? static_cast<size_t>(third - path) : std::wcslen(path);
}

ClassesPlace UserClassesPlace(HKEY classes)
{
    const wchar_t kMachineHive[] = L"\\REGISTRY\\MACHINE\\";
    const wchar_t kUserHive[] = L"\\REGISTRY\\USER\\";
    const wchar_t kClassesHive[] = L"_Classes";
    wchar_t path[kKeyPathRoom];
    wchar_t own[kKeyPathRoom];
    HKEY software = nullptr;
    if (!KeyPathOf(classes, path, kKeyPathRoom) ||
        ::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_QUERY_VALUE, &software) != ERROR_SUCCESS)
        return kElsewhere;
    const bool read = KeyPathOf(software, own, kKeyPathRoom - 8);
    ::RegCloseKey(software);
    if (read && SameName(::lstrcatW(own, L"\\Classes"), path))
        return kUsersOwn;
    // The hive where Windows links a user's classes to.
    const size_t length = std::wcslen(path);
    const size_t users = std::wcslen(kUserHive);
    const size_t suffix = std::wcslen(kClassesHive);
    if (length > users + suffix && std::wcschr(path + users, L'\\') == nullptr &&
        SameName(path + length - suffix, kClassesHive)) {
        path[users] = L'\0';
        return SameName(path, kUserHive) ? kUsersOwn : kElsewhere;
    }
    const size_t machine = std::wcslen(kMachineHive);
    path[length < machine ? length : machine] = L'\0';
    return SameName(path, kMachineHive) ? kMachines : kElsewhere;
}

LinkState FindLinkOnTheWay(HKEY root, wchar_t (&path)[kKeyPathRoom], size_t trusted, REGSAM view)
{
    // Each key is looked at through its parent, opened as itself in turn:
    // no key on the way is then reached through a link.
    HKEY parent = nullptr;
    LinkState state = kNoLink;
    if (trusted > 0) {
        wchar_t kept = path[trusted];
        path[trusted] = L'\0';
        LONG status = ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent);
        const bool classes = root == HKEY_CURRENT_USER && SameName(path, L"Software\\Classes");
        path[trusted] = kept;
        if (status != ERROR_SUCCESS)
            return status == ERROR_FILE_NOT_FOUND ? kNoLink : kCannotTell;  // not there: nothing below it
        if (classes && UserClassesPlace(parent) == kElsewhere)
            state = kCannotTell;
    }
    const size_t length = std::wcslen(path);
    for (size_t from = trusted == 0 ? 0 : trusted + 1; state == kNoLink && from < length;) {
        const size_t end = from + std::wcscspn(path + from, L"\\");
        wchar_t name[kKeyPathRoom];
        std::wmemcpy(name, path + from, end - from);
        name[end - from] = L'\0';
        HKEY above = parent != nullptr ? parent : root;
        state = KeyLinkState(above, name, view);
        HKEY key = nullptr;
        if (state == kNoLink) {
            // The next key is opened through this one, which needs no
            // right to it.
            const LONG status = ::RegOpenKeyExW(above, name, REG_OPTION_OPEN_LINK, MAXIMUM_ALLOWED | view, &key);
            if (status == ERROR_FILE_NOT_FOUND)
                break;  // not there: nothing below it to change
            if (status != ERROR_SUCCESS)
                state = kCannotTell;
        }
        if (parent != nullptr)
            ::RegCloseKey(parent);
        parent = key;
        if (state != kNoLink)
            path[end] = L'\0';
        from = end + 1;
    }
    if (parent != nullptr)
        ::RegCloseKey(parent);
    return state;
}

int DeleteKeyLink(HKEY parent, const wchar_t* name, REGSAM view)
{
    HKEY link = nullptr;
    if (KeyLinkState(parent, name, view) != kLink ||
        ::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, DELETE | view, &link) != ERROR_SUCCESS)
        return 0;
    int deleted = DeleteOpenKey(link);
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
