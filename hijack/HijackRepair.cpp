#include "HijackRepair.h"

#include "system/FileProtection.h"
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

// True when `path` is a full drive path that the system's conversion to the
// NT form leaves as it is: that conversion turns "/" into "\", resolves "."
// and "..", drops the dots and spaces that end a name and merges repeated
// separators, so that "C:\bad\x.exe /..\..\windows\system32\cmd.exe" would
// name cmd.exe. A ":" after the drive would name a stream. Looked at as wide
// text, where the second byte of a double-byte character is never a "\".
bool IsPlainFullPath(const char* path)
{
    wchar_t wide[MAX_PATH];
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) == 0)
        return false;
    wchar_t drive = static_cast<wchar_t>(wide[0] | 0x20);
    if (drive < L'a' || drive > L'z' || wide[1] != L':' || wide[2] != L'\\')
        return false;
    for (const wchar_t* name = wide + 3;; ++name) {
        const wchar_t* end = name;
        while (*end != L'\0' && *end != L'\\') {
            if (*end == L'/' || *end == L':')
                return false;
            ++end;
        }
        if (end == name || end[-1] == L'.' || end[-1] == L' ')  // also "." and ".."
            return false;
        if (*end == L'\0')
            return true;
        name = end;
    }
}

// Whether "清除选定" may queue the debugger text of a hijack for deletion: the
// text is written by whoever set the hijack, so it is acted on only when it
// plainly names one existing file that the system does not protect. A text
// with arguments, or a bare command such as "ntsd -d", names no file; the
// "sticky keys" backdoor points sethc.exe at cmd.exe itself.
bool NamesAFileToRemove(const char* text)
{
    if (!IsPlainFullPath(text))
        return false;
    DWORD attributes = ::GetFileAttributesA(text);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    return !IsProtectedSystemFile(text);
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
    HKEY subkey = nullptr;
    if (::RegOpenKeyExA(key, name, 0, KEY_ALL_ACCESS, &subkey) != ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return 0;
    }

    // The subkey may hold other settings of the program it is named after
    // (exploit protection, heap flags, the compatibility data the system
    // ships), or subkeys of its own: only the hijack goes. The subkey itself
    // goes when the hijack was all it held.
    LONG status = ::RegDeleteValueA(subkey, kDebuggerValue);
    DWORD subkeys = 1;
    DWORD values = 1;
    bool empty = status == ERROR_SUCCESS &&
                 ::RegQueryInfoKeyA(subkey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                    nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                 subkeys == 0 && values == 0;
    ::RegCloseKey(subkey);
    if (empty)
        ::RegDeleteKeyA(key, name);
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

    // The whole debugger text is taken as the program's path.
    char program[MAX_PATH];
    if (list.GetItemText(row, 1, program, sizeof(program)) > 0 && NamesAFileToRemove(program))
        QueueDeleteAtRestart(program);
    ScanHijacks(list);
}
