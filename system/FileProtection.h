// Whether Windows protects a system file, and would restore it if it went.
#pragma once

// 1 when the file at `path` (a full path in long-name form) is protected:
// sfc.dll's SfcIsFileProtected reports it (where the system has it), or the
// file lies directly in the Windows directory, system32 or SysWOW64 and the
// system keeps a file of that name in the dllcache of that system directory
// (system32's for the Windows directory), or it is one of the copies kept
// there. A file of one of those folders reached by another name (a second
// drive letter, a link on the way) is asked about by its own name there. On
// 64-bit Windows a file of system32 and its namesake in SysWOW64 are one
// system file: either one protected protects both.
int IsProtectedSystemFile(const wchar_t* path);
