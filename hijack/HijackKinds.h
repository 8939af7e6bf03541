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
    kUnreadableImage,      // IFEO\<image> that nothing here can read, while Windows can
    kUnreadableFilter,     // the same of a filter subkey, of an image that uses filters
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
    kKindCount
};

// How Windows reads a setting's value.
enum Reading {
    kLoaderText,    // the loader and CreateProcess (ImageOptions.h): REG_SZ or REG_BINARY of at most 520 bytes
    kReporterText,  // the error-reporting service: a REG_SZ shorter than 260 characters with its terminator
    kShellText,     // the shell and cmd.exe: REG_SZ or REG_EXPAND_SZ of any length
};

// Which texts of a setting are a hijack, as bits; none: every text read.
enum Listing { kAnyText = 0, kNonEmpty = 1, kNotOwn = 2, kNotOwnInAnyCase = 4 };

// What a clear does, beside setting Windows' own text back where the row
// says so: delete the value, and then each key it leaves empty up to the
// rule's base.
// A key that nothing could read is taken back for the administrators
// instead, so that the next scan reads it.
enum Clearing { kDeleteValue, kDeleteValueAndEmptyKeys, kTakeBack };

// What a setting's text names that Windows goes on to: a verb of the
// setting's key (its command), a COM server's class (its LocalServer32
// command), or a ProgID (its open command).
enum Leading { kLeadsNowhere, kLeadsToVerb, kLeadsToServer, kLeadsToProgId };

// Which program "清除选定" queues: the whole text, the first token of a
// command line, the first token of the command the text leads to, or none.
enum Starting { kStartsNothing, kStartsWholeText, kStartsFirstToken, kStartsTargetsFirstToken };

class Findings;
typedef void (*FindKind)(HijackKind kind, Findings& found);

struct KindRule {
    HKEY root;               // HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER for a user's own setting
    bool bothViews;          // read in the 32-bit and the native registry view (a key of HKLM\SOFTWARE)
    const wchar_t* base;     // Windows' own key the setting lies below: a link below it is a hijack,
                             // and no clear deletes it or a key above it
    const wchar_t* key;      // the setting's key below `base`: "*" stands for each subkey, "%s" for
                             // a name the finder gives
    const wchar_t* value;    // the value ("" the default); null: each value of the key
    Reading reading;
    Leading leading;
    int listing;             // Listing bits
    const wchar_t* own;      // Windows' own text, where one text is Windows' own for every key
    const wchar_t* ownWhere; // a program of the system directory without which `own` is none of Windows'
    bool setsOwnBack;        // a clear sets Windows' own text back; else the value goes
    const wchar_t* switchValue;  // a REG_DWORD of the key that must be non-zero for Windows (Vista and later)
                             // to read the value, or null
    const wchar_t* label;    // column 0: the first "%s" the subject, the second the finding's detail
    const wchar_t* mark;     // after the label and the user's and the view's marks
    Clearing clearing;
    Starting starting;
    FindKind find;           // null: found by the finder of an earlier kind
};

const KindRule& RuleOf(HijackKind kind);

// The marks of column 0 that are no kind's own: a setting of the current
// user, and one of a 32-bit registry view that is a key of its own.
const wchar_t kUserMark[] = L" [当前用户]";
const wchar_t kWow64Mark[] = L" [32位]";
