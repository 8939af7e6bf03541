// Image hijacks: settings that make Windows start another program, or load
// other code, when a program runs. Under Image File Execution Options, and
// beside them the program file types' commands and the command processor's
// AutoRun.
#pragma once

#include "framework/afxwin.h"

enum HijackKind {
    kDebugger,           // IFEO\<image>: debugger, started instead of the image
    kFilterDebugger,     // IFEO\<image>\<filter>: debugger, for the image at FilterFullPath (UseFilter set)
    kSilentExitMonitor,  // SilentProcessExit\<image>: MonitorProcess, started when the image exits
    kVerifierDlls,       // IFEO\<image>: VerifierDlls, loaded into the image (GlobalFlag 0x100)
    kOpenCommand,        // HKLM Classes\<type>\shell\open\command: the command programs of the type start with
    kExtensionType,      // HKLM Classes\<.ext>: the file type of the extension
    kUserCommand,        // HKCU Classes\<type>\shell\<verb>\command: a user's command, or IsolatedCommand
    kUserExtensionType,  // HKCU Classes\<.ext>: a user's file type of the extension
    kAutoRun,            // Command Processor: AutoRun, which cmd.exe runs at its start (HKLM or HKCU)
};

// How a row's name tells the user the kind of an image's setting (a plain
// debugger has no mark), that the setting is the user's own, and that it
// lies in a 32-bit registry view of its own.
const wchar_t* const kKindMarks[] = { L"", L" [按路径]", L" [退出监视]", L" [验证DLL]", L"", L"", L"", L"", L"" };
const wchar_t kUserMark[] = L" [当前用户]";
const wchar_t kWow64Mark[] = L" [32位]";

// What a row of the list stands for, as the scan found it: the clears act
// on this, never on the texts shown. One block from LocalAlloc holds the
// row and, after it, its text.
struct HijackRow {
    HijackKind kind;
    REGSAM view;               // 0, or the registry view it was read in (KEY_WOW64_32KEY, KEY_WOW64_64KEY)
    int programs;              // which programs read the setting (kNativePrograms, kWow64Programs)
    HKEY root;                 // HKEY_LOCAL_MACHINE, or HKEY_CURRENT_USER for a user's own setting
    wchar_t image[MAX_PATH];   // the image's subkey; for a file type's or the command processor's
                               // setting, its key below the root
    wchar_t filter[MAX_PATH];  // the filter's subkey, for kFilterDebugger
    const wchar_t* value;      // the value's name, for the settings outside IFEO ("" for the default)
    const wchar_t* restore;    // Windows' own text that a clear sets back, or null: the value goes
    bool expand;               // the text is REG_EXPAND_SZ: its program's path takes the environment
    const wchar_t* text;       // the setting's text, as Windows reads it: the program, or the DLLs
};

// Refills the list with one row per hijack: for an image's setting, the
// image's name (marked with the kind, and with the 32-bit view where that
// view is a key of its own); for the others, what they hijack in words
// (marked with the user's and the view's marks); and the setting's text,
// each row carrying its HijackRow.
void ScanHijacks(CListCtrl& list);

// Removes the setting the row stands for, in the row's view: its value,
// and the subkey too when that value was all it held; or, where a subkey on
// the way is a link to another key, that link alone. 1 when it went.
int DeleteHijackKey(const HijackRow& row);

// "全部清除" and "清除选定" in hijack mode; both rescan when they act.
// "清除选定" also queues the program that the row's text names for deletion
// at the next start: the file that each program reading the setting would
// start, when it is a Windows program that the system does not protect.
void ClearAllHijacks(CListCtrl& list);
void ClearSelectedHijack(CListCtrl& list);
