#include "HijackKinds.h"

#include "Findings.h"
#include "ImageOptions.h"

namespace {
const wchar_t kClasses[] = L"Software\\Classes";  // below HKLM and HKCU alike
const wchar_t kMicrosoft[] = L"Software\\Microsoft";
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

const wchar_t kDrWatson[] = L"drwtsn32 -p %ld -e %ld -g";
const wchar_t kIsolatedValue[] = L"IsolatedCommand";
const wchar_t kDelegateValue[] = L"DelegateExecute";

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const HKEY kUser = HKEY_CURRENT_USER;

// Each kind's row, in three lines: where the setting lies (root, both
// views, base, key, value); how Windows reads it (reading, leading,
// listing, own text, own where, sets own back, switch); what the list
// shows and the clears do (label, mark, clearing, starting, finder).
// Windows ships none of a user's settings, nor a primary verb, delegate or
// CurVer of a program type: each of them goes, with the keys it leaves
// empty. The machine's commands and types the shell needs: Windows' own
// texts go back.
const KindRule kRules[] = {
    // kDebugger
    { kMachine, true, kImageOptionsKey, L"*", kDebuggerValue,
      kLoaderText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      L"%s", L"", kDeleteValueAndEmptyKeys, kStartsWholeText, FindImageOptions },
    // kFilterDebugger
    { kMachine, true, kImageOptionsKey, L"*\\*", kDebuggerValue,
      kLoaderText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      L"%s", L" [按路径]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kSilentExitMonitor
    { kMachine, true, kSilentExitKey, L"*", kMonitorValue,
      kReporterText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"%s", L" [退出监视]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kVerifierDlls: DLL names, no program's path
    { kMachine, true, kImageOptionsKey, L"*", kVerifierDllsValue,
      kLoaderText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"%s", L" [验证DLL]", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kFilterVerifierDlls
    { kMachine, true, kImageOptionsKey, L"*\\*", kVerifierDllsValue,
      kLoaderText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"%s", L" [按路径] [验证DLL]", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUnreadableImage
    { kMachine, true, kImageOptionsKey, L"*", L"",
      kLoaderText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      L"%s", L" [无法读取]", kTakeBack, kStartsNothing, nullptr },
    // kUnreadableFilter
    { kMachine, true, kImageOptionsKey, L"*\\*", L"",
      kLoaderText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      L"%s", L" [按路径] [无法读取]", kTakeBack, kStartsNothing, nullptr },
    // kPrimaryVerb
    { kMachine, true, kClasses, kShellKey, L"",
      kShellText, kLeadsToVerb, kAnyText, nullptr, nullptr, false, nullptr,
      kPrimaryVerbLabel, L"", kDeleteValue, kStartsTargetsFirstToken, FindMachineTypes },
    // kOpenCommand
    { kMachine, true, kClasses, kCommandKey, L"",
      kShellText, kLeadsNowhere, kNotOwn, nullptr, nullptr, true, nullptr,
      kCommandLabel, L"", kDeleteValue, kStartsFirstToken, nullptr },
    // kIsolatedCommand
    { kMachine, true, kClasses, kCommandKey, kIsolatedValue,
      kShellText, kLeadsNowhere, kNotOwn, nullptr, nullptr, true, nullptr,
      kIsolatedLabel, L"", kDeleteValue, kStartsFirstToken, nullptr },
    // kDelegateExecute
    { kMachine, true, kClasses, kCommandKey, kDelegateValue,
      kShellText, kLeadsToServer, kAnyText, nullptr, nullptr, false, nullptr,
      kDelegateLabel, L"", kDeleteValue, kStartsTargetsFirstToken, nullptr },
    // kCurVer: the other ProgID stays, it may be another program's
    { kMachine, true, kClasses, kCurVerKey, L"",
      kShellText, kLeadsToProgId, kAnyText, nullptr, nullptr, false, nullptr,
      kCurVerLabel, L"", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kExtensionType
    { kMachine, true, kClasses, L"%s", L"",
      kShellText, kLeadsNowhere, kNotOwnInAnyCase, nullptr, nullptr, true, nullptr,
      kTypeLabel, L"", kDeleteValue, kStartsNothing, nullptr },
    // kAutoRun
    { kMachine, true, kMicrosoft, L"Command Processor", L"AutoRun",
      kShellText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kUserPrimaryVerb
    { kUser, false, kClasses, kShellKey, L"",
      kShellText, kLeadsToVerb, kAnyText, nullptr, nullptr, false, nullptr,
      kPrimaryVerbLabel, L"", kDeleteValueAndEmptyKeys, kStartsTargetsFirstToken, FindUserTypes },
    // kUserCommand
    { kUser, false, kClasses, kCommandKey, L"",
      kShellText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      kCommandLabel, L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, nullptr },
    // kUserIsolatedCommand
    { kUser, false, kClasses, kCommandKey, kIsolatedValue,
      kShellText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      kIsolatedLabel, L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, nullptr },
    // kUserDelegateExecute
    { kUser, false, kClasses, kCommandKey, kDelegateValue,
      kShellText, kLeadsToServer, kAnyText, nullptr, nullptr, false, nullptr,
      kDelegateLabel, L"", kDeleteValueAndEmptyKeys, kStartsTargetsFirstToken, nullptr },
    // kUserCurVer
    { kUser, false, kClasses, kCurVerKey, L"",
      kShellText, kLeadsToProgId, kAnyText, nullptr, nullptr, false, nullptr,
      kCurVerLabel, L"", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUserExtensionType
    { kUser, false, kClasses, L"%s", L"",
      kShellText, kLeadsNowhere, kAnyText, nullptr, nullptr, false, nullptr,
      kTypeLabel, L"", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUserAutoRun
    { kUser, false, kMicrosoft, L"Command Processor", L"AutoRun",
      kShellText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kCrashDebugger: Dr. Watson is Windows' own on XP and 2003
    { kMachine, true, kCurrentVersion, L"AeDebug", kDebuggerValue,
      kLoaderText, kLeadsNowhere, kNonEmpty | kNotOwnInAnyCase, kDrWatson, L"drwtsn32.exe", true, nullptr,
      L"程序崩溃时的调试器", L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kHangDebugger
    { kMachine, true, kErrorReporting, L"Hangs", kDebuggerValue,
      kLoaderText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"程序无响应时的调试器", L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kHangReflectDebugger
    { kMachine, true, kErrorReporting, L"Hangs", L"ReflectDebugger",
      kLoaderText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"程序无响应时的调试器 (ReflectDebugger)", L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kAppDebugger
    { kUser, false, L"Software\\Classes\\ActivatableClasses\\Package", L"*\\DebugInformation\\*", L"DebugPath",
      kShellText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"%s 应用的调试器", L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, FindSetting },
    // kPackageDebugger
    { kUser, false, L"Software\\Microsoft\\Windows\\CurrentVersion\\PackagedAppXDebug", L"*", L"",
      kShellText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"%s 应用包的调试器", L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, FindSetting },
    // kAppInitDlls: DLL names; an empty text is Windows' own
    { kMachine, true, kCurrentVersion, L"Windows", L"AppInit_DLLs",
      kShellText, kLeadsNowhere, kNonEmpty, L"", nullptr, true, L"LoadAppInit_DLLs",
      L"每个程序载入的DLL (AppInit_DLLs)", L"", kDeleteValue, kStartsNothing, FindSetting },
    // kAppCertDll: DLL names
    { kMachine, false, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", L"AppCertDlls", nullptr,
      kShellText, kLeadsNowhere, kNonEmpty, nullptr, nullptr, false, nullptr,
      L"启动程序时载入的DLL (AppCertDlls: %s)", L"", kDeleteValue, kStartsNothing, FindSetting },
};
static_assert(sizeof(kRules) / sizeof(kRules[0]) == kKindCount, "one rule for each kind of hijack");
}  // namespace

const KindRule& RuleOf(HijackKind kind) { return kRules[kind]; }
