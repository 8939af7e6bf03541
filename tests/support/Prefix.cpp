#include "Prefix.h"

#include "system/KeyLinks.h"
#include "system/NativeApi.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <sddl.h>

namespace testing_support {

const char kImageOptionsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char kSilentExitKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit";
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

const wchar_t kMachineClasses[] = L"SOFTWARE\\Classes";
const wchar_t kUserClasses[] = L"HKCU\\Software\\Classes";
const wchar_t kCommandProcessorKey[] = L"Software\\Microsoft\\Command Processor";
const wchar_t kServerClass[] = L"{0A0B0C0D-1111-2222-3333-444455556666}";
const wchar_t kCrashDebuggerKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug";
const wchar_t kHangDebuggerKey[] = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting\\Hangs";
const wchar_t kAppInitKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
const wchar_t kAppCertKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\AppCertDlls";
const wchar_t kPackageDebuggerKey[] = L"HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\PackagedAppXDebug";
const wchar_t kAssistiveToolsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Accessibility\\ATs";

namespace {
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

// Deletes the key and its subkeys, skipping what cannot be deleted; a link
// goes as itself.
bool DeleteTree(HKEY parent, const wchar_t* name, REGSAM view)
{
    if (DeleteKeyLink(parent, name, view))
        return true;
    HKEY key;
    if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS)
        return false;
    wchar_t child[MAX_PATH];
    for (DWORD index = 0; RegEnumKeyW(key, index, child, MAX_PATH) == ERROR_SUCCESS;) {
        if (!DeleteTree(key, child, view))
            ++index;
    }
    RegCloseKey(key);
    return RegDeleteKeyExW(parent, name, view, 0) == ERROR_SUCCESS;
}

// The root a test's path names: HKEY_CURRENT_USER for "HKCU\...", else
// HKEY_LOCAL_MACHINE; `rest` is the path below it.
HKEY RootOf(const std::wstring& path, std::wstring* rest)
{
    for (const auto& root : { std::make_pair(L"HKCU\\", HKEY_CURRENT_USER), std::make_pair(L"HKU\\", HKEY_USERS) }) {
        const std::wstring prefix = root.first;
        if (path.compare(0, prefix.size(), prefix) == 0) {
            *rest = path.substr(prefix.size());
            return root.second;
        }
    }
    *rest = path;
    return HKEY_LOCAL_MACHINE;
}

HKEY CreateKey(const std::wstring& path, REGSAM view)
{
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, rest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key,
                                             nullptr));
    return key;
}

HKEY OpenSessionManager()
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &key));
    return key;
}
}  // namespace

void ResetHijacks(REGSAM view)
{
    for (const char* path : { kImageOptionsKey, kSilentExitKey }) {
        HKEY key = CreateKey(Widen(path), view);
        wchar_t child[MAX_PATH];
        for (DWORD index = 0; key != nullptr && RegEnumKeyW(key, index, child, MAX_PATH) == ERROR_SUCCESS;) {
            if (!DeleteTree(key, child, view))
                ++index;
        }
        RegCloseKey(key);
    }
    // The program file types as this Wine has them: exefile alone, with
    // Windows' own open and runas commands; no user's settings of them,
    // and no AutoRun.
    for (const wchar_t* name : { L".exe", L"comfile", L".com", L"batfile", L".bat", L"cmdfile", L".cmd", L"piffile",
                                 L".pif", L"scrfile", L".scr", L"exefile" }) {
        HKEY classes = nullptr;
        for (HKEY root : { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER }) {
            if (RegOpenKeyExW(root, kMachineClasses, 0, KEY_ALL_ACCESS | view, &classes) == ERROR_SUCCESS) {
                DeleteTree(classes, name, view);
                RegCloseKey(classes);
            }
        }
    }
    DeleteRegistryTree(std::wstring(kUserClasses) + L"\\CLSID\\" + kServerClass);
    for (const wchar_t* verb : { L"open", L"runas" })
        SetRegistryText(kMachineClasses + std::wstring(L"\\exefile\\shell\\") + verb + L"\\command", L"", L"\"%1\" %*",
                        view);
    for (HKEY root : { HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER }) {
        HKEY processor = nullptr;
        if (RegOpenKeyExW(root, kCommandProcessorKey, 0, KEY_ALL_ACCESS | view, &processor) == ERROR_SUCCESS) {
            RegDeleteValueW(processor, L"AutoRun");
            RegCloseKey(processor);
        }
    }
    // No crash or hang debugger (Wine writes its own winedbg, in both
    // views), no DLL loaded into every program, no user's keys that the
    // auto-elevating programs read and no packaged app's debugger.
    for (REGSAM each : { view, static_cast<REGSAM>(KEY_WOW64_32KEY), static_cast<REGSAM>(KEY_WOW64_64KEY) }) {
        for (const wchar_t* key : { kCrashDebuggerKey, kHangDebuggerKey, kAppInitKey }) {
            HKEY open = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_ALL_ACCESS | each, &open) == ERROR_SUCCESS) {
                for (const wchar_t* value : { L"Debugger", L"ReflectDebugger", L"AppInit_DLLs", L"LoadAppInit_DLLs" })
                    RegDeleteValueW(open, value);
                RegCloseKey(open);
            }
        }
    }
    DeleteRegistryTree(kAppCertKey);
    for (const wchar_t* key : { L"ms-settings", L"mscfile", L"Folder", L"Launcher.SystemSettings", L"ActivatableClasses" })
        DeleteRegistryTree(std::wstring(kUserClasses) + L"\\" + key);
    DeleteRegistryTree(kPackageDebuggerKey);
    DeleteRegistryTree(kAssistiveToolsKey);
    // Nor an accessibility program, or sfc.exe, in the system directory
    // (the native one) or its dllcache: Wine has none of its own.
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    void* redirection = nullptr;
    const BOOL native = Wow64DisableWow64FsRedirection(&redirection);
    for (const char* name : { "sethc.exe", "utilman.exe", "osk.exe", "Magnify.exe", "Narrator.exe", "DisplaySwitch.exe",
                              "AtBroker.exe", "sfc.exe" }) {
        for (const char* in : { "\\", "\\dllcache\\" })
            DeleteFileA((system + std::string(in) + name).c_str());
    }
    if (native)
        Wow64RevertWow64FsRedirection(redirection);
}

void DeleteRegistryTree(const std::wstring& path)
{
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    size_t slash = rest.rfind(L'\\');
    HKEY parent = nullptr;
    if (RegOpenKeyExW(root, rest.substr(0, slash).c_str(), 0, KEY_ALL_ACCESS, &parent) == ERROR_SUCCESS) {
        DeleteTree(parent, rest.substr(slash + 1).c_str(), 0);
        RegCloseKey(parent);
    }
}

void DeleteRegistryValue(const std::wstring& path, const wchar_t* value)
{
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, rest.c_str(), 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, value);
        RegCloseKey(key);
    }
}

void SetRegistryValue(const std::wstring& path, const wchar_t* value, DWORD type, const void* data, DWORD size,
                      REGSAM view)
{
    // The system counts in a string's terminator when it follows the given
    // bytes in memory: a guard after them stores exactly these bytes.
    std::string guarded(data != nullptr ? static_cast<const char*>(data) : "", data != nullptr ? size : 0);
    guarded += "\x01\x01";
    HKEY key = CreateKey(path, view);
    if (key != nullptr && type != REG_NONE) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, value, 0, type, reinterpret_cast<const BYTE*>(guarded.data()), size));
    }
    RegCloseKey(key);
}

void SetRegistryDword(const std::wstring& path, const wchar_t* value, DWORD data, REGSAM view)
{
    SetRegistryValue(path, value, REG_DWORD, &data, sizeof(data), view);
}

void SetRegistryText(const std::wstring& path, const wchar_t* value, const std::wstring& text, REGSAM view)
{
    SetRegistryValue(path, value, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), view);
}

void CreateRegistryLink(const std::wstring& path, const std::wstring& target, REGSAM view)
{
    HKEY link = nullptr;
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, rest.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                                             KEY_ALL_ACCESS | KEY_CREATE_LINK | view, nullptr, &link, nullptr))
        << "a key is in the way";
    std::wstring to = L"\\Registry\\Machine\\" + target;
    std::wstring below;
    if (RootOf(target, &below) == HKEY_CURRENT_USER) {
        // The user's hive by its own name, as the system names keys.
        HKEY software = nullptr;
        wchar_t name[1024] = L"";
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_QUERY_VALUE, &software));
        EXPECT_TRUE(KeyPathOf(software, name, 1024));
        RegCloseKey(software);
        to = std::wstring(name, std::wcslen(name) - std::wcslen(L"\\Software")) + L"\\" + below;
    }
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK,
                                            reinterpret_cast<const BYTE*>(to.c_str()),
                                            static_cast<DWORD>(to.size() * sizeof(wchar_t))));
    RegCloseKey(link);
}

std::wstring ImageOptionPath(const std::wstring& name) { return Widen(kImageOptionsKey) + L"\\" + name; }

void AddImageOption(const std::string& name, const void* data, DWORD size, DWORD type, const char* value)
{
    std::string path = std::string(kImageOptionsKey) + "\\" + name;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    if (type != REG_NONE) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, value, 0, type, static_cast<const BYTE*>(data), size));
    }
    RegCloseKey(key);
}

void AddHijack(const std::string& name, const std::string& debugger)
{
    AddImageOption(name, debugger.c_str(), static_cast<DWORD>(debugger.size() + 1), REG_SZ);
}

void AddHijackOfKind(HijackKind kind, const std::wstring& image, const std::wstring& text)
{
    const std::wstring options = ImageOptionPath(image);
    const std::wstring exits = Widen(kSilentExitKey) + L"\\" + image;
    switch (kind) {
    case kDebugger: SetRegistryText(options, L"debugger", text); break;
    case kFilterDebugger:
        SetRegistryDword(options, L"UseFilter", 1);
        SetRegistryText(options + L"\\f", L"FilterFullPath", L"C:\\app\\" + image);
        SetRegistryText(options + L"\\f", L"debugger", text);
        break;
    case kSilentExitMonitor:
        SetRegistryDword(options, L"GlobalFlag", 0x200);
        SetRegistryDword(exits, L"ReportingMode", 1);
        SetRegistryText(exits, L"MonitorProcess", text);
        break;
    case kVerifierDlls:
        SetRegistryDword(options, L"GlobalFlag", 0x100);
        SetRegistryText(options, L"VerifierDlls", text);
        break;
    case kOpenCommand: SetRegistryText(std::wstring(kMachineClasses) + L"\\exefile\\shell\\open\\command", L"", text); break;
    case kExtensionType: SetRegistryText(std::wstring(kMachineClasses) + L"\\.exe", L"", text); break;
    case kUserCommand: SetRegistryText(std::wstring(kUserClasses) + L"\\exefile\\shell\\open\\command", L"", text); break;
    case kUserExtensionType: SetRegistryText(std::wstring(kUserClasses) + L"\\.exe", L"", text); break;
    case kUserAutoRun: SetRegistryText(L"HKCU\\" + std::wstring(kCommandProcessorKey), L"AutoRun", text); break;
    case kAutoRun: SetRegistryText(kCommandProcessorKey, L"AutoRun", text); break;
    case kPrimaryVerb:
    case kUserPrimaryVerb: {
        const std::wstring classes = kind == kPrimaryVerb ? kMachineClasses : kUserClasses;
        SetRegistryText(classes + L"\\exefile\\shell", L"", L"evilverb");
        SetRegistryText(classes + L"\\exefile\\shell\\evilverb\\command", L"", text);
        break;
    }
    case kCrashDebugger: SetRegistryText(kCrashDebuggerKey, L"Debugger", text); break;
    case kHangDebugger: SetRegistryText(kHangDebuggerKey, L"Debugger", text); break;
    case kAppDebugger:
        SetRegistryText(std::wstring(kUserClasses) + L"\\ActivatableClasses\\Package\\" + image + L"\\DebugInformation\\App",
                        L"DebugPath", text);
        break;
    case kPackageDebugger: SetRegistryText(std::wstring(kPackageDebuggerKey) + L"\\" + image, L"", text); break;
    case kAppInitDlls:
        SetRegistryText(kAppInitKey, L"AppInit_DLLs", text);
        SetRegistryDword(kAppInitKey, L"LoadAppInit_DLLs", 1);
        break;
    case kAppCertDll: SetRegistryText(kAppCertKey, image.c_str(), text); break;
    case kAssistiveTool: SetRegistryText(std::wstring(kAssistiveToolsKey) + L"\\" + image, L"StartExe", text); break;
    case kDelegateExecute:
    case kUserDelegateExecute:
        SetRegistryText(std::wstring(kind == kDelegateExecute ? kMachineClasses : kUserClasses) +
                            L"\\exefile\\shell\\open\\command",
                        L"DelegateExecute", kServerClass);
        SetRegistryText(std::wstring(kUserClasses) + L"\\CLSID\\" + kServerClass +
                            (kind == kDelegateExecute ? L"\\LocalServer32" : L"\\InprocServer32"),
                        L"", text);
        break;
    default: ADD_FAILURE() << "no way to plant a hijack of kind " << kind;
    }
}

std::vector<std::pair<std::wstring, std::wstring>> FoundHijacks()
{
    Findings found;
    FindHijacks(found);
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    for (const Finding* finding = found.First(); finding != nullptr; finding = finding->next) {
        wchar_t name[kShownRoom];
        wchar_t text[kShownRoom];
        DescribeFinding(*finding, name, text);
        rows.insert(rows.begin(), { name, finding->text });
    }
    return rows;
}

std::vector<FoundSetting> FoundSettings()
{
    Findings found;
    FindHijacks(found);
    std::vector<FoundSetting> settings;
    for (const Finding* finding = found.First(); finding != nullptr; finding = finding->next) {
        wchar_t publisher[kShownRoom];
        DescribePublisher(*finding, publisher);
        FoundSetting setting = { finding->kind, finding->key, finding->view, finding->text,
                                 finding->target != nullptr ? finding->target : L"", publisher, {}, {} };
        for (int i = 0; i < finding->fileCount; ++i) {
            setting.files.push_back(finding->files[i].path);
            setting.queueing.push_back(finding->files[i].queueing);
        }
        if (finding->fileCount == 0)
            setting.queueing.push_back(finding->queueing);
        settings.push_back(setting);
    }
    return settings;
}

bool ImageOptionExists(const std::string& name)
{
    std::string path = std::string(kImageOptionsKey) + "\\" + name;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::vector<std::string> ImageOptionValues(const std::string& name)
{
    std::vector<std::string> names;
    std::string path = std::string(kImageOptionsKey) + "\\" + name;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char value[MAX_PATH];
    DWORD length = sizeof(value);
    for (DWORD index = 0; RegEnumValueA(key, index, value, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = sizeof(value))
        names.push_back(value);
    RegCloseKey(key);
    return names;
}

std::vector<std::wstring> KeyValues(const std::wstring& path, REGSAM view)
{
    HKEY key;
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    if (RegOpenKeyExW(root, rest.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return { L"(missing)" };
    std::vector<std::wstring> names;
    wchar_t value[MAX_PATH];
    DWORD length = MAX_PATH;
    for (DWORD index = 0; RegEnumValueW(key, index, value, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = MAX_PATH)
        names.push_back(value);
    RegCloseKey(key);
    return names;
}

std::wstring RegistryText(const std::wstring& path, const wchar_t* value)
{
    HKEY key = nullptr;
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    if (RegOpenKeyExW(root, rest.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return L"(missing)";
    wchar_t data[1024] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    return status != ERROR_SUCCESS ? std::wstring(L"(missing)") : std::to_wstring(type) + L":" + data;
}

void SetKeySecurity(const std::wstring& path, const wchar_t* sddl, bool ofLink)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, nullptr)) << sddl;
    HKEY key;
    std::wstring rest;
    HKEY root = RootOf(path, &rest);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(root, rest.c_str(), ofLink ? REG_OPTION_OPEN_LINK : 0,
                                           WRITE_DAC | WRITE_OWNER, &key));
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    GetSecurityDescriptorOwner(sd, &owner, &defaulted);
    if (owner != nullptr) {
        EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, OWNER_SECURITY_INFORMATION, sd));
    }
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd));
    RegCloseKey(key);
    LocalFree(sd);
}

std::wstring KeySecurity(const std::wstring& path)
{
    HKEY key;
    LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL, &key);
    if (opened != ERROR_SUCCESS)
        return L"(cannot be opened: " + std::to_wstring(opened) + L")";
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    RegGetKeySecurity(key, parts, nullptr, &size);
    std::string sd(size, '\0');
    LONG status = RegGetKeySecurity(key, parts, &sd[0], &size);
    RegCloseKey(key);
    wchar_t* text = nullptr;
    if (status != ERROR_SUCCESS ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(&sd[0], SDDL_REVISION_1, parts, &text, nullptr))
        return L"(cannot be read: " + std::to_wstring(status) + L")";
    std::wstring sddl = text;
    LocalFree(text);
    return sddl;
}

void SetKeyLocked(const std::string& path, bool locked)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, WRITE_DAC, &key)) << path;
    ACL acl;
    InitializeAcl(&acl, sizeof(acl), ACL_REVISION);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, locked ? &acl : nullptr, FALSE);
    EXPECT_EQ(ERROR_SUCCESS, RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &sd)) << path;
    RegCloseKey(key);
}

std::string ReadPending(bool* present, DWORD* type)
{
    HKEY key = OpenSessionManager();
    DWORD size = 0;
    DWORD valueType = 0;
    LONG status = RegQueryValueExW(key, kPendingValue, nullptr, &valueType, nullptr, &size);
    std::string bytes(size, '\0');
    if (status == ERROR_SUCCESS && size > 0)
        status = RegQueryValueExW(key, kPendingValue, nullptr, &valueType, reinterpret_cast<BYTE*>(&bytes[0]), &size);
    RegCloseKey(key);
    if (present)
        *present = status == ERROR_SUCCESS;
    if (type)
        *type = valueType;
    return status == ERROR_SUCCESS ? bytes.substr(0, size) : std::string();
}

void WritePending(const std::string& bytes, DWORD type)
{
    // The system counts in a string's terminator when it follows the given
    // bytes in memory: a guard after them keeps an unterminated value as it is.
    const std::string guarded = bytes + "\x01\x01";
    HKEY key = OpenSessionManager();
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, kPendingValue, 0, type, reinterpret_cast<const BYTE*>(guarded.data()),
                                            static_cast<DWORD>(bytes.size())));
    RegCloseKey(key);
}

void DeletePending()
{
    HKEY key = OpenSessionManager();
    RegDeleteValueW(key, kPendingValue);
    RegCloseKey(key);
}

std::string WideStrings(const std::vector<std::wstring>& strings)
{
    std::string bytes;
    for (const std::wstring& s : strings)
        bytes.append(reinterpret_cast<const char*>(s.c_str()), (s.size() + 1) * sizeof(wchar_t));
    return bytes;
}

std::vector<std::wstring> SplitWide(const std::string& bytes)
{
    std::vector<std::wstring> strings;
    std::wstring current;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        wchar_t c = static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        if (c == L'\0') {
            strings.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        strings.push_back(current);
    return strings;
}

std::string Narrow(const std::wstring& wide)
{
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0], size, nullptr, nullptr);
    return ansi;
}

std::wstring Widen(const std::string& ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

void SetDpi(DWORD dpi)
{
    SetRegistryDword(L"HKCU\\Control Panel\\Desktop", L"LogPixels", dpi);
}

std::string FreshDirectory(const std::string& name)
{
    CreateDirectoryA("C:\\orvex-tests", nullptr);
    std::string dir = "C:\\orvex-tests\\" + name;
    // Leftovers of an earlier run: files only, the tests make no subdirectories.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string path = dir + "\\" + found.cFileName;
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

std::string ReadBytes(const std::string& path, bool* present)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (present)
        *present = file != INVALID_HANDLE_VALUE;
    if (file == INVALID_HANDLE_VALUE)
        return "(missing)";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) {
        EXPECT_TRUE(ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr)) << path;
    }
    CloseHandle(file);
    return bytes.substr(0, read);
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void UnixCommand(const std::string& command, const std::string& directory, const std::string& until, bool present)
{
    std::string line = command;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                               &process))
        << command;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // A unix process's handle cannot be waited for: wait for what it does.
    for (int i = 0; i < 1500 && FileExists(until) != present; ++i)
        Sleep(20);
    ASSERT_EQ(present, FileExists(until)) << command;
}

void UnixSymlink(const std::string& target, const std::string& link)
{
    size_t slash = link.rfind('\\');
    UnixCommand("Z:\\bin\\ln -sfn " + target + " " + link.substr(slash + 1), link.substr(0, slash), link, true);
}

void WriteProgram(const std::string& path)
{
    char notepad[MAX_PATH];
    ExpandEnvironmentStringsA("%systemroot%\\system32\\notepad.exe", notepad, sizeof(notepad));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(CopyFileA(notepad, path.c_str(), FALSE)) << path;
}

void WriteVersionedProgram(const std::string& path, const std::wstring& originalName)
{
    std::string built = originalName.empty() ? ORVEX_STAND_IN : ORVEX_VERSIONED_STAND_IN;
    std::replace(built.begin(), built.end(), '/', '\\');
    std::string program = ReadBytes("Z:" + built);
    if (!originalName.empty()) {
        const std::wstring placeholder = L"ORIGINAL-FILENAME-TO-BE-WRITTEN-ANEW----";
        const size_t bytes = placeholder.size() * sizeof(wchar_t);
        const size_t at = program.find(std::string(reinterpret_cast<const char*>(placeholder.data()), bytes));
        ASSERT_NE(std::string::npos, at);
        ASSERT_LE(originalName.size(), placeholder.size());
        std::wstring name = originalName;
        name.resize(placeholder.size(), L'\0');
        program.replace(at, bytes, reinterpret_cast<const char*>(name.data()), bytes);
    }
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    WriteBytes(path, program);
}

}  // namespace testing_support
