// Image hijacks: subkeys of Image File Execution Options that carry a
// "debugger" value, so that the system starts that program instead.
#pragma once

#include "framework/afxwin.h"

// Refills the list with one row (subkey name, debugger text) per hijack.
void ScanHijacks(CListCtrl& list);

// Deletes the named subkey; one that has subkeys of its own is kept.
int DeleteHijackKey(const char* name);

// "全部清除" and "清除选定" in hijack mode; both rescan when they act.
void ClearAllHijacks(CListCtrl& list);
void ClearSelectedHijack(CListCtrl& list);
