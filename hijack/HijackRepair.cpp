#include "HijackRepair.h"

#include "HijackProgram.h"
#include "ImageOptions.h"
#include "ShellHijacks.h"
#include "system/KeyLinks.h"
#include "system/KeyOwnership.h"
#include "system/NativeApi.h"
#include "system/Wow64.h"
#include "ui/ResultList.h"
#include "ui/ShowMessage.h"

namespace {
const char kNothingFound[] = "未找到任何项";
const char kNothingSelected[] = "未选定任何项";

// Where each kind of hijack keeps its setting: the key whose subkey (the
// image's) holds the value. A filter's subkey lies below the image's.
struct Setting {
    const wchar_t* key;
    const wchar_t* value;
};
const Setting kSettings[] = {
    { kImageOptionsKey, kDebuggerValue },  // kDebugger
    { kImageOptionsKey, kDebuggerValue },  // kFilterDebugger
    { kSilentExitKey, kMonitorValue },     // kSilentExitMonitor
    { kImageOptionsKey, kVerifierDllsValue },  // kVerifierDlls
};

// Deletes `value` of the subkey `name` of `parent` in the view, and the
// subkey too when the value was all it held: its other values and subkeys
// (GlobalFlag, UseFilter, FilterFullPath, ReportingMode, exploit
// protection, the compatibility data the system ships) stay.
int RemoveValue(HKEY parent, const wchar_t* name, const wchar_t* value, REGSAM view)
{
    HKEY key = nullptr;
    LONG status = OpenKeyToChange(parent, name, KEY_QUERY_VALUE | KEY_SET_VALUE, view, &key);
    if (status != ERROR_SUCCESS)
        return 0;
    status = ::RegDeleteValueW(key, value);
    DWORD subkeys = 1;
    DWORD values = 1;
    bool empty = status == ERROR_SUCCESS &&
                 ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 subkeys == 0 && values == 0;
    ::RegCloseKey(key);
    if (empty)
        DeleteSubkeyInView(parent, name, view);
    return status == ERROR_SUCCESS;
}

// Removes the row's hijack; *linked tells whether it was a link's. A
// filter's subkey lies below the image's, and a link may stand for either.
int RemoveHijack(const HijackRow& row, bool* linked)
{
    if (row.kind >= kOpenCommand)
        return RemoveShellHijack(row, linked);
    const Setting& setting = kSettings[row.kind];
    HKEY parent = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, setting.key, 0, KEY_QUERY_VALUE | row.view, &parent) != ERROR_SUCCESS)
        return 0;
    const wchar_t* name = row.image;
    // A link on the way (another program's settings, or AeDebug's) is the hijack.
    *linked = IsKeyLink(parent, name, row.view);
    if (!*linked && row.kind == kFilterDebugger) {
        HKEY image = nullptr;
        LONG status = ::RegOpenKeyExW(parent, name, 0, KEY_QUERY_VALUE | row.view, &image);
        ::RegCloseKey(parent);
        if (status != ERROR_SUCCESS)
            return 0;
        parent = image;
        name = row.filter;
        *linked = IsKeyLink(parent, name, row.view);
    }
    int removed = *linked ? DeleteKeyLink(parent, name, row.view) : RemoveValue(parent, name, setting.value, row.view);
    ::RegCloseKey(parent);
    return removed;
}
}  // namespace

int DeleteHijackKey(const HijackRow& row)
{
    bool linked = false;
    return RemoveHijack(row, &linked);
}

void ClearAllHijacks(CListCtrl& list)
{
    int count = list.GetItemCount();
    if (count <= 0) {
        ShowMessage(kNothingFound);
        return;
    }
    for (int row = 0; row < count; ++row) {
        if (const HijackRow* hijack = static_cast<const HijackRow*>(RowData(list, row)))
            DeleteHijackKey(*hijack);
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
    // The row's block lasts until the rescan. A verifier row names DLLs,
    // which are no program to delete, and an extension's type names a file
    // type; a text read through a link is another key's.
    if (const HijackRow* hijack = static_cast<const HijackRow*>(RowData(list, row))) {
        bool linked = false;
        const bool removed = RemoveHijack(*hijack, &linked) != 0;
        const HijackKind kind = hijack->kind;
        const bool names = !linked && hijack->text[0] != L'\0';
        // A command that stays would start a program that is gone: every
        // program of the type would then fail to start.
        if (names && removed && (kind == kOpenCommand || kind == kUserCommand || kind == kAutoRun))
            QueueCommandProgram(hijack->text, hijack->expand, hijack->programs);
        else if (names && kind <= kSilentExitMonitor)
            QueueHijackProgram(hijack->text, hijack->programs);
    }
    ScanHijacks(list);
}
