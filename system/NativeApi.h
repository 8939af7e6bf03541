// The ntdll entry points the program uses. They are looked up at run time,
// since not every SDK's import libraries carry them.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>

// RtlDosPathNameToNtPathName_U with no file-part or relative-name output.
// On success the caller releases ntPath->Buffer with HeapFree on the process heap.
BOOL DosPathToNtPath(const wchar_t* dosPath, UNICODE_STRING* ntPath);

// Whether two names are the same as the file system and the registry
// compare names: character for character, letters without regard to case
// (RtlEqualUnicodeString). A language's rules, which lstrcmpi follows, may
// take two different names for one.
bool SameName(const wchar_t* a, const wchar_t* b);

// The full registry path of an open key ("\REGISTRY\MACHINE\SOFTWARE\..."),
// as NtQueryKey reports it: the key a link leads to, not the link.
bool KeyPathOf(HKEY key, wchar_t* path, size_t capacity);

// The path of an open file on its volume ("\dir\file"), as
// NtQueryInformationFile reports it.
bool FilePathOnVolume(HANDLE file, wchar_t* path, size_t capacity);

// Deletes the open key itself (NtDeleteKey): for a key opened as a link,
// the link.
bool DeleteOpenKey(HKEY key);
