#include "HijackRepair.h"

#include "Findings.h"
#include "ImageOptions.h"
#include "system/KeyWalk.h"
#include "system/Privilege.h"
#include "system/Wow64.h"
#include "ui/ResultList.h"
#include "ui/VisibleText.h"

#include <cwchar>

namespace {
// The example subkey that ships with the system; it is never a hijack.
const wchar_t kTemplateSubkey[] = L"Your Image File Name Here without a path";
const size_t kTemplateLength = sizeof(kTemplateSubkey) / sizeof(wchar_t) - 1;

const REGSAM kRead = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;

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

// The silent-exit settings are read by the error-reporting service, not
// the loader: ReportingMode is a REG_DWORD.
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

// The settings that the loader reads for an image: the image's own, or,
// for an image started from a filter's path, that filter's, each falling
// back to the image's where the filter has none.
struct ImageSettings {
    DWORD flags;      // GlobalFlag
    HKEY dllsKey;     // the key whose VerifierDlls apply
    const wchar_t* dllsPath;
};

// The filters of an image that uses them: each subkey applies to the
// image started from its FilterFullPath, or from any path when it has
// none. A filter's own debugger is a hijack of its own, and so are the
// verifier DLLs it turns on or names itself; a filter that nothing here
// can read, Windows reads. Returns the GlobalFlag bits that any filter
// sets.
DWORD FindFilters(HKEY image, const Finding& ofImage, const ImageSettings& ofImageSettings, Findings& found)
{
    DWORD flags = 0;
    ForEachSubkey(image, ofImage.view, [&](HKEY filter, const wchar_t* name) {
        wchar_t path[kKeyPathRoom];
        wchar_t filterPath[kOptionTextRoom];
        if (!JoinKey(ofImage.key, name, path))
            return;
        Finding finding = ofImage;
        finding.key = path;
        finding.kind = kFilterDebugger;
        if (filter == nullptr) {
            AddUnreadable(finding, found);
            return;
        }
        if (ReadOptionText(filter, kFilterPathValue, filterPath) && filterPath[0] == L'\0')
            return;
        AddIfListed(finding, filter, nullptr, found);

        DWORD own = 0;
        const bool ownFlags = ReadOptionNumber(filter, kGlobalFlagValue, &own);
        wchar_t dlls[kOptionTextRoom];
        const bool ownDlls = ReadOptionText(filter, kVerifierDllsValue, dlls);
        const DWORD applied = ownFlags ? own : ofImageSettings.flags;
        flags |= applied;
        finding.kind = kFilterVerifierDlls;
        if (!(applied & kVerifierFlag) || (!ownDlls && (ofImageSettings.flags & kVerifierFlag)))
            return;  // none, or the image's own, listed with the image
        if (!ownDlls)
            finding.key = ofImageSettings.dllsPath;
        AddIfListed(finding, ownDlls ? filter : ofImageSettings.dllsKey, nullptr, found);
    });
    return flags;
}

// Windows starts the monitor when an image whose GlobalFlag asks for it
// exits, if its SilentProcessExit subkey says to launch one.
void FindMonitor(HKEY exits, const Finding& ofImage, Findings& found)
{
    wchar_t path[kKeyPathRoom];
    HKEY monitor = nullptr;
    Finding finding = ofImage;
    finding.kind = kSilentExitMonitor;
    finding.key = path;
    if (!JoinKey(kSilentExitKey, ofImage.subject, path))
        return;
    const LONG status = OpenKeyToRead(exits, ofImage.subject, ofImage.view, &monitor);
    if (status == ERROR_ACCESS_DENIED)
        AddUnreadable(finding, found);
    if (status != ERROR_SUCCESS)
        return;
    if (ReadMonitorFlags(monitor, kReportingModeValue) & kLaunchMonitorMode)
        AddIfListed(finding, monitor, nullptr, found);
    ::RegCloseKey(monitor);
}

// The image options of one registry view. In the 32-bit view, a key that
// is the native key itself is read with the native view.
void FindImageOptionsInView(REGSAM view, Findings& found)
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
        wchar_t path[kKeyPathRoom];
        if (IsTemplate(name) || !JoinKey(kImageOptionsKey, name, path))
            return;
        Finding finding = {};
        finding.view = view;
        finding.programs = optionReaders;
        finding.key = path;
        finding.subject = name;
        finding.kind = kDebugger;
        if (image == nullptr) {
            AddUnreadable(finding, found);
            return;
        }
        const ImageSettings settings = { ReadNumber(image, kGlobalFlagValue), image, path };
        DWORD flags = settings.flags;
        if (optionReaders != 0)
            AddIfListed(finding, image, nullptr, found);
        // The filters' flags turn on the monitor in this view too, where
        // the image options are the native view's, listed with it.
        Findings filters;
        if (ReadNumber(image, kUseFilterValue) != 0)
            flags |= FindFilters(image, finding, settings, optionReaders != 0 ? found : filters);
        finding.kind = kVerifierDlls;
        if (optionReaders != 0 && (settings.flags & kVerifierFlag))
            AddIfListed(finding, image, nullptr, found);
        finding.programs = exitReaders;
        if (exits != nullptr && (flags & kSilentExitFlag))
            FindMonitor(exits, finding, found);
    });
    if (exits != nullptr)
        ::RegCloseKey(exits);
    ::RegCloseKey(options);
}
}  // namespace

void FindImageOptions(HijackKind kind, Findings& found)
{
    REGSAM views[2];
    for (int i = 0, count = ViewsOf(RuleOf(kind), views); i < count; ++i)
        FindImageOptionsInView(views[i], found);
}

void FindHijacks(Findings& found)
{
    // Windows reads these settings with its own rights (since Vista the
    // kernel reads image options so): the backup privilege comes closest.
    EnablePrivilege("SeBackupPrivilege");
    for (int kind = 0; kind < kKindCount; ++kind) {
        if (const FindKind find = RuleOf(static_cast<HijackKind>(kind)).find)
            find(static_cast<HijackKind>(kind), found);
    }
}

namespace {
// A file's verdict as the publisher cell shows it.
void AppendVerdict(wchar_t* cell, size_t room, const StartedFile& file)
{
    switch (file.trust) {
    case kTrustedSigner: AppendVisible(cell, room, file.signer); break;
    case kUntrustedSigner:
        AppendVisible(cell, room - std::wcslen(kUntrustedWords), file.signer);
        ::lstrcatW(cell, kUntrustedWords);
        break;
    case kBadSignature: ::lstrcatW(cell, kBadSignatureWords); break;
    case kUnsigned: ::lstrcatW(cell, kUnsignedWords); break;
    case kNoFile: ::lstrcatW(cell, kNoFileWords); break;
    default: ::lstrcatW(cell, kUnverifiableWords); break;
    }
}
}  // namespace

void DescribePublisher(const Finding& found, wchar_t (&cell)[kShownRoom])
{
    cell[0] = L'\0';
    if (found.fileCount == 0)
        return;
    // Half the room each, for the two files' verdicts and their marks.
    const size_t each = found.fileCount == 2 ? (kShownRoom - 16) / 2 : kShownRoom;
    wchar_t first[kShownRoom] = L"";
    AppendVerdict(first, each, found.files[0]);
    ::lstrcatW(cell, first);
    if (found.fileCount < 2)
        return;
    wchar_t second[kShownRoom] = L"";
    AppendVerdict(second, each, found.files[1]);
    if (std::wcscmp(first, second) == 0)
        return;
    ::lstrcatW(cell, L" | ");
    ::lstrcatW(cell, second);
    ::lstrcatW(cell, kWow64Mark);
}

void DescribeFinding(const Finding& found, wchar_t (&name)[kShownRoom], wchar_t (&text)[kShownRoom])
{
    const KindRule& rule = RuleOf(found.kind);
    wchar_t marks[64] = L"";
    if (rule.Root() == HKEY_CURRENT_USER)
        ::lstrcatW(marks, kUserMark);
    if (found.view == KEY_WOW64_32KEY)
        ::lstrcatW(marks, kWow64Mark);
    ::lstrcatW(marks, rule.mark);
    if (found.unreadable)
        ::lstrcatW(marks, kUnreadableMark);
    // The subject is cut to leave the label's words and the marks their room.
    const wchar_t* detail = found.detail != nullptr ? found.detail : L"";
    wchar_t subject[kShownRoom] = L"";
    AppendVisible(subject, kShownRoom - std::wcslen(rule.label) - std::wcslen(detail) - std::wcslen(marks),
                  found.subject);
    ::wsprintfW(name, rule.label, subject, detail);
    ::lstrcatW(name, marks);
    // A text that leads on shows where: half the room each.
    const wchar_t kLeadsTo[] = L" → ";
    text[0] = L'\0';
    AppendVisible(text, found.target != nullptr ? kShownRoom / 2 : kShownRoom, found.text);
    if (found.target != nullptr) {
        ::lstrcatW(text, kLeadsTo);
        AppendVisible(text, kShownRoom, found.target);
    }
}

void ScanHijacks(CListCtrl& list)
{
    ResultListFill fill(list);
    Findings found;
    FindHijacks(found);
    while (Finding* finding = found.Take()) {
        wchar_t name[kShownRoom];
        wchar_t text[kShownRoom];
        wchar_t publisher[kShownRoom];
        DescribeFinding(*finding, name, text);
        DescribePublisher(*finding, publisher);
        if (!AddResultRow(list, name, text, publisher, finding))
            ::LocalFree(finding);
    }
}
