// The keys and values behind image hijacks, shared by the scan and the
// clears, and the reader of Image File Execution Options values.
#pragma once

#include <windows.h>

const wchar_t kImageOptionsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options";
const wchar_t kSilentExitKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\SilentProcessExit";

const wchar_t kDebuggerValue[] = L"debugger";
const wchar_t kUseFilterValue[] = L"UseFilter";
const wchar_t kFilterPathValue[] = L"FilterFullPath";
const wchar_t kGlobalFlagValue[] = L"GlobalFlag";
const wchar_t kVerifierDllsValue[] = L"VerifierDlls";
const wchar_t kReportingModeValue[] = L"ReportingMode";
const wchar_t kMonitorValue[] = L"MonitorProcess";

const unsigned long kVerifierFlag = 0x100;     // GlobalFlag: application verifier
const unsigned long kSilentExitFlag = 0x200;   // GlobalFlag: monitor silent process exit
const unsigned long kLaunchMonitorMode = 0x1;  // ReportingMode: launch the monitor process

// Windows reads a text option into MAX_PATH wide characters (CreateProcess
// reads the debugger so): 260 characters fit, with or without a terminator.
// The room here has one more, for the terminator this side adds.
const size_t kOptionTextRoom = MAX_PATH + 1;

// Reads a value of an image's subkey as the loader and CreateProcess read
// it (ntdll's LdrQueryImageFileKeyOption, called where ntdll exports it):
// - a text option is a REG_SZ or REG_BINARY value of at most 520 bytes,
//   taken up to its first NUL or its end;
// - a number option is a REG_DWORD or REG_BINARY value of at most 4 bytes
//   (fewer bytes leave the rest zero), or a REG_SZ value converted as
//   RtlUnicodeStringToInteger with base 0 converts it ("0x200", " 512").
// False, for any other type or size, or when the value is absent.
bool ReadOptionText(HKEY key, const wchar_t* value, wchar_t (&text)[kOptionTextRoom]);
bool ReadOptionNumber(HKEY key, const wchar_t* value, DWORD* number);
