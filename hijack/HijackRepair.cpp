#include "HijackRepair.h"

#include "system/NativeApi.h"
#include "system/RestartQueue.h"
#include "ui/ResultList.h"
#include "ui/ShowMessage.h"

namespace {
const char kImageOptionsKey[] =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char kDebuggerValue[] = "debugger";

// The example subkey that ships with the system; it is never a hijack.
const char kTemplateSubkey[] = "Your Image File Name Here without a path";
const size_t kTemplateLength = sizeof(kTemplateSubkey) - 1;

const char kNothingFound[] = "未找到任何项";
const char kNothingSelected[] = "未选定任何项";

// Reads the debugger text of an open subkey into `text`. False when the
// value is absent, too long, or not a plain string.
bool ReadDebugger(HKEY subkey, char (&text)[MAX_PATH])
{
    DWORD size = 0;
    if (::RegQueryValueExA(subkey, kDebuggerValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS ||
        size >= MAX_PATH)
        return false;

    // One byte stays free: a value stored without its terminator is ended here.
    DWORD type = 0;
    DWORD read = sizeof(text) - 1;
    if (::RegQueryValueExA(subkey, kDebuggerValue, nullptr, &type, reinterpret_cast<BYTE*>(text),
                           &read) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text[read < sizeof(text) ? read : sizeof(text) - 1] = '\0';
    return true;
}
}  // namespace

void ScanHijacks(CListCtrl& list)
{
    ResultListFill fill(list);

    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;

    DWORD count = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return;
    }

    HKEY subkey = nullptr;
    for (DWORD index = 0; index < count; ++index) {
        char name[MAX_PATH];
        LONG status = ::RegEnumKeyA(key, index, name, sizeof(name));
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            continue;

        if (subkey != nullptr) {
            ::RegCloseKey(subkey);
            subkey = nullptr;
        }
        if (::RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subkey) != ERROR_SUCCESS) {
            subkey = nullptr;
            continue;
        }

        char debugger[MAX_PATH];
        if (!ReadDebugger(subkey, debugger))
            continue;
        if (NativeStrnicmp(name, kTemplateSubkey, kTemplateLength) == 0)
            continue;
        AddResultRow(list, name, debugger);
    }

    if (subkey != nullptr)
        ::RegCloseKey(subkey);
    ::RegCloseKey(key);
}

int DeleteHijackKey(const char* name)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return 0;
    LONG status = ::RegDeleteKeyA(key, name);
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void ClearAllHijacks(CListCtrl& list)
{
    int count = list.GetItemCount();
    if (count <= 0) {
        ShowMessage(kNothingFound);
        return;
    }
    for (int row = 0; row < count; ++row) {
        char name[MAX_PATH];
        if (list.GetItemText(row, 0, name, sizeof(name)) > 0)
            DeleteHijackKey(name);
    }
    ScanHijacks(list);
}

void ClearSelectedHijack(CListCtrl& list)
{
    int row = list.GetSelectionMark();
    if (row == -1) {
        ShowMessage(kNothingSelected);
        return;
    }
    char name[MAX_PATH];
    if (list.GetItemText(row, 0, name, sizeof(name)) > 0)
        DeleteHijackKey(name);

    // The whole debugger text is taken as the program's path, arguments included.
    char program[MAX_PATH];
    if (list.GetItemText(row, 1, program, sizeof(program)) > 0)
        QueueDeleteAtRestart(program);
    ScanHijacks(list);
}
