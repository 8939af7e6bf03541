#include "HijackKinds.h"

#include "Findings.h"
#include "ImageOptions.h"
#include "system/NativeApi.h"

#include <cwchar>

namespace {
// Each key as Windows spells it below its root: HKLM\SOFTWARE, HKCU\Software.
const wchar_t kClasses[] = L"SOFTWARE\\Classes";
const wchar_t kUserClasses[] = L"Software\\Classes";
const wchar_t kMicrosoft[] = L"SOFTWARE\\Microsoft";
const wchar_t kUserMicrosoft[] = L"Software\\Microsoft";
const wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
const wchar_t kErrorReporting[] = L"SOFTWARE\\Microsoft\\Windows\\Windows Error Reporting";

// Keys below a type: "%s" the type, the second "%s" a verb.
const wchar_t kShellKey[] = L"%s\\shell";
const wchar_t kCommandKey[] = L"%s\\shell\\%s\\command";
const wchar_t kCurVerKey[] = L"%s\\CurVer";

const wchar_t kPrimaryVerbLabel[] = L"%s 默认动作";
const wchar_t kCommandLabel[] = L"%s %s命令";
const wchar_t kIsolatedLabel[] = L"%s %s命令 (IsolatedCommand)";
const wchar_t kDelegateLabel[] = L"%s %s命令 (DelegateExecute)";
const wchar_t kCurVerLabel[] = L"%s 当前版本 (CurVer)";
const wchar_t kTypeLabel[] = L"%s 文件类型";
const wchar_t kAutoRunLabel[] = L"命令提示符 AutoRun";

const wchar_t kIsolatedValue[] = L"IsolatedCommand";
const wchar_t kDelegateValue[] = L"DelegateExecute";

const bool kMachine = false;
const bool kUser = true;

// Windows' own commands of the program file types, open and runas (the
// shell reads IsolatedCommand as the command), and their extensions'
// types: each runs the file itself, a screen saver's open command with /S.
const wchar_t kRunsItself[] = L"\"%1\" %*";
const OwnText kTypeCommands[] = {
    { L"scrfile", L"open", L"\"%1\" /S" },
    { nullptr, nullptr, kRunsItself },
    { nullptr, nullptr, nullptr },
};
const OwnText kExtensionTypes[] = {
    { L".exe", nullptr, L"exefile" }, { L".com", nullptr, L"comfile" }, { L".bat", nullptr, L"batfile" },
    { L".cmd", nullptr, L"cmdfile" }, { L".pif", nullptr, L"piffile" }, { L".scr", nullptr, L"scrfile" },
    { nullptr, nullptr, nullptr },
};
// Dr. Watson, Windows' own crash debugger on XP and 2003.
const OwnText kDrWatson[] = { { nullptr, nullptr, L"drwtsn32 -p %ld -e %ld -g" }, { nullptr, nullptr, nullptr } };
// No DLL loaded into every program.
const OwnText kNoDlls[] = { { nullptr, nullptr, L"" }, { nullptr, nullptr, nullptr } };
// The programs that Windows ships for its own assistive tools, as their
// StartExe names them: Windows 7 to 11 (Narrator, On-Screen Keyboard,
// Magnifier, speech recognition) and Windows 11 (live captions, voice
// access). Microsoft: "Ease of Access - Assistive Technology Registration".
const OwnText kAssistiveTools[] = {
    { L"osk", nullptr, L"%SystemRoot%\\System32\\osk.exe" },
    { L"Narrator", nullptr, L"%SystemRoot%\\System32\\Narrator.exe" },
    { L"magnifierpane", nullptr, L"%SystemRoot%\\System32\\Magnify.exe" },
    { L"speechreco", nullptr, L"%SystemRoot%\\Speech\\Common\\sapisvr.exe" },
    { L"livecaptions", nullptr, L"%SystemRoot%\\System32\\LiveCaptions.exe" },
    { L"voiceaccess", nullptr, L"%SystemRoot%\\System32\\VoiceAccess.exe" },
    { nullptr, nullptr, nullptr },
};

// Windows ships none of a user's settings, nor a primary verb, delegate or
// CurVer of a program type: each of them goes, with the keys it leaves
// empty. The machine's commands and types the shell needs: Windows' own
// texts go back.
constexpr KindRule kRules[] = {
    KindRule(kDebugger, "debugger")
        .At(kMachine, kImageOptionsKey, L"*", kDebuggerValue).In(kBothViews).Reads(kLoaderText)
        .Clears(kDeleteValueAndEmptyKeys).Starts(kStartsWholeText, kCreateProcess).FoundBy(FindImageOptions),
    KindRule(kFilterDebugger, "filter-debugger")
        .At(kMachine, kImageOptionsKey, L"*\\*", kDebuggerValue).In(kBothViews).Reads(kLoaderText)
        .Shows(L"%s", L" [按路径]").Clears(kDeleteValueAndEmptyKeys).Starts(kStartsWholeText, kCreateProcess),
    KindRule(kSilentExitMonitor, "silent-exit-monitor")
        .At(kMachine, kSilentExitKey, L"*", kMonitorValue).In(kBothViews).Reads(kReporterText).Lists(kNonEmpty)
        .Shows(L"%s", L" [退出监视]").Clears(kDeleteValueAndEmptyKeys).Starts(kStartsWholeText, kCreateProcess),
    // DLL names, loaded by the loader itself
    KindRule(kVerifierDlls, "verifier-dlls")
        .At(kMachine, kImageOptionsKey, L"*", kVerifierDllsValue).In(kBothViews).Reads(kLoaderText).Lists(kNonEmpty)
        .Shows(L"%s", L" [验证DLL]").Clears(kDeleteValueAndEmptyKeys).Starts(kLoadsOneDll, kCreateProcess),
    KindRule(kFilterVerifierDlls, "filter-verifier-dlls")
        .At(kMachine, kImageOptionsKey, L"*\\*", kVerifierDllsValue).In(kBothViews).Reads(kLoaderText)
        .Lists(kNonEmpty).Shows(L"%s", L" [按路径] [验证DLL]").Clears(kDeleteValueAndEmptyKeys)
        .Starts(kLoadsOneDll, kCreateProcess),
    KindRule(kPrimaryVerb, "primary-verb")
        .At(kMachine, kClasses, kShellKey, L"").In(kBothViews).Leads(kLeadsToVerb).Shows(kPrimaryVerbLabel)
        .Starts(kStartsTarget, kShellLauncher).FoundBy(FindMachineTypes),
    KindRule(kOpenCommand, "command")
        .At(kMachine, kClasses, kCommandKey, L"").In(kBothViews).Lists(kNotOwn).Own(kTypeCommands, true)
        .Shows(kCommandLabel).Starts(kStartsFirstToken, kShellLauncher),
    KindRule(kIsolatedCommand, "isolated-command")
        .At(kMachine, kClasses, kCommandKey, kIsolatedValue).In(kBothViews).Lists(kNotOwn).Own(kTypeCommands, true)
        .Shows(kIsolatedLabel).Starts(kStartsFirstToken, kShellLauncher),
    // A COM server of another program's class: shown, never queued
    KindRule(kDelegateExecute, "delegate-execute")
        .At(kMachine, kClasses, kCommandKey, kDelegateValue).In(kBothViews).Leads(kLeadsToServer)
        .Shows(kDelegateLabel).Starts(kStartsTarget, kMayExpand),
    // The other ProgID stays, it may be another program's
    KindRule(kCurVer, "curver")
        .At(kMachine, kClasses, kCurVerKey, L"").In(kBothViews).Leads(kLeadsToProgId).Shows(kCurVerLabel)
        .Clears(kDeleteValueAndEmptyKeys).Starts(kStartsTarget, kShellLauncher),
    KindRule(kExtensionType, "extension-type")
        .At(kMachine, kClasses, L"%s", L"").In(kBothViews).Lists(kNotOwnInAnyCase).Own(kExtensionTypes, true)
        .Shows(kTypeLabel),
    KindRule(kAutoRun, "autorun")
        .At(kMachine, kMicrosoft, L"Command Processor", L"AutoRun").In(kBothViews).Lists(kNonEmpty)
        .Shows(kAutoRunLabel).Starts(kStartsFirstToken, kCommandProcessor).FoundBy(FindSetting),
    KindRule(kUserPrimaryVerb, "user-primary-verb")
        .At(kUser, kUserClasses, kShellKey, L"").Leads(kLeadsToVerb).Shows(kPrimaryVerbLabel)
        .Clears(kDeleteValueAndEmptyKeys).Starts(kStartsTarget, kShellLauncher).FoundBy(FindUserTypes),
    KindRule(kUserCommand, "user-command")
        .At(kUser, kUserClasses, kCommandKey, L"").Shows(kCommandLabel).Clears(kDeleteValueAndEmptyKeys)
        .Starts(kStartsFirstToken, kShellLauncher),
    KindRule(kUserIsolatedCommand, "user-isolated-command")
        .At(kUser, kUserClasses, kCommandKey, kIsolatedValue).Shows(kIsolatedLabel).Clears(kDeleteValueAndEmptyKeys)
        .Starts(kStartsFirstToken, kShellLauncher),
    KindRule(kUserDelegateExecute, "user-delegate-execute")
        .At(kUser, kUserClasses, kCommandKey, kDelegateValue).Leads(kLeadsToServer).Shows(kDelegateLabel)
        .Clears(kDeleteValueAndEmptyKeys).Starts(kStartsTarget, kMayExpand),
    KindRule(kUserCurVer, "user-curver")
        .At(kUser, kUserClasses, kCurVerKey, L"").Leads(kLeadsToProgId).Shows(kCurVerLabel)
        .Clears(kDeleteValueAndEmptyKeys).Starts(kStartsTarget, kShellLauncher),
    KindRule(kUserExtensionType, "user-extension-type")
        .At(kUser, kUserClasses, L"%s", L"").Shows(kTypeLabel).Clears(kDeleteValueAndEmptyKeys),
    KindRule(kUserAutoRun, "user-autorun")
        .At(kUser, kUserMicrosoft, L"Command Processor", L"AutoRun").Lists(kNonEmpty).Shows(kAutoRunLabel)
        .Starts(kStartsFirstToken, kCommandProcessor).FoundBy(FindSetting),
    KindRule(kCrashDebugger, "crash-debugger")
        .At(kMachine, kCurrentVersion, L"AeDebug", kDebuggerValue).In(kBothViews).Reads(kDebuggerText)
        .Lists(kNonEmpty | kNotOwnInAnyCase).Own(kDrWatson, true, L"drwtsn32.exe").Shows(L"程序崩溃时的调试器")
        .Starts(kStartsFirstToken, kMayExpand).FoundBy(FindSetting),
    KindRule(kHangDebugger, "hang-debugger")
        .At(kMachine, kErrorReporting, L"Hangs", kDebuggerValue).In(kBothViews).Reads(kDebuggerText)
        .Lists(kNonEmpty).Shows(L"程序无响应时的调试器").Starts(kStartsFirstToken, kMayExpand).FoundBy(FindSetting),
    KindRule(kHangReflectDebugger, "hang-reflect-debugger")
        .At(kMachine, kErrorReporting, L"Hangs", L"ReflectDebugger").In(kBothViews).Reads(kDebuggerText)
        .Lists(kNonEmpty).Shows(L"程序无响应时的调试器 (ReflectDebugger)").Starts(kStartsFirstToken, kMayExpand)
        .FoundBy(FindSetting),
    KindRule(kAppDebugger, "app-debugger")
        .At(kUser, L"Software\\Classes\\ActivatableClasses\\Package", L"*\\DebugInformation\\*", L"DebugPath")
        .Lists(kNonEmpty).Shows(L"%s 应用的调试器").Clears(kDeleteValueAndEmptyKeys)
        .Starts(kStartsFirstToken, kMayExpand).FoundBy(FindSetting),
    KindRule(kPackageDebugger, "package-debugger")
        .At(kUser, L"Software\\Microsoft\\Windows\\CurrentVersion\\PackagedAppXDebug", L"*", L"")
        .Lists(kNonEmpty).Shows(L"%s 应用包的调试器").Clears(kDeleteValueAndEmptyKeys)
        .Starts(kStartsFirstToken, kMayExpand).FoundBy(FindSetting),
    // DLL names, which user32 reads whatever the value's type, and loads as they are
    KindRule(kAppInitDlls, "appinit-dlls")
        .At(kMachine, kCurrentVersion, L"Windows", L"AppInit_DLLs").In(kBothViews).Reads(kRawText).Lists(kNonEmpty)
        .Own(kNoDlls, true).SwitchedBy(L"LoadAppInit_DLLs").Shows(L"每个程序载入的DLL (AppInit_DLLs)")
        .Starts(kLoadsOneDll, kCreateProcess).FoundBy(FindSetting),
    // A DLL of each value, which Windows' query expands when it is a REG_EXPAND_SZ
    KindRule(kAppCertDll, "appcert-dll")
        .At(kMachine, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"AppCertDlls", nullptr)
        .Lists(kNonEmpty).Shows(L"启动程序时载入的DLL (AppCertDlls: %s)").Starts(kLoadsOneDll, kMayExpand)
        .FoundBy(FindSetting),
    // The broker is a native program: the native view alone
    KindRule(kAssistiveTool, "assistive-tool")
        .At(kMachine, kCurrentVersion, L"Accessibility\\ATs\\*", L"StartExe").In(kNativeView)
        .Lists(kNonEmpty | kNotOwnPath).Own(kAssistiveTools, false).Shows(L"%s 辅助工具 (StartExe)")
        .Starts(kStartsWholeText, kExpandsItsType).FoundBy(FindSetting),
    KindRule(kReplacedAccessibility, "replaced-accessibility-program")
        .Shows(L"%s", L" [已被替换]").Clears(kRestoreFile).Starts(kIsWindowsOwn, kCreateProcess)
        .FoundBy(FindReplacedPrograms),
};

constexpr bool RowsInKindOrder()
{
    for (int i = 0; i < kKindCount; ++i) {
        if (kRules[i].kind != i)
            return false;
    }
    return true;
}
static_assert(sizeof(kRules) / sizeof(kRules[0]) == kKindCount, "one rule for each kind of hijack");
static_assert(RowsInKindOrder(), "each kind's rule at its own place");
}  // namespace

const KindRule& RuleOf(HijackKind kind) { return kRules[kind]; }

const wchar_t* OwnTextOf(const KindRule& rule, const wchar_t* subject, const wchar_t* verb)
{
    for (const OwnText* own = rule.own; own != nullptr && own->text != nullptr; ++own) {
        if ((own->subject == nullptr || (subject != nullptr && SameName(own->subject, subject))) &&
            (own->verb == nullptr || (verb != nullptr && SameName(own->verb, verb))))
            return own->text;
    }
    return nullptr;
}

bool CommandKeyOf(const wchar_t* type, const wchar_t* verb, wchar_t* path, size_t room)
{
    if (std::wcslen(kCommandKey) + std::wcslen(type) + std::wcslen(verb) >= room)
        return false;
    ::wsprintfW(path, kCommandKey, type, verb);
    return true;
}
