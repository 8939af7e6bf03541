// The two ntdll entry points the program uses. They are looked up at run
// time, since not every SDK's import libraries carry them.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>

// RtlDosPathNameToNtPathName_U with no file-part or relative-name output.
// On success the caller releases ntPath->Buffer with HeapFree on the process heap.
BOOL DosPathToNtPath(const wchar_t* dosPath, UNICODE_STRING* ntPath);

// ntdll's _strnicmp: bounded, folds ASCII letters only, 0 when equal.
// Returns non-zero (unequal) if the entry point cannot be found.
int NativeStrnicmp(const char* a, const char* b, size_t count);
