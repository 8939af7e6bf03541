// The environment that Windows itself gives every program, as a launcher
// of a setting would expand it: only the system's own variables, each
// with the value Windows sets it from, never this process's environment,
// which whoever starts this program controls.
#pragma once

#include <windows.h>

// Whether the text refers to a variable: a "%" with another after it.
bool RefersToVariable(const wchar_t* text);

// Expands every variable reference ("%name%") of `text` as a program of
// the kind (kNativePrograms, kWow64Programs; Wow64.h) sees the system's
// own variables: SystemRoot, windir, SystemDrive, ProgramFiles,
// ProgramFiles(x86), CommonProgramFiles, CommonProgramFiles(x86),
// ALLUSERSPROFILE, and ProgramData from Vista on. Their values come from
// where Windows sets them (Windows NT\CurrentVersion, Windows\CurrentVersion
// and ProfileList, in the native registry view); on 64-bit Windows a
// 32-bit program's ProgramFiles and CommonProgramFiles are the x86 ones.
// Returns a block from LocalAlloc, or null when a reference names any other
// variable or one this Windows does not define: what it expands to is not
// known for certain here. With `firstToken`, the text is a command line
// whose program is its first token (in quotes, or up to a space or tab):
// a "%" after it is the arguments', copied as it is.
wchar_t* ExpandSystemVariables(const wchar_t* text, int program, bool firstToken);

// The machine's PATHEXT (Session Manager\Environment), the extensions that
// cmd.exe tries in turn for a name without one: a block from LocalAlloc,
// or null when it is not known for certain (absent, not a plain list, or
// set again in the user's own environment).
wchar_t* CommandExtensions();
