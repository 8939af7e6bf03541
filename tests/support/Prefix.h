// Arranging the Wine prefix the tests run in: image-hijack subkeys, the
// Session Manager's pending operations, and files on drive C.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

extern const char kImageOptionsKey[];
extern const char kSessionManagerKey[];

// Removes every subkey of Image File Execution Options (creating the key if needed).
void ResetImageOptions();
// Creates IFEO\name and, unless type is REG_NONE, its value `value` with these bytes.
void AddImageOption(const std::string& name, const void* data, DWORD size, DWORD type,
                    const char* value = "debugger");
void AddHijack(const std::string& name, const std::string& debugger);
bool ImageOptionExists(const std::string& name);
// The names of the values of IFEO\name, in the order the registry lists them.
std::vector<std::string> ImageOptionValues(const std::string& name);

// Gives the key HKLM\path an empty access list (nobody may open it for
// anything but changing that list back), or the default one again.
void SetKeyLocked(const std::string& path, bool locked);

// The PendingFileRenameOperations value as raw bytes; `present` tells whether it exists.
std::string ReadPending(bool* present = nullptr, DWORD* type = nullptr);
// Writes exactly these bytes, terminated or not.
void WritePending(const std::string& bytes, DWORD type = REG_MULTI_SZ);
void DeletePending();
// Raw bytes of a list of wide strings, each with its terminator.
std::string WideStrings(const std::vector<std::wstring>& strings);
// The strings of a wide list, split at every terminator (empty strings kept).
std::vector<std::wstring> SplitWide(const std::string& bytes);
std::wstring Widen(const std::string& ansi);  // from the ANSI code page

// A fresh, empty directory C:\orvex-tests\<name>.
std::string FreshDirectory(const std::string& name);
void WriteBytes(const std::string& path, const std::string& bytes);
// The whole file; "(missing)" with *present false when it cannot be opened.
std::string ReadBytes(const std::string& path, bool* present = nullptr);
bool FileExists(const std::string& path);

}  // namespace testing_support
