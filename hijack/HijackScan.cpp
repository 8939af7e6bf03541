#include "HijackRepair.h"

#include "ImageOptions.h"
#include "ShellHijacks.h"
#include "system/Wow64.h"
#include "ui/ResultList.h"
#include "ui/VisibleText.h"

#include <cwchar>

namespace {
// The example subkey that ships with the system; it is never a hijack.
const wchar_t kTemplateSubkey[] = L"Your Image File Name Here without a path";
const size_t kTemplateLength = sizeof(kTemplateSubkey) / sizeof(wchar_t) - 1;

const REGSAM kRead = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;

// Room for a shown text: every character may show as a code.
const size_t kShownRoom = 4096;

// Compares the start of a subkey name with the template, folding ASCII
// letters only: a name that merely begins with it counts too.
bool IsTemplate(const wchar_t* name)
{
    for (size_t i = 0; i < kTemplateLength; ++i) {
        wchar_t a = name[i] >= L'A' && name[i] <= L'Z' ? name[i] + (L'a' - L'A') : name[i];
        wchar_t b = kTemplateSubkey[i] >= L'A' && kTemplateSubkey[i] <= L'Z' ? kTemplateSubkey[i] + (L'a' - L'A')
                                                                             : kTemplateSubkey[i];
        if (a != b)
            return false;
    }
    return true;
}

// The silent-exit settings are read by the error-reporting service, not the
// loader: a plain string shorter than 260 characters with its terminator,
// and a REG_DWORD.
bool ReadMonitorText(HKEY key, const wchar_t* value, wchar_t (&text)[MAX_PATH])
{
    DWORD type = 0;
    DWORD read = sizeof(text) - sizeof(wchar_t);
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &read) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text[read / sizeof(wchar_t)] = L'\0';
    return text[0] != L'\0';
}

DWORD ReadMonitorFlags(HKEY key, const wchar_t* value)
{
    DWORD type = 0;
    DWORD flags = 0;
    DWORD size = sizeof(flags);
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&flags), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(flags))
        return 0;
    return flags;
}

DWORD ReadNumber(HKEY key, const wchar_t* value)
{
    DWORD number = 0;
    return ReadOptionNumber(key, value, &number) ? number : 0;
}

bool ReadNonEmptyText(HKEY key, const wchar_t* value, wchar_t (&text)[kOptionTextRoom])
{
    return ReadOptionText(key, value, text) && text[0] != L'\0';
}

void AddRow(CListCtrl& list, HijackRow& row, HijackKind kind, const wchar_t* text)
{
    row.kind = kind;
    wchar_t image[kShownRoom] = L"";
    AppendVisible(image, kShownRoom, row.image);
    AddHijackRow(list, row, image, kKindMarks[kind], text);
}

// Walks the subkeys of an open key, calling visit(subkey, name) for each
// that can be read. The count is taken once; a subkey that cannot be read
// is skipped and the walk goes on.
template <class Visit> void ForEachSubkey(HKEY key, REGSAM view, Visit visit)
{
    DWORD count = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; index < count; ++index) {
        wchar_t name[MAX_PATH];
        DWORD length = MAX_PATH;
        LONG status = ::RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        HKEY subkey = nullptr;
        if (status != ERROR_SUCCESS || ::RegOpenKeyExW(key, name, 0, kRead | view, &subkey) != ERROR_SUCCESS)
            continue;
        visit(subkey, name);
        ::RegCloseKey(subkey);
    }
}

// The filters of an image that uses them: each subkey with a FilterFullPath
// gives its debugger to the image started from that path.
void AddFilterRows(CListCtrl& list, HKEY image, HijackRow& row)
{
    ForEachSubkey(image, row.view, [&](HKEY filter, const wchar_t* name) {
        wchar_t path[kOptionTextRoom];
        wchar_t debugger[kOptionTextRoom];
        if (ReadNonEmptyText(filter, kFilterPathValue, path) && ReadOptionText(filter, kDebuggerValue, debugger)) {
            ::lstrcpynW(row.filter, name, MAX_PATH);
            AddRow(list, row, kFilterDebugger, debugger);
        }
    });
    row.filter[0] = L'\0';
}

// Windows starts the monitor when an image whose GlobalFlag asks for it
// exits, if its SilentProcessExit subkey says to launch one.
void AddMonitorRow(CListCtrl& list, HKEY exits, HijackRow& row)
{
    HKEY monitor = nullptr;
    if (::RegOpenKeyExW(exits, row.image, 0, kRead | row.view, &monitor) != ERROR_SUCCESS)
        return;
    wchar_t text[MAX_PATH];
    if ((ReadMonitorFlags(monitor, kReportingModeValue) & kLaunchMonitorMode) && ReadMonitorText(monitor, kMonitorValue, text))
        AddRow(list, row, kSilentExitMonitor, text);
    ::RegCloseKey(monitor);
}

// Lists the hijacks of one registry view. In the 32-bit view, a key that is
// the native key itself was listed with the native view already.
void ScanView(CListCtrl& list, REGSAM view)
{
    const int optionReaders = ProgramsReading(kImageOptionsKey, view);
    const int exitReaders = ProgramsReading(kSilentExitKey, view);
    if (optionReaders == 0 && exitReaders == 0)
        return;
    HKEY options = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, kRead | view, &options) != ERROR_SUCCESS)
        return;
    HKEY exits = nullptr;
    if (exitReaders != 0 && ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSilentExitKey, 0, kRead | view, &exits) != ERROR_SUCCESS)
        exits = nullptr;

    ForEachSubkey(options, view, [&](HKEY image, const wchar_t* name) {
        if (IsTemplate(name))
            return;
        HijackRow row = {};
        row.view = view;
        row.programs = optionReaders;
        row.root = HKEY_LOCAL_MACHINE;
        ::lstrcpynW(row.image, name, MAX_PATH);
        DWORD flags = ReadNumber(image, kGlobalFlagValue);
        if (optionReaders != 0) {
            wchar_t text[kOptionTextRoom];
            if (ReadOptionText(image, kDebuggerValue, text))
                AddRow(list, row, kDebugger, text);
            if (ReadNumber(image, kUseFilterValue) != 0)
                AddFilterRows(list, image, row);
            if ((flags & kVerifierFlag) && ReadNonEmptyText(image, kVerifierDllsValue, text))
                AddRow(list, row, kVerifierDlls, text);
        }
        if (exits != nullptr && (flags & kSilentExitFlag)) {
            row.programs = exitReaders;
            AddMonitorRow(list, exits, row);
        }
    });
    if (exits != nullptr)
        ::RegCloseKey(exits);
    ::RegCloseKey(options);
}
}  // namespace

void AddHijackRow(CListCtrl& list, const HijackRow& row, const wchar_t* label, const wchar_t* mark,
                  const wchar_t* text)
{
    size_t length = std::wcslen(text);
    HijackRow* kept = static_cast<HijackRow*>(::LocalAlloc(LMEM_FIXED, sizeof(HijackRow) + (length + 1) * sizeof(wchar_t)));
    if (kept == nullptr)
        return;
    *kept = row;
    wchar_t* keptText = reinterpret_cast<wchar_t*>(kept + 1);
    std::wmemcpy(keptText, text, length + 1);
    kept->text = keptText;

    // The marks always fit: a label is cut to leave them room.
    wchar_t name[kShownRoom] = L"";
    ::lstrcpynW(name, label, kShownRoom - 64);
    if (row.root == HKEY_CURRENT_USER)
        ::lstrcatW(name, kUserMark);
    if (row.view == KEY_WOW64_32KEY)
        ::lstrcatW(name, kWow64Mark);
    ::lstrcatW(name, mark);
    wchar_t shown[kShownRoom] = L"";
    AppendVisible(shown, kShownRoom, text);
    AddResultRow(list, name, shown, kept);
}

void ScanHijacks(CListCtrl& list)
{
    ResultListFill fill(list);
    REGSAM views[2];
    int count = RegistryViews(views);
    for (int i = 0; i < count; ++i)
        ScanView(list, views[i]);
    ScanShellHijacks(list);
}
