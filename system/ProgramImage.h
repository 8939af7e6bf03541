// Whether a file is a program that Windows starts.
#pragma once

#include <windows.h>

// True when the open file (read from its start) is a PE image for the
// Windows GUI or console subsystem that is not a DLL, built for a processor
// this Windows runs programs of: what it can start as a process. Drivers,
// DLLs, boot files, hives and texts are none, and 32-bit Windows starts no
// 64-bit image.
bool IsWindowsProgram(HANDLE file);
