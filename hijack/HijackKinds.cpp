#include "HijackKinds.h"

#include "Findings.h"
#include "ImageOptions.h"

namespace {
const wchar_t kClasses[] = L"Software\\Classes";  // below HKLM and HKCU alike
const wchar_t kMicrosoft[] = L"Software\\Microsoft";

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

const HKEY kMachine = HKEY_LOCAL_MACHINE;
const HKEY kUser = HKEY_CURRENT_USER;

// Each kind's row: root, both views, base, key, value, reading, leading,
// listing, own, sets own back, label, mark, clearing, starting, finder.
// Windows ships none of a user's settings, nor a primary verb, delegate or
// CurVer of a program type: each of them goes, with the keys it leaves
// empty. The machine's commands and types the shell needs: Windows' own
// texts go back.
const KindRule kRules[] = {
    // kDebugger
    { kMachine, true, kImageOptionsKey, L"*", kDebuggerValue, kLoaderText, kLeadsNowhere, kAnyText, nullptr, false,
      L"%s", L"", kDeleteValueAndEmptyKeys, kStartsWholeText, FindImageOptions },
    // kFilterDebugger
    { kMachine, true, kImageOptionsKey, L"*\\*", kDebuggerValue, kLoaderText, kLeadsNowhere, kAnyText, nullptr,
      false, L"%s", L" [按路径]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kSilentExitMonitor
    { kMachine, true, kSilentExitKey, L"*", kMonitorValue, kReporterText, kLeadsNowhere, kNonEmpty, nullptr, false,
      L"%s", L" [退出监视]", kDeleteValueAndEmptyKeys, kStartsWholeText, nullptr },
    // kVerifierDlls: DLL names, no program's path
    { kMachine, true, kImageOptionsKey, L"*", kVerifierDllsValue, kLoaderText, kLeadsNowhere, kNonEmpty, nullptr,
      false, L"%s", L" [验证DLL]", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kFilterVerifierDlls
    { kMachine, true, kImageOptionsKey, L"*\\*", kVerifierDllsValue, kLoaderText, kLeadsNowhere, kNonEmpty, nullptr,
      false, L"%s", L" [按路径] [验证DLL]", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUnreadableImage
    { kMachine, true, kImageOptionsKey, L"*", L"", kLoaderText, kLeadsNowhere, kAnyText, nullptr, false, L"%s",
      L" [无法读取]", kTakeBack, kStartsNothing, nullptr },
    // kPrimaryVerb
    { kMachine, true, kClasses, kShellKey, L"", kShellText, kLeadsToVerb, kAnyText, nullptr, false, kPrimaryVerbLabel,
      L"", kDeleteValue, kStartsTargetsFirstToken, FindMachineTypes },
    // kOpenCommand
    { kMachine, true, kClasses, kCommandKey, L"", kShellText, kLeadsNowhere, kNotOwn, nullptr, true, kCommandLabel,
      L"", kDeleteValue, kStartsFirstToken, nullptr },
    // kIsolatedCommand
    { kMachine, true, kClasses, kCommandKey, kIsolatedValue, kShellText, kLeadsNowhere, kNotOwn, nullptr, true,
      kIsolatedLabel, L"", kDeleteValue, kStartsFirstToken, nullptr },
    // kDelegateExecute
    { kMachine, true, kClasses, kCommandKey, kDelegateValue, kShellText, kLeadsToServer, kAnyText, nullptr, false,
      kDelegateLabel, L"", kDeleteValue, kStartsTargetsFirstToken, nullptr },
    // kCurVer: the other ProgID stays, it may be another program's
    { kMachine, true, kClasses, kCurVerKey, L"", kShellText, kLeadsToProgId, kAnyText, nullptr, false, kCurVerLabel,
      L"", kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kExtensionType
    { kMachine, true, kClasses, L"%s", L"", kShellText, kLeadsNowhere, kNotOwnInAnyCase, nullptr, true, kTypeLabel, L"",
      kDeleteValue, kStartsNothing, nullptr },
    // kAutoRun
    { kMachine, true, kMicrosoft, L"Command Processor", L"AutoRun", kShellText, kLeadsNowhere, kNonEmpty, nullptr,
      false, kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
    // kUserPrimaryVerb
    { kUser, false, kClasses, kShellKey, L"", kShellText, kLeadsToVerb, kAnyText, nullptr, false, kPrimaryVerbLabel,
      L"", kDeleteValueAndEmptyKeys, kStartsTargetsFirstToken, FindUserTypes },
    // kUserCommand
    { kUser, false, kClasses, kCommandKey, L"", kShellText, kLeadsNowhere, kAnyText, nullptr, false, kCommandLabel,
      L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, nullptr },
    // kUserIsolatedCommand
    { kUser, false, kClasses, kCommandKey, kIsolatedValue, kShellText, kLeadsNowhere, kAnyText, nullptr, false,
      kIsolatedLabel, L"", kDeleteValueAndEmptyKeys, kStartsFirstToken, nullptr },
    // kUserDelegateExecute
    { kUser, false, kClasses, kCommandKey, kDelegateValue, kShellText, kLeadsToServer, kAnyText, nullptr, false,
      kDelegateLabel, L"", kDeleteValueAndEmptyKeys, kStartsTargetsFirstToken, nullptr },
    // kUserCurVer
    { kUser, false, kClasses, kCurVerKey, L"", kShellText, kLeadsToProgId, kAnyText, nullptr, false, kCurVerLabel, L"",
      kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUserExtensionType
    { kUser, false, kClasses, L"%s", L"", kShellText, kLeadsNowhere, kAnyText, nullptr, false, kTypeLabel, L"",
      kDeleteValueAndEmptyKeys, kStartsNothing, nullptr },
    // kUserAutoRun
    { kUser, false, kMicrosoft, L"Command Processor", L"AutoRun", kShellText, kLeadsNowhere, kNonEmpty, nullptr, false,
      kAutoRunLabel, L"", kDeleteValue, kStartsFirstToken, FindSetting },
};
static_assert(sizeof(kRules) / sizeof(kRules[0]) == kKindCount, "one rule for each kind of hijack");
}  // namespace

const KindRule& RuleOf(HijackKind kind) { return kRules[kind]; }
