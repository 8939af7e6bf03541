// Whether Windows protects a system file, and would restore it if it went.
#pragma once

// 1 when the file at the full path `path` (ANSI) is protected: sfc.dll's
// SfcIsFileProtected reports it (where the system has it), or the file lies
// directly in the Windows directory or in system32 and the system keeps a
// file of that name in system32\dllcache. 1 too when the path is no text in
// the ANSI code page, since the system could not then be asked.
int IsProtectedSystemFile(const char* path);
