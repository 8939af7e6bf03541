#include "Findings.h"

#include "system/KeyLinks.h"
#include "system/NativeApi.h"
#include "system/Wow64.h"

#include <cwchar>

namespace {

// The program file types, which the shell starts every program of with
// their open command, and Windows' own texts for them.
struct FileType {
    const wchar_t* type;
    const wchar_t* extension;
    const wchar_t* command;
    bool runAs;  // Windows gives the type a runas verb
};
const FileType kFileTypes[] = {
    { L"exefile", L".exe", L"\"%1\" %*", true },   { L"comfile", L".com", L"\"%1\" %*", true },
    { L"batfile", L".bat", L"\"%1\" %*", true },   { L"cmdfile", L".cmd", L"\"%1\" %*", true },
    { L"piffile", L".pif", L"\"%1\" %*", false },  { L"scrfile", L".scr", L"\"%1\" /S", false },
};

// The ProgIDs whose open command Windows' auto-elevating programs start
// with administrator rights and no prompt: fodhelper and computerdefaults
// read ms-settings, eventvwr and compmgmtlauncher mscfile, sdclt Folder,
// slui and changepk Launcher.SystemSettings. Windows writes none of them
// for the user.
const wchar_t* const kElevatedProgIds[] = { L"ms-settings", L"mscfile", L"Folder", L"Launcher.SystemSettings" };

// The verbs whose commands may be taken over, the words for them, and
// Windows' own text of a machine's command for the type (null: the
// type's open command).
struct Verb {
    const wchar_t* name;
    const wchar_t* words;
    const wchar_t* own;
};
const Verb kVerbs[] = { { L"open", L"打开", nullptr }, { L"runas", L"管理员运行", L"\"%1\" %*" } };

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
// program and listed.
void FindTypeValue(HijackKind kind, REGSAM view, const wchar_t* type, const Verb* verb, const wchar_t* own,
                   Findings& found)
{
    const KindRule& rule = RuleOf(kind);
    wchar_t below[kKeyPathRoom];
    wchar_t path[kKeyPathRoom];
    ::wsprintfW(below, rule.key, type, verb != nullptr ? verb->name : L"");
    Finding finding = {};
    finding.kind = kind;
    finding.view = view;
    finding.key = path;
    finding.subject = type;
    finding.detail = verb != nullptr ? verb->words : nullptr;
    HKEY key = nullptr;
    if (!JoinKey(rule.base, below, path) || (finding.programs = ProgramsReading(path, view)) == 0 ||
        ::RegOpenKeyExW(rule.root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    AddIfListed(finding, key, own, found);
    ::RegCloseKey(key);
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
void FindVerbSettings(const TypeKinds& kinds, REGSAM view, const wchar_t* type, const Verb& verb, const wchar_t* own,
                      Findings& found)
{
    FindTypeValue(kinds.command, view, type, &verb, own, found);
    FindTypeValue(kinds.isolatedCommand, view, type, &verb, own, found);
    FindTypeValue(kinds.delegateExecute, view, type, &verb, nullptr, found);
}

// Every setting of a type, in the view: its primary verb, its verbs'
// settings, its CurVer and its extension's type.
void FindTypeSettings(const TypeKinds& kinds, REGSAM view, const FileType& type, Findings& found)
{
    FindTypeValue(kinds.primaryVerb, view, type.type, nullptr, nullptr, found);
    for (const Verb& verb : kVerbs)
        FindVerbSettings(kinds, view, type.type, verb, verb.own != nullptr ? verb.own : type.command, found);
    FindTypeValue(kinds.curVer, view, type.type, nullptr, nullptr, found);
    FindTypeValue(kinds.extensionType, view, type.extension, nullptr, type.type, found);
}

// Sets the default value of the key `path` of the machine's, made anew.
void SetWindowsOwn(const wchar_t* path, const wchar_t* text, REGSAM view)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return;
    ::RegSetValueExW(key, L"", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                     static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

}  // namespace

void RemakeWindowsOwnTypes(const wchar_t* link, REGSAM view)
{
    const wchar_t* classes = RuleOf(kOpenCommand).base;
    for (const FileType& type : kFileTypes) {
        wchar_t below[kKeyPathRoom];
        wchar_t path[kKeyPathRoom];
        for (const Verb& verb : kVerbs) {
            ::wsprintfW(below, RuleOf(kOpenCommand).key, type.type, verb.name);
            if ((verb.own == nullptr || type.runAs) && JoinKey(classes, below, path) && LiesAtOrBelow(path, link))
                SetWindowsOwn(path, verb.own != nullptr ? verb.own : type.command, view);
        }
        if (JoinKey(classes, type.extension, path) && LiesAtOrBelow(path, link))
            SetWindowsOwn(path, type.type, view);
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
        FindVerbSettings(kUserKinds, 0, progId, kVerbs[0], nullptr, found);
        FindTypeValue(kUserCurVer, 0, progId, nullptr, nullptr, found);
    }
}
