#include "Findings.h"

#include "ImageOptions.h"
#include "system/KeyLinks.h"
#include "system/KeyWalk.h"
#include "system/NativeApi.h"
#include "system/RegistryValue.h"
#include "system/SystemVariables.h"
#include "system/Wow64.h"

#include <cstring>
#include <cwchar>

namespace {
size_t Room(const wchar_t* text) { return text != nullptr ? std::wcslen(text) + 1 : 0; }

// Copies the `room` characters of `text` to `at`, returning where they
// went (null for none) and moving `at` past them.
const wchar_t* Place(const wchar_t* text, size_t room, wchar_t*& at)
{
    if (text == nullptr)
        return nullptr;
    const wchar_t* placed = at;
    std::wmemcpy(at, text, room);
    at += room;
    return placed;
}
const wchar_t* Place(const wchar_t* text, wchar_t*& at) { return Place(text, Room(text), at); }

// The text of the value at `index` of the key, read by its place, as
// Windows' query of each value (RtlQueryRegistryValues) passes it on to
// the loader, whatever its type: up to its first NUL, a list of strings
// string by string, shown one after another with "␀" between (a block
// from LocalAlloc, or null for none); its name into `name` (`*length`
// characters, NULs and all).
wchar_t* TextAt(HKEY key, DWORD index, wchar_t* name, DWORD room, DWORD* length)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    *length = room;
    if (::RegEnumValueW(key, index, name, length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return nullptr;
    // Zero-filled: a string stored without its terminator ends here.
    wchar_t* text = static_cast<wchar_t*>(::LocalAlloc(LPTR, size + 2 * sizeof(wchar_t)));
    *length = room;
    if (text != nullptr &&
        ::RegEnumValueW(key, index, name, length, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS) {
        ::LocalFree(text);
        return nullptr;
    }
    // A list ends at its first empty string.
    for (DWORD at = 1; text != nullptr && type == REG_MULTI_SZ && text[0] != L'\0' && at < size / sizeof(wchar_t); ++at) {
        if (text[at] == L'\0' && text[at + 1] == L'\0')
            break;
        if (text[at] == L'\0')
            text[at] = L'\x2400';
    }
    return text;
}

// The error-reporting service reads a plain string shorter than 260
// characters with its terminator.
bool ReadReporterText(HKEY key, const wchar_t* value, wchar_t (&text)[MAX_PATH + 1])
{
    DWORD type = 0;
    DWORD read = MAX_PATH * sizeof(wchar_t) - sizeof(wchar_t);
    if (::RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &read) != ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    text[read / sizeof(wchar_t)] = L'\0';
    return true;
}

// A debugger stored as a REG_EXPAND_SZ, which the loader's reader does not
// take: the same size at most, up to its first NUL.
bool ReadExpandableText(HKEY key, const wchar_t* value, wchar_t (&text)[kOptionTextRoom])
{
    WholeValue whole(key, value);
    if (!whole.Read() || whole.Type() != REG_EXPAND_SZ || whole.Size() > MAX_PATH * sizeof(wchar_t))
        return false;
    std::memset(text, 0, sizeof(text));
    std::memcpy(text, whole.Data(), whole.Size());
    return true;
}

// Whether a path names the same file as Windows' own, each as the native
// programs expand it: a REG_EXPAND_SZ text with the system's variables,
// any other as it is.
bool IsOwnPath(const wchar_t* text, DWORD type, const wchar_t* own)
{
    wchar_t* expanded = type == REG_EXPAND_SZ ? ExpandSystemVariables(text, kNativePrograms, false) : nullptr;
    wchar_t* ownExpanded = ExpandSystemVariables(own, kNativePrograms, false);
    const bool same = ownExpanded != nullptr && (type != REG_EXPAND_SZ || expanded != nullptr) &&
                      SameName(expanded != nullptr ? expanded : text, ownExpanded);
    if (expanded != nullptr)
        ::LocalFree(expanded);
    if (ownExpanded != nullptr)
        ::LocalFree(ownExpanded);
    return same;
}

// Reads the command that the default value of the key `path` of `root`
// holds (*command, a block from LocalAlloc, or null where there is none),
// when no key on the way below Windows' own is a link, or cannot be told
// from one: false then, for that command is another key's, and no program
// of this setting's.
bool ReadOwnCommand(HKEY root, const wchar_t* path, REGSAM view, wchar_t** command)
{
    wchar_t way[kKeyPathRoom];
    ::lstrcpynW(way, path, kKeyPathRoom);
    if (FindLinkOnTheWay(root, way, TrustedLength(way), view) != kNoLink)
        return false;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &key) == ERROR_SUCCESS) {
        WholeValue value(key, L"");
        *command = value.CopyText();
        ::RegCloseKey(key);
    }
    return true;
}

// Where a command was read: the user's classes, or the machine's in a view.
struct CommandSource {
    HKEY root;
    REGSAM view;
};

// The first command of the classes' key `path` (below HKCU and HKLM
// alike): the user's, else the machine's in each view in turn; where it
// was read into *source.
wchar_t* ClassesCommand(const wchar_t* path, CommandSource* source)
{
    wchar_t* command = nullptr;
    *source = { HKEY_CURRENT_USER, 0 };
    if (!ReadOwnCommand(HKEY_CURRENT_USER, path, 0, &command))
        return nullptr;
    REGSAM views[2];
    for (int i = 0, count = RegistryViews(views); i < count && command == nullptr; ++i) {
        *source = { HKEY_LOCAL_MACHINE, views[i] };
        if (!ReadOwnCommand(HKEY_LOCAL_MACHINE, path, views[i], &command))
            return nullptr;
    }
    return command;
}

// A class ID as the shell reads one: "{8-4-4-4-12}" in hex digits.
bool IsClassId(const wchar_t* text)
{
    const wchar_t kForm[] = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    for (size_t i = 0; i < sizeof(kForm) / sizeof(wchar_t); ++i) {
        bool hex = (text[i] >= L'0' && text[i] <= L'9') || (text[i] >= L'a' && text[i] <= L'f') ||
                   (text[i] >= L'A' && text[i] <= L'F');
        if (kForm[i] == L'x' ? !hex : text[i] != kForm[i])
            return false;
    }
    return true;
}

// Whether the classes the shell reads hold the key `path` (below HKCU and
// HKLM alike, the machine's in the view): the shell reads the user's and
// the machine's as one, key by key.
bool IsClassesKey(const wchar_t* path, REGSAM view)
{
    const HKEY roots[] = { HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE };
    for (HKEY root : roots) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | (root == HKEY_LOCAL_MACHINE ? view : 0), &key) ==
            ERROR_SUCCESS) {
            ::RegCloseKey(key);
            return true;
        }
    }
    return false;
}

// The verb that a primary verb's text names (into `verb`): the first of
// its names (a list, split at commas and spaces) that has a key below
// `shell` in the user's or the machine's classes. False when none has, or
// the verb is open.
bool PrimaryVerbOf(const wchar_t* shell, REGSAM view, const wchar_t* text, wchar_t (&verb)[MAX_PATH])
{
    for (const wchar_t* at = text; *at != L'\0';) {
        size_t length = std::wcscspn(at, L", ");
        wchar_t path[kKeyPathRoom];
        if (length > 0 && length < MAX_PATH) {
            std::wmemcpy(verb, at, length);
            verb[length] = L'\0';
            if (std::wcschr(verb, L'\\') == nullptr && JoinKey(shell, verb, path) && IsClassesKey(path, view))
                return !SameName(verb, L"open");
        }
        at += length + (at[length] != L'\0');
    }
    return false;
}

// What the setting's text leads the shell to, by the rule (*target, a
// block from LocalAlloc, or null); false when it leads nowhere Windows
// goes, so that it is no hijack. A COM server is started by the COM
// service, a native program. Only a verb's command read in the setting's
// own classes is the setting's own (the hijack wrote both); a class or a
// ProgID may be another program's.
bool FollowText(const KindRule& rule, const wchar_t* text, Finding* finding, wchar_t** target)
{
    wchar_t verb[MAX_PATH];
    wchar_t type[kKeyPathRoom];
    wchar_t path[kKeyPathRoom];
    CommandSource source = {};
    ::lstrcpynW(type, finding->key, kKeyPathRoom);
    switch (rule.leading) {
    case kLeadsToVerb:
        // The setting's key is the type's shell key.
        if (std::wcsrchr(type, L'\\') != nullptr)
            *std::wcsrchr(type, L'\\') = L'\0';
        if (!PrimaryVerbOf(finding->key, finding->view, text, verb) || !CommandKeyOf(type, verb, path, kKeyPathRoom))
            return false;
        *target = ClassesCommand(path, &source);
        finding->targetIsOwn = source.root == rule.Root() && (source.root == HKEY_CURRENT_USER ||
                                                            source.view == finding->view || finding->view == 0);
        return true;
    case kLeadsToServer:
        finding->programs = kNativePrograms;
        if (IsClassId(text)) {
            ::wsprintfW(path, L"Software\\Classes\\CLSID\\%s\\LocalServer32", text);
            *target = ClassesCommand(path, &source);
        }
        return true;
    case kLeadsToProgId:
        if (std::wcslen(text) < MAX_PATH && std::wcschr(text, L'\\') == nullptr &&
            JoinKey(L"Software\\Classes", text, type) && CommandKeyOf(type, L"open", path, kKeyPathRoom))
            *target = ClassesCommand(path, &source);
        return true;
    default:
        return true;
    }
}

// Windows' own text of the rule for the subject and verb and the programs
// that read a key, where their Windows has one: with a program of the
// system directory, the native one's for native programs, the 32-bit
// one's for 32-bit programs alone.
const wchar_t* WindowsOwn(const KindRule& rule, const wchar_t* subject, const wchar_t* verb, int programs)
{
    wchar_t path[MAX_PATH];
    const wchar_t* own = OwnTextOf(rule, subject, verb);
    if (own == nullptr || rule.ownWhere == nullptr)
        return own;
    if (!GetSystemFolder(kSystemFolder, path) || std::wcslen(path) + 1 + std::wcslen(rule.ownWhere) >= MAX_PATH)
        return nullptr;
    ::lstrcatW(path, L"\\");
    ::lstrcatW(path, rule.ownWhere);
    NativeFileSystem files((programs & kNativePrograms) != 0);
    return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES ? own : nullptr;
}

// Whether Windows reads the rule's value of the open key at all: from
// Vista on, only while its switch is on. user32 reads the switch's raw
// bytes, whatever its type, into a zeroed number of 4 bytes: any non-zero
// byte turns it on (the text "0" too), and a longer value fails the read.
bool IsSwitchedOn(const KindRule& rule, HKEY key)
{
    DWORD on = 0;
    DWORD size = sizeof(on);
    return rule.switchValue == nullptr || !IsVistaOrLater() ||
           (::RegQueryValueExW(key, rule.switchValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&on), &size) ==
                ERROR_SUCCESS &&
            on != 0);
}

// The values of the key `path` that the rule lists: its value, or each
// value of the key, which then names the finding.
void FindValues(HijackKind kind, REGSAM view, const wchar_t* path, const wchar_t* subject, Findings& found)
{
    const KindRule& rule = RuleOf(kind);
    Finding finding = {};
    finding.kind = kind;
    finding.view = view;
    finding.programs = ProgramsReading(path, view);
    finding.key = path;
    finding.subject = subject;
    if (rule.value != nullptr) {
        FindValueAt(finding, WindowsOwn(rule, subject, nullptr, finding.programs), found);
        return;
    }
    HKEY key = nullptr;
    if (finding.programs == 0 || ::RegOpenKeyExW(rule.Root(), path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return;
    // Each value, read by its place: a name that holds a NUL, which no
    // ordinary call names, shows it as "␀".
    const DWORD kNameRoom = 16384;  // the longest value name, and its terminator
    wchar_t* name = static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, 2 * kNameRoom * sizeof(wchar_t)));
    DWORD count = 0;
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                       nullptr);
    for (DWORD index = 0; name != nullptr && index < count; ++index) {
        wchar_t* shown = name + kNameRoom;
        DWORD length = 0;
        wchar_t* text = TextAt(key, index, name, kNameRoom, &length);
        if (text == nullptr)
            continue;
        for (DWORD at = 0; at < length; ++at)
            shown[at] = name[at] != L'\0' ? name[at] : L'\x2400';
        shown[length] = L'\0';
        finding.value = name;
        finding.valueLength = length;
        finding.subject = shown;
        finding.text = text;
        finding.type = REG_SZ;
        if (IsListed(rule, text, REG_SZ, nullptr))
            found.Add(finding);
        ::LocalFree(text);
    }
    if (name != nullptr)
        ::LocalFree(name);
    ::RegCloseKey(key);
}

// The unreadable key `path` met on the way to the rule's settings, in the
// view.
void AddUnreadableAt(HijackKind kind, REGSAM view, const wchar_t* path, const wchar_t* subject, Findings& found)
{
    Finding finding = {};
    finding.kind = kind;
    finding.view = view;
    finding.programs = ProgramsReading(path, view);
    finding.key = path;
    finding.subject = subject != nullptr ? subject : L"";
    AddUnreadable(finding, found);
}

// Follows the pattern `rest` below the key `path`: a "*" stands for each
// subkey, the first of which is the findings' subject.
void FindBelow(HijackKind kind, REGSAM view, wchar_t (&path)[kKeyPathRoom], const wchar_t* rest,
               const wchar_t* subject, Findings& found)
{
    if (*rest == L'\0') {
        FindValues(kind, view, path, subject != nullptr ? subject : L"", found);
        return;
    }
    const size_t at = std::wcslen(path);
    const size_t length = std::wcscspn(rest, L"\\");
    const wchar_t* next = rest[length] == L'\\' ? rest + length + 1 : rest + length;
    if (length != 1 || rest[0] != L'*') {
        if (at + 1 + length < kKeyPathRoom) {
            path[at] = L'\\';
            std::wmemcpy(path + at + 1, rest, length);
            path[at + 1 + length] = L'\0';
            FindBelow(kind, view, path, next, subject, found);
        }
        path[at] = L'\0';
        return;
    }
    HKEY key = nullptr;
    const LONG status = OpenKeyToRead(RuleOf(kind).Root(), path, view, &key);
    if (status == ERROR_ACCESS_DENIED)
        AddUnreadableAt(kind, view, path, subject, found);
    if (status != ERROR_SUCCESS)
        return;
    ForEachSubkey(key, view, [&](HKEY subkey, const wchar_t* name) {
        const size_t length = std::wcslen(name);
        if (at + 1 + length >= kKeyPathRoom)
            return;
        path[at] = L'\\';
        ::lstrcpyW(path + at + 1, name);
        if (subkey == nullptr)
            AddUnreadableAt(kind, view, path, subject != nullptr ? subject : name, found);
        else
            FindBelow(kind, view, path, next, subject != nullptr ? subject : name, found);
        path[at] = L'\0';
    });
    ::RegCloseKey(key);
}
}  // namespace

Findings::~Findings()
{
    while (Finding* finding = Take())
        ::LocalFree(finding);
}

void Findings::Add(const Finding& found)
{
    // One row for a key that refuses reading, whichever setting met it.
    for (const Finding* kept = m_first; found.unreadable && kept != nullptr; kept = kept->next) {
        if (kept->unreadable && RuleOf(kept->kind).Root() == RuleOf(found.kind).Root() && kept->view == found.view &&
            SameName(kept->key, found.key))
            return;
    }
    StartedFiles started;
    ResolveStartedFiles(found, &m_verdicts, started);
    const size_t valueRoom = found.value != nullptr ? found.valueLength + 1 : 0;
    size_t room = Room(found.key) + valueRoom + Room(found.subject) + Room(found.text) + Room(found.target);
    for (int i = 0; i < started.count; ++i)
        room += Room(started.files[i].path) + Room(started.files[i].signer);
    Finding* kept = static_cast<Finding*>(::LocalAlloc(LMEM_FIXED, sizeof(Finding) + room * sizeof(wchar_t)));
    if (kept == nullptr)
        return;
    *kept = found;
    wchar_t* at = reinterpret_cast<wchar_t*>(kept + 1);
    kept->key = Place(found.key, at);
    kept->value = Place(found.value, valueRoom, at);
    kept->subject = Place(found.subject, at);
    kept->text = Place(found.text, at);
    kept->target = Place(found.target, at);
    kept->fileCount = started.count;
    kept->queueing = started.queueing;
    for (int i = 0; i < started.count; ++i) {
        kept->files[i] = started.files[i];
        kept->files[i].path = Place(started.files[i].path, at);
        kept->files[i].signer = Place(started.files[i].signer, at);
    }
    kept->next = nullptr;
    if (m_last != nullptr)
        m_last->next = kept;
    else
        m_first = kept;
    m_last = kept;
}

Finding* Findings::Take()
{
    Finding* first = m_first;
    if (first != nullptr) {
        m_first = first->next;
        if (m_first == nullptr)
            m_last = nullptr;
        first->next = nullptr;
    }
    return first;
}

int ViewsOf(const KindRule& rule, REGSAM (&views)[2])
{
    if (rule.views == kBothViews)
        return RegistryViews(views);
    views[0] = rule.views == kNativeView && HasWow64() ? KEY_WOW64_64KEY : 0;
    return 1;
}

SettingText::SettingText(HKEY key, const wchar_t* value, Reading reading)
{
    switch (reading) {
    case kLoaderText:
    case kDebuggerText:
        m_type = REG_SZ;
        if (ReadOptionText(key, value, m_local))
            m_text = m_local;
        else if (reading == kDebuggerText && ReadExpandableText(key, value, m_local)) {
            m_text = m_local;
            m_type = REG_EXPAND_SZ;
        }
        break;
    case kReporterText:
        m_type = REG_SZ;
        if (ReadReporterText(key, value, m_local))
            m_text = m_local;
        break;
    default: {
        WholeValue whole(key, value);
        m_block = whole.CopyText(reading == kRawText);
        m_text = m_block;
        m_type = whole.Type();
        break;
    }
    }
}

SettingText::~SettingText()
{
    if (m_block != nullptr)
        ::LocalFree(m_block);
}

bool AddIfListed(Finding finding, HKEY key, const wchar_t* own, Findings& found)
{
    const KindRule& rule = RuleOf(finding.kind);
    if (finding.value == nullptr)
        finding.value = rule.value;
    finding.valueLength = std::wcslen(finding.value);
    SettingText text(key, finding.value, rule.reading);
    wchar_t* target = nullptr;
    if (!text.Read() || !IsListed(rule, text.Text(), text.Type(), own) ||
        !FollowText(rule, text.Text(), &finding, &target))
        return false;
    finding.restore = rule.setsOwnBack ? own : nullptr;
    finding.text = text.Text();
    finding.type = text.Type();
    finding.target = target;
    found.Add(finding);
    if (target != nullptr)
        ::LocalFree(target);
    return true;
}

void AddUnreadable(Finding finding, Findings& found)
{
    if (finding.programs == 0)
        return;  // the native view's key, met there
    finding.unreadable = true;
    if (finding.value == nullptr)
        finding.value = RuleOf(finding.kind).value != nullptr ? RuleOf(finding.kind).value : L"";
    finding.valueLength = std::wcslen(finding.value);
    finding.text = L"";
    found.Add(finding);
}

void FindValueAt(const Finding& finding, const wchar_t* own, Findings& found)
{
    const KindRule& rule = RuleOf(finding.kind);
    HKEY key = nullptr;
    if (finding.programs == 0)
        return;
    const LONG status = OpenKeyToRead(rule.Root(), finding.key, finding.view, &key);
    if (status == ERROR_ACCESS_DENIED)
        AddUnreadable(finding, found);
    if (status != ERROR_SUCCESS)
        return;
    if (IsSwitchedOn(rule, key))
        AddIfListed(finding, key, own, found);
    ::RegCloseKey(key);
}

bool IsListed(const KindRule& rule, const wchar_t* text, DWORD type, const wchar_t* own)
{
    if ((rule.listing & kNonEmpty) && text[0] == L'\0')
        return false;
    if (own == nullptr)
        return true;
    if ((rule.listing & kNotOwn) && std::wcscmp(text, own) == 0)
        return false;
    if ((rule.listing & kNotOwnInAnyCase) && SameName(text, own))
        return false;
    return !(rule.listing & kNotOwnPath) || !IsOwnPath(text, type, own);
}

void FindSetting(HijackKind kind, Findings& found)
{
    const KindRule& rule = RuleOf(kind);
    REGSAM views[2];
    for (int i = 0, count = ViewsOf(rule, views); i < count; ++i) {
        wchar_t path[kKeyPathRoom];
        ::lstrcpynW(path, rule.base, kKeyPathRoom);
        FindBelow(kind, views[i], path, rule.key, nullptr, found);
    }
}

bool JoinKey(const wchar_t* base, const wchar_t* name, wchar_t (&path)[kKeyPathRoom])
{
    if (std::wcslen(base) + 1 + std::wcslen(name) >= kKeyPathRoom)
        return false;
    ::lstrcpyW(path, base);
    ::lstrcatW(path, L"\\");
    ::lstrcatW(path, name);
    return true;
}
