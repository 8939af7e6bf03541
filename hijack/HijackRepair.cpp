#include "HijackRepair.h"

#include "Accessibility.h"
#include "HijackProgram.h"
#include "system/KeyLinks.h"
#include "system/KeyOwnership.h"
#include "system/NativeApi.h"
#include "ui/Messages.h"
#include "ui/ResultList.h"
#include "ui/ShowMessage.h"

#include <cwchar>

namespace {
enum Removal {
    kNotRemoved,   // the setting stays: its key refused the change
    kRemoved,      // the setting went
    kLinkRemoved,  // a key on the way was a link, and the link went: the text was another key's
    kLinkStays,    // the same, but the link refused to go
    kUnseen,       // a key on the way could not be told from a link: nothing was changed
};

// Sets the finding's value to Windows' own text, or deletes it; then, as
// the rule says, each key that leaves empty.
Removal ClearValue(const Finding& found, const KindRule& rule, wchar_t (&path)[kKeyPathRoom])
{
    HKEY key = nullptr;
    if (OpenKeyToChange(rule.Root(), path, KEY_QUERY_VALUE | KEY_SET_VALUE, found.view, &key) != ERROR_SUCCESS)
        return kNotRemoved;
    bool changed = false;
    if (found.restore != nullptr)
        changed = ::RegSetValueExW(key, found.value, 0, REG_SZ, reinterpret_cast<const BYTE*>(found.restore),
                                   static_cast<DWORD>((std::wcslen(found.restore) + 1) * sizeof(wchar_t))) ==
                  ERROR_SUCCESS;
    else if (found.valueLength > std::wcslen(found.value))  // a name holding a NUL
        changed = DeleteValueNamed(key, found.value, found.valueLength);
    else
        changed = ::RegDeleteValueW(key, found.value) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    if (!changed)
        return kNotRemoved;
    if (found.restore == nullptr && rule.clearing == kDeleteValueAndEmptyKeys)
        DeleteEmptyKeys(rule.Root(), path, std::wcslen(rule.base), found.view);
    return kRemoved;
}

// Removes the finding's setting. A key on the way that is a link (another
// program's settings, or AeDebug's) is the hijack: the link goes, and the
// key it leads to stays as it is. The machine's program types are then made
// anew as Windows' own, as is a setting the shell needs. A subkey that
// nothing could read is taken back, unless it is a link.
Removal RemoveFinding(const Finding& found)
{
    const KindRule& rule = RuleOf(found.kind);
    if (rule.clearing == kRestoreFile)
        return RestoreAccessibilityProgram(found) ? kRemoved : kNotRemoved;
    wchar_t path[kKeyPathRoom];
    ::lstrcpynW(path, found.key, kKeyPathRoom);
    const LinkState link = FindLinkOnTheWay(rule.Root(), path, TrustedLength(path), found.view);
    if (found.unreadable && link != kLink)
        return link == kCannotTell && !SameName(path, found.key) ? kUnseen
               : TakeBackKey(rule.Root(), found.key, found.view) ? kRemoved
                                                               : kNotRemoved;
    if (link == kNoLink)
        return ClearValue(found, rule, path);
    if (link == kCannotTell)
        return kUnseen;
    if (!DeleteKeyLinkAt(rule.Root(), path, found.view))
        return kLinkStays;
    if (rule.Root() == HKEY_LOCAL_MACHINE)
        RemakeWindowsOwnTypes(path, found.view);
    HKEY made = nullptr;
    ::lstrcpynW(path, found.key, kKeyPathRoom);
    if (found.restore == nullptr ||
        ::RegCreateKeyExW(rule.Root(), path, 0, nullptr, 0, KEY_SET_VALUE | found.view, nullptr, &made, nullptr) !=
            ERROR_SUCCESS)
        return kLinkRemoved;
    ::RegCloseKey(made);
    ClearValue(found, rule, path);
    return kLinkRemoved;
}

// Queues the file the finding's setting starts, by the rule. A command
// that stays would start a program that is gone: every program of the
// type would then fail to start. The whole text of a loader's setting
// names its program also when the key refused the change.
void QueueStartedProgram(const Finding& found, Removal removal)
{
    const Starting starting = RuleOf(found.kind).starting;
    if (removal == kLinkRemoved || removal == kLinkStays || removal == kUnseen ||
        (starting != kStartsWholeText && removal != kRemoved))
        return;
    QueueStartedFiles(found);
}
// Removes the finding's setting, and tells the user of a program file that
// stays replaced: its row stays.
Removal RemoveAndTell(const Finding& found)
{
    const Removal removal = RemoveFinding(found);
    if (removal == kNotRemoved && RuleOf(found.kind).clearing == kRestoreFile) {
        char path[2 * MAX_PATH];
        char message[sizeof(kCannotRestoreFormat) + sizeof(path)];
        if (::WideCharToMultiByte(CP_ACP, 0, found.key, -1, path, sizeof(path), nullptr, nullptr) == 0)
            path[0] = '\0';
        ::wsprintfA(message, kCannotRestoreFormat, path);
        ShowMessage(message);
    }
    return removal;
}
}  // namespace

int DeleteHijackKey(const Finding& found)
{
    const Removal removal = RemoveFinding(found);
    return removal == kRemoved || removal == kLinkRemoved;
}

void ClearAllHijacks(CListCtrl& list)
{
    int count = list.GetItemCount();
    if (count <= 0) {
        ShowMessage(kNothingFound);
        return;
    }
    for (int row = 0; row < count; ++row) {
        if (const Finding* found = static_cast<const Finding*>(RowData(list, row)))
            RemoveAndTell(*found);
    }
    ScanHijacks(list);
}

void ClearSelectedHijack(CListCtrl& list)
{
    int row = SelectedRow(list);
    if (row == -1) {
        ShowMessage(kNothingSelected);
        return;
    }
    // The row's finding lasts until the rescan.
    if (const Finding* found = static_cast<const Finding*>(RowData(list, row)))
        QueueStartedProgram(*found, RemoveAndTell(*found));
    ScanHijacks(list);
}
