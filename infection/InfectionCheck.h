// The infection check: four system executables compared with their
// reference copies under dllcache, and three files that the malware plants
// in the drivers directory.
#pragma once

#include "framework/afxwin.h"

// Refills the list with one row (full path, label) per hit.
void ScanInfections(CListCtrl& list);

// 1 when both files have at least 4096 bytes and their first 4096 differ.
int FirstPageDiffers(const char* path, const char* referencePath);

// 1 when a file (not a directory) exists at the path.
int FileIsPresent(const char* path);

// Reads up to *size bytes from the start of the file in one read; on success
// sets *size to the bytes read.
int ReadFileHead(const char* path, void* buffer, DWORD* size);

// Deletes the file, or queues it for deletion at restart and tells the user
// that it needs a restart; when it cannot be queued either, tells the user
// that it cannot be deleted.
void RemoveListedFile(const char* path);

// "清除选定" and "全部清除" in infection mode. Once there is something to act
// on, each sets *restartAdvised before its first deletion (the user may
// leave the window while a message about a queued file is open), then
// deletes and rescans.
void ClearSelectedFile(CListCtrl& list, int* restartAdvised);
void ClearAllFiles(CListCtrl& list, int* restartAdvised);
