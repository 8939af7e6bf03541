// The kinds of image hijack, each one row of one table: where Windows keeps
// the setting, how it reads it, how the list names it, what a clear does
// and which program "清除选定" queues. Adding a kind is adding a row (and a
// finder, only when its keys are found by a rule of their own).
#pragma once

#include <windows.h>

enum HijackKind {
    kDebugger,             // IFEO\<image>: Debugger, started instead of the image
    kFilterDebugger,       // IFEO\<image>\<filter>: Debugger, for the image at FilterFullPath (UseFilter set)
    kSilentExitMonitor,    // SilentProcessExit\<image>: MonitorProcess, started when the image exits
    kVerifierDlls,         // IFEO\<image>: VerifierDlls, loaded into the image (GlobalFlag 0x100)
    kFilterVerifierDlls,   // the same by a filter's own VerifierDlls or GlobalFlag, for the image at its path
    kPrimaryVerb,          // HKLM Classes\<type>\shell: the verb the shell runs, when it is not open
    kOpenCommand,          // HKLM Classes\<type>\shell\<verb>\command: the command programs of the type start with
    kIsolatedCommand,      // the same key's IsolatedCommand
    kDelegateExecute,      // the same key's DelegateExecute: a COM server the shell starts instead
    kCurVer,               // HKLM Classes\<type>\CurVer: the ProgID the shell reads in the type's place
    kExtensionType,        // HKLM Classes\<.ext>: the file type of the extension
    kAutoRun,              // HKLM Command Processor: AutoRun, which cmd.exe runs at its start
    kUserPrimaryVerb,      // the same settings of HKCU Classes, which the shell prefers to the machine's
    kUserCommand,
    kUserIsolatedCommand,
    kUserDelegateExecute,
    kUserCurVer,
    kUserExtensionType,
    kUserAutoRun,          // HKCU Command Processor: AutoRun
    kCrashDebugger,        // AeDebug: Debugger, started when a program crashes
    kHangDebugger,         // Windows Error Reporting\Hangs: Debugger, started for a program that hangs
    kHangReflectDebugger,  // the same key's ReflectDebugger
    kAppDebugger,          // HKCU ActivatableClasses\Package\<package>\DebugInformation\<app>: DebugPath
    kPackageDebugger,      // HKCU PackagedAppXDebug\<package>: started whenever the package starts
    kAppInitDlls,          // Windows NT\CurrentVersion\Windows: AppInit_DLLs, loaded into every program
    kAppCertDll,           // Session Manager\AppCertDlls: each value, loaded into every program that starts another
    kAssistiveTool,        // Accessibility\ATs\<tool>: StartExe, which the assistive-technology broker starts
    kReplacedAccessibility,  // an accessibility program of the system directory that is another program
    kKindCount
};

// How Windows reads a setting's value.
enum Reading {
    kLoaderText,    // the loader and CreateProcess (ImageOptions.h): REG_SZ or REG_BINARY of at most 520 bytes
    kDebuggerText,  // the same, or a REG_EXPAND_SZ of that size, which Windows may expand or not
    kReporterText,  // the error-reporting service: a REG_SZ shorter than 260 characters with its terminator
    kShellText,     // the shell and cmd.exe: REG_SZ or REG_EXPAND_SZ of any length
    kRawText,       // user32's AppInit_DLLs: any type, its bytes up to the first NUL
};

// Which registry views the setting is read in: the one view of a key
// WOW64 does not redirect (HKCU, SYSTEM), both views of a key of
// HKLM\SOFTWARE, or only the native view, whose programs alone read it.
enum Views { kOneView, kBothViews, kNativeView };

// Which texts of a setting are a hijack, as bits; none: every text read.
// Windows' own text is compared exactly, in any case, or, for a path, as
// the file it names once its system variables are expanded.
enum Listing { kAnyText = 0, kNonEmpty = 1, kNotOwn = 2, kNotOwnInAnyCase = 4, kNotOwnPath = 8 };

// Windows' own text of a setting, for a subject (a file type, a tool) and
// a verb; a null subject stands for any. A table ends with a null text.
struct OwnText {
    const wchar_t* subject;
    const wchar_t* verb;
    const wchar_t* text;
};

// What a clear does, beside setting Windows' own text back where the row
// says so: delete the value, and then each key it leaves empty up to the
// rule's base; or restore the genuine file by Windows' own means.
// A key that nothing could read is taken back for the administrators
// instead, so that the next scan reads it.
enum Clearing { kDeleteValue, kDeleteValueAndEmptyKeys, kRestoreFile };

// What a setting's text names that Windows goes on to: a verb of the
// setting's key (its command), a COM server's class (its LocalServer32
// command), or a ProgID (its open command).
enum Leading { kLeadsNowhere, kLeadsToVerb, kLeadsToServer, kLeadsToProgId };

// Which file a setting names: none; the whole text, or the first token of
// a command line, which "清除选定" queues; the first token of the command
// the text leads to, queued only where the setting's own classes hold it
// (never another program's class or ProgID); one DLL by its full path,
// which is never queued; or a program of Windows' own at the text's path,
// restored and never deleted.
enum Starting { kStartsNothing, kStartsWholeText, kStartsFirstToken, kStartsTarget, kLoadsOneDll, kIsWindowsOwn };

// How the program that reads a setting finds the file its text names:
// CreateProcess and the loader take the text as it is; the shell expands
// the system's variables first, whatever the value's type; cmd.exe does so
// and then looks a name without an extension up by PATHEXT; some programs
// expand a REG_EXPAND_SZ only; and where it is not known whether the
// program expands, a text that refers to a variable names nothing certain.
enum Launcher { kCreateProcess, kShellLauncher, kCommandProcessor, kExpandsItsType, kMayExpand };

class Findings;
typedef void (*FindKind)(HijackKind kind, Findings& found);

// A row of the table, stating only what differs from the defaults below:
// where the setting lies, how Windows reads it, how the list shows it,
// what a clear does and which program reads it.
struct KindRule {
    HijackKind kind;
    const char* name;                 // a stable English name, for reports
    // Where the setting lies.
    bool ofUser = false;              // HKEY_CURRENT_USER, a user's own setting; else HKEY_LOCAL_MACHINE
    Views views = kOneView;
    const wchar_t* base = nullptr;    // Windows' own key the setting lies below: a link below it is a
                                      // hijack, and no clear deletes it or a key above it
    const wchar_t* key = nullptr;     // the setting's key below `base`: "*" stands for each subkey, "%s"
                                      // for a name the finder gives
    const wchar_t* value = L"";       // the value ("" the default); null: each value of the key
    // How Windows reads it.
    Reading reading = kShellText;
    Leading leading = kLeadsNowhere;
    int listing = kAnyText;           // Listing bits
    const OwnText* own = nullptr;     // Windows' own texts
    const wchar_t* ownWhere = nullptr;  // a program of the system directory without which `own` is none of Windows'
    bool setsOwnBack = false;         // a clear sets Windows' own text back; else the value goes
    const wchar_t* switchValue = nullptr;  // a number of the key that must be non-zero for Windows (Vista and
                                           // later) to read the value, or null
    // How the list shows it.
    const wchar_t* label = L"%s";     // column 0: the first "%s" the subject, the second the finding's detail
    const wchar_t* mark = L"";        // after the label and the user's and the view's marks
    // What a clear does, and which program reads the text.
    Clearing clearing = kDeleteValue;
    Starting starting = kStartsNothing;
    Launcher launcher = kCreateProcess;
    FindKind find = nullptr;          // null: found by the finder of an earlier kind

    constexpr KindRule(HijackKind of, const char* named) : kind(of), name(named) {}
    HKEY Root() const { return ofUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE; }

    constexpr KindRule At(bool user, const wchar_t* inBase, const wchar_t* inKey, const wchar_t* named) const
    {
        KindRule rule = *this;
        rule.ofUser = user;
        rule.base = inBase;
        rule.key = inKey;
        rule.value = named;
        return rule;
    }
    constexpr KindRule In(Views inViews) const { KindRule r = *this; r.views = inViews; return r; }
    constexpr KindRule Reads(Reading as) const { KindRule r = *this; r.reading = as; return r; }
    constexpr KindRule Leads(Leading to) const { KindRule r = *this; r.leading = to; return r; }
    constexpr KindRule Lists(int which) const { KindRule r = *this; r.listing = which; return r; }
    constexpr KindRule Own(const OwnText* texts, bool setBack, const wchar_t* where = nullptr) const
    {
        KindRule r = *this;
        r.own = texts;
        r.setsOwnBack = setBack;
        r.ownWhere = where;
        return r;
    }
    constexpr KindRule SwitchedBy(const wchar_t* named) const { KindRule r = *this; r.switchValue = named; return r; }
    constexpr KindRule Shows(const wchar_t* words, const wchar_t* after = L"") const
    {
        KindRule r = *this;
        r.label = words;
        r.mark = after;
        return r;
    }
    constexpr KindRule Clears(Clearing how) const { KindRule r = *this; r.clearing = how; return r; }
    constexpr KindRule Starts(Starting what, Launcher by) const
    {
        KindRule r = *this;
        r.starting = what;
        r.launcher = by;
        return r;
    }
    constexpr KindRule FoundBy(FindKind finder) const { KindRule r = *this; r.find = finder; return r; }
};

const KindRule& RuleOf(HijackKind kind);

// Windows' own text of the rule for the subject and verb (null: none of
// Windows' own there).
const wchar_t* OwnTextOf(const KindRule& rule, const wchar_t* subject, const wchar_t* verb);

// The key of a verb's command below a file type ("exefile\shell\open\command"),
// into `path` (`room` characters); false when it does not fit.
bool CommandKeyOf(const wchar_t* type, const wchar_t* verb, wchar_t* path, size_t room);

// The marks of column 0 that are no kind's own: a setting of the current
// user, one of a 32-bit registry view that is a key of its own, and a key
// that nothing here can read, while Windows can.
const wchar_t kUserMark[] = L" [当前用户]";
const wchar_t kWow64Mark[] = L" [32位]";
const wchar_t kUnreadableMark[] = L" [无法读取]";
