#include "ShellHijacks.h"

#include "system/KeyLinks.h"
#include "system/KeyOwnership.h"
#include "system/NativeApi.h"
#include "system/RegistryValue.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {
// Below HKLM and HKCU alike.
const wchar_t kClasses[] = L"Software\\Classes";
const wchar_t kMicrosoft[] = L"Software\\Microsoft";
const wchar_t kCommandProcessor[] = L"Command Processor";
const wchar_t kMachineHive[] = L"\\REGISTRY\\MACHINE\\";
const wchar_t kDefaultValue[] = L"";
const wchar_t kIsolatedCommandValue[] = L"IsolatedCommand";
const wchar_t kAutoRunValue[] = L"AutoRun";

// The program file types, which the shell starts every program of with
// their open command, and Windows' own texts for them.
struct FileType {
    const wchar_t* type;
    const wchar_t* extension;
    const wchar_t* command;
};
const FileType kFileTypes[] = {
    { L"exefile", L".exe", L"\"%1\" %*" }, { L"comfile", L".com", L"\"%1\" %*" },
    { L"batfile", L".bat", L"\"%1\" %*" }, { L"cmdfile", L".cmd", L"\"%1\" %*" },
    { L"piffile", L".pif", L"\"%1\" %*" }, { L"scrfile", L".scr", L"\"%1\" /S" },
};

// The verbs whose commands a user's settings may take over, and the words
// for each of their values.
struct Verb {
    const wchar_t* name;
    const wchar_t* commandLabel;   // the default value
    const wchar_t* isolatedLabel;  // IsolatedCommand
};
const Verb kVerbs[] = {
    { L"open", L"%s 打开命令", L"%s 打开命令 (IsolatedCommand)" },
    { L"runas", L"%s 管理员运行命令", L"%s 管理员运行命令 (IsolatedCommand)" },
};
const wchar_t kTypeLabel[] = L"%s 文件类型";
const wchar_t kAutoRunLabel[] = L"命令提示符 AutoRun";

const size_t kKeyRoom = 2 * MAX_PATH;

// Where a kind's key lies: below its root, under this key, which is
// Windows' own (HKCU\Software\Classes is a link of Windows' itself); the
// keys below it are the settings'.
const wchar_t* BaseOf(const HijackRow& row) { return row.kind == kAutoRun ? kMicrosoft : kClasses; }

// "base\sub" into `path`; false when it does not fit.
bool JoinKey(const wchar_t* base, const wchar_t* sub, wchar_t (&path)[kKeyRoom])
{
    if (std::wcslen(base) + 1 + std::wcslen(sub) >= kKeyRoom)
        return false;
    ::lstrcpyW(path, base);
    if (sub[0] != L'\0') {
        ::lstrcatW(path, L"\\");
        ::lstrcatW(path, sub);
    }
    return true;
}

// Lists the value `value` of the row's key when it is a string that
// `isHijack` takes for one; the label is formatted with `name`.
template <class IsHijack>
void AddIfHijack(CListCtrl& list, HijackRow& row, const wchar_t* value, const wchar_t* label, const wchar_t* name,
                 IsHijack isHijack)
{
    wchar_t path[kKeyRoom];
    HKEY key = nullptr;
    if (!JoinKey(BaseOf(row), row.image, path) ||
        ::RegOpenKeyExW(row.root, path, 0, KEY_QUERY_VALUE | row.view, &key) != ERROR_SUCCESS)
        return;
    WholeValue whole(key, value);
    ::RegCloseKey(key);
    wchar_t* text = whole.CopyText();
    if (text == nullptr)
        return;
    if (isHijack(text)) {
        wchar_t shown[MAX_PATH + 64];
        ::wsprintfW(shown, label, name);
        row.value = value;
        row.expand = whole.Type() == REG_EXPAND_SZ;
        AddHijackRow(list, row, shown, L"", text);
    }
    ::LocalFree(text);
}

// The machine's settings of the file types, in one registry view: a
// command or an extension's type that is there and is not Windows' own.
void ScanMachineTypes(CListCtrl& list, REGSAM view)
{
    for (const FileType& type : kFileTypes) {
        HijackRow row = {};
        row.root = HKEY_LOCAL_MACHINE;
        row.view = view;
        wchar_t path[kKeyRoom];
        ::wsprintfW(row.image, L"%s\\shell\\open\\command", type.type);
        if (JoinKey(kClasses, row.image, path) && (row.programs = ProgramsReading(path, view)) != 0) {
            row.kind = kOpenCommand;
            row.restore = type.command;
            AddIfHijack(list, row, kDefaultValue, kVerbs[0].commandLabel, type.type,
                        [&](const wchar_t* text) { return std::wcscmp(text, type.command) != 0; });
        }
        ::lstrcpyW(row.image, type.extension);
        if (JoinKey(kClasses, row.image, path) && (row.programs = ProgramsReading(path, view)) != 0) {
            row.kind = kExtensionType;
            row.restore = type.type;
            AddIfHijack(list, row, kDefaultValue, kTypeLabel, type.extension,
                        [&](const wchar_t* text) { return !SameName(text, type.type); });
        }
    }
}

bool Always(const wchar_t*) { return true; }

// Whether the user's classes are the machine's: a user's key that is the
// machine's own (a link leads there) holds no setting of the user's.
bool UserClassesAreTheMachines()
{
    HKEY classes = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kClasses, 0, KEY_QUERY_VALUE, &classes) != ERROR_SUCCESS)
        return false;
    wchar_t path[1024];
    const size_t hive = std::wcslen(kMachineHive);
    bool machines = false;
    if (KeyPathOf(classes, path, 1024) && std::wcslen(path) > hive) {
        path[hive] = L'\0';
        machines = SameName(path, kMachineHive);
    }
    ::RegCloseKey(classes);
    return machines;
}

// A user's settings of the file types: Windows writes none of them, and the
// shell prefers each to the machine's.
void ScanUserTypes(CListCtrl& list)
{
    if (UserClassesAreTheMachines())
        return;
    const int programs = ProgramsReading(kClasses, 0);
    for (const FileType& type : kFileTypes) {
        HijackRow row = {};
        row.root = HKEY_CURRENT_USER;
        row.programs = programs;
        for (const Verb& verb : kVerbs) {
            row.kind = kUserCommand;
            ::wsprintfW(row.image, L"%s\\shell\\%s\\command", type.type, verb.name);
            AddIfHijack(list, row, kDefaultValue, verb.commandLabel, type.type, Always);
            AddIfHijack(list, row, kIsolatedCommandValue, verb.isolatedLabel, type.type, Always);
        }
        row.kind = kUserExtensionType;
        ::lstrcpyW(row.image, type.extension);
        AddIfHijack(list, row, kDefaultValue, kTypeLabel, type.extension, Always);
    }
}

// cmd.exe runs a non-empty AutoRun of the machine's key of its own view,
// and of the user's key, at every start.
void AddAutoRun(CListCtrl& list, HKEY root, REGSAM view, int programs)
{
    HijackRow row = {};
    row.kind = kAutoRun;
    row.root = root;
    row.view = view;
    row.programs = programs;
    ::lstrcpyW(row.image, kCommandProcessor);
    if (programs != 0)
        AddIfHijack(list, row, kAutoRunValue, kAutoRunLabel, L"", [](const wchar_t* text) { return text[0] != L'\0'; });
}

// Deletes the keys of `path` below `base` that the removal left empty,
// from the deepest up; never a link, whose key is another's.
void DeleteEmptyKeys(HKEY root, const wchar_t* base, wchar_t (&path)[kKeyRoom], REGSAM view)
{
    size_t baseLength = std::wcslen(base);
    for (wchar_t* last = std::wcsrchr(path, L'\\'); last != nullptr && static_cast<size_t>(last - path) >= baseLength;
         last = std::wcsrchr(path, L'\\')) {
        *last = L'\0';
        HKEY parent = nullptr;
        if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent) != ERROR_SUCCESS)
            return;
        const wchar_t* name = last + 1;
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

// The first key below `base` on the way to `path` that is a link to another
// key, cut off there (`path` then ends with the link's name); false when
// there is none.
bool FindLinkOnTheWay(HKEY root, const wchar_t* base, wchar_t (&path)[kKeyRoom], REGSAM view)
{
    for (size_t at = std::wcslen(base); path[at] == L'\\';) {
        size_t end = at + 1 + std::wcscspn(path + at + 1, L"\\");
        wchar_t name[kKeyRoom];
        std::wmemcpy(name, path + at + 1, end - at - 1);
        name[end - at - 1] = L'\0';
        wchar_t kept = path[at];
        path[at] = L'\0';
        HKEY parent = nullptr;
        bool linked = ::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &parent) == ERROR_SUCCESS &&
                      IsKeyLink(parent, name, view);
        if (parent != nullptr)
            ::RegCloseKey(parent);
        path[at] = kept;
        if (linked) {
            path[end] = L'\0';
            return true;
        }
        at = end;
    }
    return false;
}
}  // namespace

void ScanShellHijacks(CListCtrl& list)
{
    REGSAM views[2];
    int count = RegistryViews(views);
    wchar_t processor[kKeyRoom];
    JoinKey(kMicrosoft, kCommandProcessor, processor);
    for (int i = 0; i < count; ++i) {
        ScanMachineTypes(list, views[i]);
        AddAutoRun(list, HKEY_LOCAL_MACHINE, views[i], ProgramsReading(processor, views[i]));
    }
    ScanUserTypes(list);
    AddAutoRun(list, HKEY_CURRENT_USER, 0, ProgramsReading(processor, 0));
}

int RemoveShellHijack(const HijackRow& row, bool* linked)
{
    const wchar_t* base = BaseOf(row);
    wchar_t path[kKeyRoom];
    *linked = false;
    if (!JoinKey(base, row.image, path))
        return 0;
    // A key on the way that is a link is another key's setting: the link
    // goes, and that key stays as it is. A machine's setting, which the
    // shell needs, is then made anew as Windows' own.
    if (FindLinkOnTheWay(row.root, base, path, row.view)) {
        *linked = true;
        wchar_t* name = std::wcsrchr(path, L'\\');
        *name = L'\0';
        HKEY parent = nullptr;
        bool removed = ::RegOpenKeyExW(row.root, path, 0, KEY_QUERY_VALUE | row.view, &parent) == ERROR_SUCCESS &&
                       DeleteKeyLink(parent, name + 1, row.view);
        if (parent != nullptr)
            ::RegCloseKey(parent);
        if (!removed || row.restore == nullptr)
            return removed;
        HKEY made = nullptr;
        if (!JoinKey(base, row.image, path) ||
            ::RegCreateKeyExW(row.root, path, 0, nullptr, 0, KEY_SET_VALUE | row.view, nullptr, &made, nullptr) !=
                ERROR_SUCCESS)
            return 0;
        ::RegCloseKey(made);
    }
    HKEY key = nullptr;
    if (OpenKeyToChange(row.root, path, KEY_QUERY_VALUE | KEY_SET_VALUE, row.view, &key) != ERROR_SUCCESS)
        return 0;
    LONG status = row.restore != nullptr
                      ? ::RegSetValueExW(key, row.value, 0, REG_SZ, reinterpret_cast<const BYTE*>(row.restore),
                                         static_cast<DWORD>((std::wcslen(row.restore) + 1) * sizeof(wchar_t)))
                      : ::RegDeleteValueW(key, row.value);
    ::RegCloseKey(key);
    if (status == ERROR_SUCCESS && row.kind != kAutoRun && row.restore == nullptr)
        DeleteEmptyKeys(row.root, base, path, row.view);
    return status == ERROR_SUCCESS;
}
