// Whether a file is a program that Windows starts.
#pragma once

#include <windows.h>

// True when the open file (read from its start) is a PE image for the
// Windows GUI or console subsystem that is not a DLL: what Windows can
// start as a process. Drivers, DLLs, boot files, hives and texts are none.
bool IsWindowsProgram(HANDLE file);
