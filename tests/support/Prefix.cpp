#include "Prefix.h"

#include <gtest/gtest.h>

namespace testing_support {

const char kImageOptionsKey[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

namespace {
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

void DeleteTree(HKEY parent, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    char child[MAX_PATH];
    while (RegEnumKeyA(key, 0, child, sizeof(child)) == ERROR_SUCCESS)
        DeleteTree(key, child);
    RegCloseKey(key);
    RegDeleteKeyA(parent, name);
}

HKEY OpenSessionManager()
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_ALL_ACCESS, &key));
    return key;
}
}  // namespace

void ResetImageOptions()
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, kImageOptionsKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    char child[MAX_PATH];
    while (RegEnumKeyA(key, 0, child, sizeof(child)) == ERROR_SUCCESS)
        DeleteTree(key, child);
    RegCloseKey(key);
}

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

std::wstring Widen(const std::string& ansi)
{
    std::wstring wide(ansi.size() + 1, L'\0');
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0],
                                static_cast<int>(wide.size()));
    wide.resize(n > 0 ? n : 0);
    return wide;
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

}  // namespace testing_support
