// Arranging the Wine prefix the tests run in: image-hijack subkeys, the
// Session Manager's pending operations, and files on drive C.
#pragma once

#include "hijack/HijackRepair.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

extern const char kImageOptionsKey[];
extern const char kSilentExitKey[];
extern const char kSessionManagerKey[];
extern const wchar_t kMachineClasses[];       // below HKLM
extern const wchar_t kUserClasses[];          // "HKCU\..."
extern const wchar_t kCommandProcessorKey[];  // below HKLM, and HKCU
extern const wchar_t kServerClass[];          // a COM class that the user's classes hold
extern const wchar_t kCrashDebuggerKey[];     // AeDebug, below HKLM
extern const wchar_t kHangDebuggerKey[];      // Windows Error Reporting\Hangs, below HKLM
extern const wchar_t kAppInitKey[];           // Windows NT\CurrentVersion\Windows, below HKLM
extern const wchar_t kAppCertKey[];           // Session Manager\AppCertDlls, below HKLM
extern const wchar_t kPackageDebuggerKey[];   // PackagedAppXDebug, "HKCU\..."
extern const wchar_t kAssistiveToolsKey[];    // Accessibility\ATs, below HKLM

// Removes every subkey of Image File Execution Options and of
// SilentProcessExit (creating the first if needed), in the registry view;
// gives exefile Windows' own commands again, and removes the other file
// types, the user's settings of them, every AutoRun, the crash and hang
// debuggers and the DLLs loaded into every program (in both views), the
// user's keys of the auto-elevating programs and the packaged apps'
// debuggers.
void ResetHijacks(REGSAM view = 0);
// Creates HKLM\path (in the view), or HKCU\... for a path that begins so,
// and, unless type is REG_NONE, its value `value` with exactly these bytes.
void SetRegistryValue(const std::wstring& path, const wchar_t* value, DWORD type, const void* data, DWORD size,
                      REGSAM view = 0);
// Deletes the key HKLM\path (or HKCU\...) and everything below it.
void DeleteRegistryTree(const std::wstring& path);
// Deletes the value of HKLM\path (or HKCU\...), where there is one.
void DeleteRegistryValue(const std::wstring& path, const wchar_t* value);
void SetRegistryDword(const std::wstring& path, const wchar_t* value, DWORD data, REGSAM view = 0);
void SetRegistryText(const std::wstring& path, const wchar_t* value, const std::wstring& text, REGSAM view = 0);
// Creates IFEO\name and, unless type is REG_NONE, its value `value` with these bytes.
void AddImageOption(const std::string& name, const void* data, DWORD size, DWORD type,
                    const char* value = "debugger");
void AddHijack(const std::string& name, const std::string& debugger);
// A hijack of the kind for the image, naming `text`: a debugger, a filter's
// debugger (subkey "f"), a silent-exit monitor or verifier DLLs, each with
// the flags Windows needs to act on it; or exefile's command or .exe's type,
// the machine's or the user's, or the user's AutoRun (kUserAutoRun); or
// exefile's primary verb, or its open command's DelegateExecute naming
// kServerClass, whose LocalServer32 is `text` (the machine's) or whose
// InprocServer32 is (kUserDelegateExecute); or a crash or hang debugger,
// a packaged app's or package's debugger (the image names the package),
// AppInit_DLLs that Windows loads, an AppCertDlls value (named so), or an
// assistive tool's StartExe (the image names the tool).
void AddHijackOfKind(HijackKind kind, const std::wstring& image, const std::wstring& text);
// What a scan finds, in the order the list shows it (the last found
// first): each finding's first column as the list shows it, and its text
// as Windows reads it.
std::vector<std::pair<std::wstring, std::wstring>> FoundHijacks();
// What a scan finds, as data, in the order found: each finding's kind, key,
// view and text, the publisher column, and its files with what "清除选定"
// does with each (the finding's reason alone where it names none).
struct FoundSetting {
    HijackKind kind;
    std::wstring key;
    REGSAM view;
    std::wstring text;
    std::wstring target;
    std::wstring publisher;
    std::vector<std::wstring> files;
    std::vector<Queueing> queueing;
};
std::vector<FoundSetting> FoundSettings();
bool ImageOptionExists(const std::string& name);
// The names of the values of IFEO\name, in the order the registry lists them.
std::vector<std::string> ImageOptionValues(const std::string& name);
// The same for HKLM\path in the view, "(missing)" alone when the key is.
std::vector<std::wstring> KeyValues(const std::wstring& path, REGSAM view = 0);
// The value as "type:text" ("1:exefile" for a REG_SZ), "(missing)" when it is not there.
std::wstring RegistryText(const std::wstring& path, const wchar_t* value);
// Makes HKLM\\path (in the view) a registry link to the key HKLM\\target
// (or to HKCU\\..., for a target that begins so).
void CreateRegistryLink(const std::wstring& path, const std::wstring& target, REGSAM view = 0);

// Gives the key HKLM\path an empty access list (nobody may open it for
// anything but changing that list back), or the default one again.
void SetKeyLocked(const std::string& path, bool locked);
// Gives the key the security of an SDDL text ("D:P(A;;KR;;;WD)": readable
// only), its owner too when the text names one ("O:SY"); `ofLink`: the
// security of a link itself.
void SetKeySecurity(const std::wstring& path, const wchar_t* sddl, bool ofLink = false);
// The key's owner and access list as an SDDL text.
std::wstring KeySecurity(const std::wstring& path);

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
std::string Narrow(const std::wstring& wide);  // to the ANSI code page
std::wstring ImageOptionPath(const std::wstring& name);  // IFEO\\name

// The screen's scale for programs started from now on (HKCU\Control
// Panel\Desktop\LogPixels); 96 is Windows' own.
void SetDpi(DWORD dpi);

// A fresh, empty directory C:\orvex-tests\<name>.
std::string FreshDirectory(const std::string& name);
void WriteBytes(const std::string& path, const std::string& bytes);
// The whole file; "(missing)" with *present false when it cannot be opened.
std::string ReadBytes(const std::string& path, bool* present = nullptr);
bool FileExists(const std::string& path);
// Makes `link` (a Windows path) a unix symbolic link to `target` (relative
// to the link's folder, with "/"): under Wine it stands in for a directory
// junction or a file's symbolic link, which Wine cannot make itself.
void UnixSymlink(const std::string& target, const std::string& link);
// Starts a unix command line (its program by its Z: path) in `directory`,
// and waits until the Windows path `until` exists, or is gone.
void UnixCommand(const std::string& command, const std::string& directory, const std::string& until, bool present);
// Copies Wine's notepad.exe, a Windows GUI program, to `path`.
void WriteProgram(const std::string& path);
// Copies the tests' small stand-in program to `path`, with a version block
// that names it `originalName`, or with none for an empty name.
void WriteVersionedProgram(const std::string& path, const std::wstring& originalName);

}  // namespace testing_support
