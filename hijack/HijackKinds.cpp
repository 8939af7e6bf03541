#include "HijackKinds.h"

#include "Findings.h"
#include "ImageOptions.h"

namespace {
const wchar_t kClasses[] = L"Software\\Classes";  // below HKLM and HKCU alike
const wchar_t kMicrosoft[] = L"Software\\Microsoft";

const wchar_t kCommandKey[] = L"%s\\shell\\%s\\command";  // a type, a verb
const wchar_t kCommandLabel[] = L"%s %s命令";
const wchar_t kIsolatedLabel[] = L"%s %s命令 (IsolatedCommand)";
const wchar_t kTypeLabel[] = L"%s 文件类型";
const wchar_t kAutoRunLabel[] = L"命令提示符 AutoRun";

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const HKEY kUser = HKEY_CURRENT_USER;

// root, both views, base, key, value, reading, listing, own, sets own back,
// label, mark, clearing, starting, finder.
const KindRule kRules[] = {
    // kDebugger
    { kMachine, true, kImageOptionsKey, L"*", kDebuggerValue, kLoaderText, kAnyText, nullptr, false, L"%s", L"",
      kDeleteValueAndEmptyKeys, kStartsWholeText, FindImageOptions },
    // kFilterDebugger
    { kMachine, true, kImageOptionsKey, L"*\\*", kDebuggerValue, kLoaderText, kAnyText, nullptr, false, L"%s",
      L" [按路径]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kSilentExitMonitor
    { kMachine, true, kSilentExitKey, L"*", kMonitorValue, kReporterText, kNonEmpty, nullptr, false, L"%s",
      L" [退出监视]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kVerifierDlls: DLL names, no program's path
    { kMachine, true, kImageOptionsKey, L"*", kVerifierDllsValue, kLoaderText, kNonEmpty, nullptr, false, L"%s",
      L" [验证DLL]", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kOpenCommand: the shell needs it, so Windows' own text goes back
    { kMachine, true, kClasses, kCommandKey, L"", kShellText, kNotOwn, nullptr, true, kCommandLabel, L"",
      kDeleteValue, kStartsFirstToken, FindMachineTypes },
    // kExtensionType
    { kMachine, true, kClasses, L"%s", L"", kShellText, kNotOwnInAnyCase, nullptr, true, kTypeLabel, L"",
      kDeleteValue, kStartsNothing, nullptr },
    // kAutoRun
    { kMachine, true, kMicrosoft, L"Command Processor", L"AutoRun", kShellText, kNonEmpty, nullptr, false,
      kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kUserCommand: Windows writes none of the user's
    { kUser, false, kClasses, kCommandKey, L"", kShellText, kAnyText, nullptr, false, kCommandLabel, L"",
      kDeleteValueAndEmptyKeys, kStartsFirstToken, FindUserTypes },
    // kUserIsolatedCommand
    { kUser, false, kClasses, kCommandKey, L"IsolatedCommand", kShellText, kAnyText, nullptr, false,
      kIsolatedLabel, L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, nullptr },
    // kUserExtensionType
    { kUser, false, kClasses, L"%s", L"", kShellText, kAnyText, nullptr, false, kTypeLabel, L"",
      kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUserAutoRun
    { kUser, false, kMicrosoft, L"Command Processor", L"AutoRun", kShellText, kNonEmpty, nullptr, false,
      kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
};
static_assert(sizeof(kRules) / sizeof(kRules[0]) == kKindCount, "one rule for each kind of hijack");
}  // namespace

const KindRule& RuleOf(HijackKind kind) { return kRules[kind]; }
