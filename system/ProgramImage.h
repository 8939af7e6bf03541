// Whether a file is a program that Windows starts, and what its version
// block says it is.
#pragma once

#include <windows.h>

// True when the open file (read from its start) is a PE image for the
// Windows GUI or console subsystem that is not a DLL, built for a processor
// this Windows runs programs of: what it can start as a process. Drivers,
// DLLs, boot files, hives and texts are none, and 32-bit Windows starts no
// 64-bit image.
bool IsWindowsProgram(HANDLE file);

// The names that the file's own version block gives it (its StringFileInfo
// "OriginalFilename", in each language it has), read from the file itself:
// no MUI file takes its place. At most kMostNames; 0 when it has none.
const int kMostNames = 8;
struct VersionNames {
    int count;
    wchar_t names[kMostNames][MAX_PATH];
};
void ReadOriginalFilenames(HANDLE file, VersionNames& found);
