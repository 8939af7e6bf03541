#include "Findings.h"

#include "system/KeyLinks.h"
#include "system/NativeApi.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {

// The program file types, which the shell starts every program of with
// their open command, and their extensions. Windows gives piffile and
// scrfile no runas verb. Windows' own texts are the table of kinds'.
struct FileType {
    const wchar_t* type;
    const wchar_t* extension;
    bool runAs;
};
const FileType kFileTypes[] = {
    { L"exefile", L".exe", true },  { L"comfile", L".com", true },   { L"batfile", L".bat", true },
    { L"cmdfile", L".cmd", true },  { L"piffile", L".pif", false },  { L"scrfile", L".scr", false },
};

// The ProgIDs whose open command Windows' auto-elevating programs start
// with administrator rights and no prompt: fodhelper and computerdefaults
// read ms-settings, eventvwr and compmgmtlauncher mscfile, sdclt Folder,
// slui and changepk Launcher.SystemSettings. Windows writes none of them
// for the user.
const wchar_t* const kElevatedProgIds[] = { L"ms-settings", L"mscfile", L"Folder", L"Launcher.SystemSettings" };

// The verbs whose commands may be taken over, and the words for them.
struct Verb {
    const wchar_t* name;
    const wchar_t* words;
};
const Verb kVerbs[] = { { L"open", L"打开" }, { L"runas", L"管理员运行" } };

// The kinds of a type's settings, the machine's or the user's.
struct TypeKinds {
    HijackKind primaryVerb, command, isolatedCommand, delegateExecute, curVer, extensionType;
};
const TypeKinds kMachineKinds = { kPrimaryVerb, kOpenCommand, kIsolatedCommand, kDelegateExecute, kCurVer,
                                  kExtensionType };
const TypeKinds kUserKinds = { kUserPrimaryVerb, kUserCommand, kUserIsolatedCommand, kUserDelegateExecute,
                               kUserCurVer, kUserExtensionType };

// Adds the kind's finding for the value of its key, formatted with `type`
// (the finding's subject) and the verb's name, when it is read by any
// program and listed against Windows' own text for them.
void FindTypeValue(HijackKind kind, REGSAM view, const wchar_t* type, const Verb* verb, Findings& found)
{
    const KindRule& rule = RuleOf(kind);
    wchar_t below[kKeyPathRoom];
    wchar_t path[kKeyPathRoom];
    const wchar_t* verbName = verb != nullptr ? verb->name : L"";
    if (std::wcslen(rule.key) + std::wcslen(type) + std::wcslen(verbName) >= kKeyPathRoom)
        return;
    ::wsprintfW(below, rule.key, type, verbName);
    Finding finding = {};
    finding.kind = kind;
    finding.view = view;
    finding.key = path;
    finding.subject = type;
    finding.detail = verb != nullptr ? verb->words : nullptr;
    if (JoinKey(rule.base, below, path) && (finding.programs = ProgramsReading(path, view)) != 0)
        FindValueAt(finding, OwnTextOf(rule, type, verb != nullptr ? verb->name : nullptr), found);
}

// Whether the user's classes are the machine's: a user's key that is the
// machine's own (a link leads there) holds no setting of the user's.
bool UserClassesAreTheMachines()
{
    HKEY classes = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, RuleOf(kUserCommand).base, 0, KEY_QUERY_VALUE, &classes) != ERROR_SUCCESS)
        return false;
    const bool machines = UserClassesPlace(classes) == kMachines;
    ::RegCloseKey(classes);
    return machines;
}

// A verb's settings: its command, IsolatedCommand and DelegateExecute.
void FindVerbSettings(const TypeKinds& kinds, REGSAM view, const wchar_t* type, const Verb& verb, Findings& found)
{
    FindTypeValue(kinds.command, view, type, &verb, found);
    FindTypeValue(kinds.isolatedCommand, view, type, &verb, found);
    FindTypeValue(kinds.delegateExecute, view, type, &verb, found);
}

// Every setting of a type, in the view: its primary verb, its verbs'
// settings, its CurVer and its extension's type.
void FindTypeSettings(const TypeKinds& kinds, REGSAM view, const FileType& type, Findings& found)
{
    FindTypeValue(kinds.primaryVerb, view, type.type, nullptr, found);
    for (const Verb& verb : kVerbs)
        FindVerbSettings(kinds, view, type.type, verb, found);
    FindTypeValue(kinds.curVer, view, type.type, nullptr, found);
    FindTypeValue(kinds.extensionType, view, type.extension, nullptr, found);
}

// Sets the default value of the key `path` of the machine's, made anew.
void SetWindowsOwn(const wchar_t* path, const wchar_t* text, REGSAM view)
{
    HKEY key = nullptr;
    if (text == nullptr ||
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

}  // namespace

void RemakeWindowsOwnTypes(const wchar_t* link, REGSAM view)
{
    const KindRule& commands = RuleOf(kOpenCommand);
    const KindRule& extensions = RuleOf(kExtensionType);
    for (const FileType& type : kFileTypes) {
        wchar_t below[kKeyPathRoom];
        wchar_t path[kKeyPathRoom];
        for (const Verb& verb : kVerbs) {
            const bool windowsHas = type.runAs || verb.name == kVerbs[0].name;
            if (windowsHas && CommandKeyOf(type.type, verb.name, below, kKeyPathRoom) &&
                JoinKey(commands.base, below, path) && LiesAtOrBelow(path, link))
                SetWindowsOwn(path, OwnTextOf(commands, type.type, verb.name), view);
        }
        if (JoinKey(extensions.base, type.extension, path) && LiesAtOrBelow(path, link))
            SetWindowsOwn(path, OwnTextOf(extensions, type.extension, nullptr), view);
    }
}

// The machine's settings of the file types, in each registry view: each
// that is there and is not Windows' own.
void FindMachineTypes(HijackKind kind, Findings& found)
{
    REGSAM views[2];
    for (int i = 0, count = ViewsOf(RuleOf(kind), views); i < count; ++i) {
        for (const FileType& type : kFileTypes)
            FindTypeSettings(kMachineKinds, views[i], type, found);
    }
}

// A user's settings of the file types: Windows writes none of them, and the
// shell prefers each to the machine's.
void FindUserTypes(HijackKind, Findings& found)
{
    if (UserClassesAreTheMachines())
        return;
    for (const FileType& type : kFileTypes)
        FindTypeSettings(kUserKinds, 0, type, found);
    // Another verb of these, such as a folder's context-menu entry, is none.
    for (const wchar_t* progId : kElevatedProgIds) {
        FindVerbSettings(kUserKinds, 0, progId, kVerbs[0], found);
        FindTypeValue(kUserCurVer, 0, progId, nullptr, found);
    }
}
