#include "SystemVariables.h"

#include "NativeApi.h"
#include "RegistryValue.h"
#include "Wow64.h"

#include <cwchar>

namespace {
const wchar_t kWindowsNt[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t kWindows[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kProfiles[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
const wchar_t kMachineEnvironment[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
// Where a user's own environment is kept, each set again over the
// machine's: the user's, and the logon session's.
const wchar_t* const kUserEnvironments[] = { L"Environment", L"Volatile Environment" };

// Room for a variable's value.
const size_t kValueRoom = MAX_PATH;

// A string value of HKLM (its native view) or HKCU, up to its first NUL,
// into `text`; false when it is absent, no string or too long.
bool ReadString(HKEY root, const wchar_t* path, const wchar_t* name, wchar_t (&text)[kValueRoom])
{
    HKEY key = nullptr;
    REGSAM view = root == HKEY_LOCAL_MACHINE && HasWow64() ? KEY_WOW64_64KEY : 0;
    if (::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return false;
    WholeValue value(key, name);
    ::RegCloseKey(key);
    wchar_t* copy = value.CopyText();
    const bool fits = copy != nullptr && std::wcslen(copy) < kValueRoom;
    if (fits)
        ::lstrcpyW(text, copy);
    if (copy != nullptr)
        ::LocalFree(copy);
    return fits;
}

// Whether the open key, or a subkey of it (a logon session's), has the value.
bool HoldsValue(HKEY key, const wchar_t* name)
{
    if (::RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND)
        return true;  // there, or it cannot be told
    wchar_t session[MAX_PATH];
    for (DWORD index = 0;; ++index) {
        DWORD length = MAX_PATH;
        HKEY subkey = nullptr;
        if (::RegEnumKeyExW(key, index, session, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            return false;
        if (::RegOpenKeyExW(key, session, 0, KEY_QUERY_VALUE, &subkey) != ERROR_SUCCESS)
            return true;
        const bool holds = ::RegQueryValueExW(subkey, name, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND;
        ::RegCloseKey(subkey);
        if (holds)
            return true;
    }
}

// Whether a user's own environment sets the variable: the current user's,
// or any user's whose hive is loaded. That user's programs take that value
// in the system's place.
bool SetByAUser(const wchar_t* name)
{
    HKEY users[64];
    int count = 0;
    users[count++] = HKEY_CURRENT_USER;
    wchar_t hive[MAX_PATH];
    for (DWORD index = 0; count < 64; ++index) {
        DWORD length = MAX_PATH;
        if (::RegEnumKeyExW(HKEY_USERS, index, hive, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        if (::RegOpenKeyExW(HKEY_USERS, hive, 0, KEY_ENUMERATE_SUB_KEYS, &users[count]) == ERROR_SUCCESS)
            ++count;
    }
    bool set = false;
    for (int i = 0; i < count; ++i) {
        for (const wchar_t* environment : kUserEnvironments) {
            HKEY key = nullptr;
            const LONG status = ::RegOpenKeyExW(users[i], environment, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key);
            set = set || (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) ||
                  (status == ERROR_SUCCESS && HoldsValue(key, name));
            if (key != nullptr)
                ::RegCloseKey(key);
        }
        if (i > 0)
            ::RegCloseKey(users[i]);
    }
    return set;
}

// The one expansion of a value that Windows' own values need: the
// references to %SystemDrive% and %SystemRoot% in ProgramData and
// ProfilesDirectory.
bool ExpandValue(wchar_t (&text)[kValueRoom], int program);

// The value of the system's variable `name` (of `length` characters) for
// the kind of program, into `value`; false when it is none of the
// system's, or this Windows does not define it. `rootOnly`: only the
// variables read as they are (SystemRoot, windir, SystemDrive), which the
// others' values may refer to.
bool SystemValue(const wchar_t* name, size_t length, int program, bool rootOnly, wchar_t (&value)[kValueRoom])
{
    wchar_t wanted[64];
    if (length >= 64)
        return false;
    std::wmemcpy(wanted, name, length);
    wanted[length] = L'\0';
    const bool wow64 = program == kWow64Programs && HasWow64();
    if (SameName(wanted, L"SystemRoot") || SameName(wanted, L"windir") || SameName(wanted, L"SystemDrive")) {
        // The registry's SystemRoot, where it is the running system's own.
        wchar_t running[MAX_PATH];
        const UINT length = ::GetSystemWindowsDirectoryW(running, MAX_PATH);
        if (!ReadString(HKEY_LOCAL_MACHINE, kWindowsNt, L"SystemRoot", value) || value[0] == L'\0' ||
            value[1] != L':' || value[2] != L'\\' || std::wcschr(value, L'%') != nullptr || length == 0 ||
            length >= MAX_PATH || !SameName(value, running))
            return false;
        if (SameName(wanted, L"SystemDrive"))
            value[2] = L'\0';
        return true;
    }
    if (rootOnly)
        return false;
    const struct {
        const wchar_t* variable;
        const wchar_t* path;
        const wchar_t* native;  // the value for native programs
        const wchar_t* wow64;   // the value for 32-bit programs on 64-bit Windows
    } kFolders[] = {
        { L"ProgramFiles", kWindows, L"ProgramFilesDir", L"ProgramFilesDir (x86)" },
        { L"ProgramFiles(x86)", kWindows, L"ProgramFilesDir (x86)", L"ProgramFilesDir (x86)" },
        { L"CommonProgramFiles", kWindows, L"CommonFilesDir", L"CommonFilesDir (x86)" },
        { L"CommonProgramFiles(x86)", kWindows, L"CommonFilesDir (x86)", L"CommonFilesDir (x86)" },
        { L"ProgramData", kProfiles, L"ProgramData", L"ProgramData" },
    };
    for (const auto& folder : kFolders) {
        if (!SameName(wanted, folder.variable))
            continue;
        if (SameName(wanted, L"ProgramData") && !IsVistaOrLater())
            return false;  // XP has none
        return ReadString(HKEY_LOCAL_MACHINE, folder.path, wow64 ? folder.wow64 : folder.native, value) &&
               ExpandValue(value, program);
    }
    if (!SameName(wanted, L"ALLUSERSPROFILE"))
        return false;
    if (IsVistaOrLater())
        return ReadString(HKEY_LOCAL_MACHINE, kProfiles, L"ProgramData", value) && ExpandValue(value, program);
    // XP: the all users' profile below the profiles' folder.
    wchar_t allUsers[kValueRoom];
    return ReadString(HKEY_LOCAL_MACHINE, kProfiles, L"ProfilesDirectory", value) && ExpandValue(value, program) &&
           ReadString(HKEY_LOCAL_MACHINE, kProfiles, L"AllUsersProfile", allUsers) &&
           std::wcschr(allUsers, L'%') == nullptr && std::wcslen(value) + 1 + std::wcslen(allUsers) < kValueRoom &&
           ::lstrcatW(::lstrcatW(value, L"\\"), allUsers) != nullptr;
}

// Where an expansion stands in a command line's first token: the token
// ends at a space or tab, or at the quote that closes it.
class FirstTokenEnd {
public:
    // Takes the next character of the expanded text; true once the token
    // is over.
    bool Passes(wchar_t c)
    {
        if (m_state == kBefore && (c == L' ' || c == L'\t'))
            return false;
        if (m_state == kBefore)
            m_state = c == L'"' ? kQuoted : kPlain;
        else if (m_state == kQuoted && c == L'"')
            m_state = kAfter;
        else if (m_state == kPlain && (c == L' ' || c == L'\t' || c == L'"'))
            m_state = kAfter;
        return m_state == kAfter;
    }

private:
    enum { kBefore, kQuoted, kPlain, kAfter } m_state = kBefore;
};

// The value of the system's variable `name` as a launcher has it: none
// where a user's own environment sets it again, or the machine's sets it
// to another value (Windows sets windir there as %SystemRoot%).
bool SystemVariable(const wchar_t* name, size_t length, int program, bool rootOnly, wchar_t (&value)[kValueRoom])
{
    wchar_t wanted[64];
    wchar_t machine[kValueRoom];
    if (length >= 64 || !SystemValue(name, length, program, rootOnly, value))
        return false;
    std::wmemcpy(wanted, name, length);
    wanted[length] = L'\0';
    HKEY key = nullptr;
    bool setByMachine = true;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMachineEnvironment, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        setByMachine = ::RegQueryValueExW(key, wanted, nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND;
        ::RegCloseKey(key);
    }
    // A value of the machine's environment refers only to variables it does
    // not set itself: no loop of references.
    return (!setByMachine || (!rootOnly && ReadString(HKEY_LOCAL_MACHINE, kMachineEnvironment, wanted, machine) &&
                              ExpandValue(machine, program) && SameName(machine, value))) &&
           !SetByAUser(wanted);
}

// Expands `text` into `out`, or measures it when `out` is null: the count
// of characters, or -1 where a reference is none of the system's. With
// `token`, only the references up to the end of the first token count: the
// rest (a shell's "%1", a debugger's "%ld") is copied as it is.
long Expand(const wchar_t* text, int program, bool rootOnly, FirstTokenEnd* token, wchar_t* out)
{
    long count = 0;
    bool over = false;
    for (const wchar_t* at = text; *at != L'\0';) {
        const wchar_t* end = *at == L'%' && !over ? std::wcschr(at + 1, L'%') : nullptr;
        if (end == nullptr) {
            if (out != nullptr)
                out[count] = *at;
            over = over || (token != nullptr && token->Passes(*at));
            ++count;
            ++at;
            continue;
        }
        wchar_t value[kValueRoom];
        if (!SystemVariable(at + 1, static_cast<size_t>(end - at - 1), program, rootOnly, value))
            return -1;
        for (const wchar_t* c = value; *c != L'\0'; ++c) {
            if (out != nullptr)
                out[count] = *c;
            over = over || (token != nullptr && token->Passes(*c));
            ++count;
        }
        at = end + 1;
    }
    if (out != nullptr)
        out[count] = L'\0';
    return count;
}

bool ExpandValue(wchar_t (&text)[kValueRoom], int program)
{
    wchar_t expanded[kValueRoom];
    const long length = Expand(text, program, true, nullptr, nullptr);
    if (length < 0 || length >= static_cast<long>(kValueRoom))
        return false;
    Expand(text, program, true, nullptr, expanded);
    ::lstrcpyW(text, expanded);
    return std::wcschr(text, L'%') == nullptr;
}
}  // namespace

bool RefersToVariable(const wchar_t* text)
{
    const wchar_t* first = std::wcschr(text, L'%');
    return first != nullptr && std::wcschr(first + 1, L'%') != nullptr;
}

wchar_t* ExpandSystemVariables(const wchar_t* text, int program, bool firstToken)
{
    FirstTokenEnd measuring;
    FirstTokenEnd expanding;
    const long length = Expand(text, program, false, firstToken ? &measuring : nullptr, nullptr);
    wchar_t* expanded =
        length >= 0 ? static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(wchar_t))) : nullptr;
    if (expanded != nullptr && Expand(text, program, false, firstToken ? &expanding : nullptr, expanded) != length) {
        ::LocalFree(expanded);
        return nullptr;
    }
    return expanded;
}

wchar_t* CommandExtensions()
{
    wchar_t list[kValueRoom];
    // A user's own PATHEXT takes the machine's place in cmd.exe's environment.
    if (SetByAUser(L"PATHEXT") || !ReadString(HKEY_LOCAL_MACHINE, kMachineEnvironment, L"PATHEXT", list))
        return nullptr;
    // A plain list of ".ext" entries, none empty: anything else cmd.exe may
    // read otherwise than this program.
    for (const wchar_t* entry = list;; ++entry) {
        const size_t length = std::wcscspn(entry, L";");
        if (length < 2 || entry[0] != L'.' || std::wcscspn(entry + 1, L".\\/:*?\"<>|% \t") < length - 1)
            return nullptr;
        entry += length;
        if (*entry == L'\0')
            break;
    }
    const size_t size = (std::wcslen(list) + 1) * sizeof(wchar_t);
    wchar_t* copy = static_cast<wchar_t*>(::LocalAlloc(LMEM_FIXED, size));
    if (copy != nullptr)
        std::wmemcpy(copy, list, size / sizeof(wchar_t));
    return copy;
}
