// The keys and values behind image hijacks, shared by the scan and the clears.
#pragma once

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
