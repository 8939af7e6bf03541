// The ntdll entry points the program uses, and the run-time lookup of
// entry points that not every Windows or SDK has.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <cstddef>

// An entry point of a system DLL the process has loaded already (ntdll,
// kernel32, advapi32), looked up at run time: null where this Windows lacks
// it, so that the program still starts there.
template <class F> F SystemFunction(const char* dll, const char* name)
{
    HMODULE module = ::GetModuleHandleA(dll);
    return reinterpret_cast<F>(reinterpret_cast<void*>(module != nullptr ? ::GetProcAddress(module, name) : nullptr));
}

// RtlDosPathNameToNtPathName_U with no file-part or relative-name output.
// On success the caller releases ntPath->Buffer with HeapFree on the process heap.
BOOL DosPathToNtPath(const wchar_t* dosPath, UNICODE_STRING* ntPath);

// Whether two names are the same as the file system and the registry
// compare names: character for character, letters without regard to case
// (RtlEqualUnicodeString). A language's rules, which lstrcmpi follows, may
// take two different names for one.
bool SameName(const wchar_t* a, const wchar_t* b);

// Whether `path` (of a file or a key) is `above` itself or lies below it:
// it begins with that name, followed by a "\" or its end.
bool LiesAtOrBelow(const wchar_t* path, const wchar_t* above);

// The full registry path of an open key ("\REGISTRY\MACHINE\SOFTWARE\..."),
// as NtQueryKey reports it: the key a link leads to, not the link.
bool KeyPathOf(HKEY key, wchar_t* path, size_t capacity);

// The path of an open file on its volume ("\dir\file"), as
// NtQueryInformationFile reports it.
bool FilePathOnVolume(HANDLE file, wchar_t* path, size_t capacity);

// Deletes the open key itself (NtDeleteKey): for a key opened as a link,
// the link.
bool DeleteOpenKey(HKEY key);

// Deletes the value of `length` characters at `name`, NULs and all
// (NtDeleteValueKey): RegDeleteValue names a value only up to a NUL.
bool DeleteValueNamed(HKEY key, const wchar_t* name, size_t length);

// Whether this Windows is Vista or later (version 6 on), rather than XP or
// 2003.
bool IsVistaOrLater();
