// Image hijacks: subkeys of Image File Execution Options that carry a
// "debugger" value, so that the system starts that program instead.
#pragma once

#include "framework/afxwin.h"

// Refills the list with one row (subkey name, debugger text) per hijack.
void ScanHijacks(CListCtrl& list);

// Removes the hijack of the named subkey: its debugger value, and the
// subkey too when that value was all it held. 1 when the value went.
int DeleteHijackKey(const char* name);

// "全部清除" and "清除选定" in hijack mode; both rescan when they act.
// "清除选定" also queues the program that the debugger text names for
// deletion at the next start, when the text plainly names an existing file
// that the system does not protect.
void ClearAllHijacks(CListCtrl& list);
void ClearSelectedHijack(CListCtrl& list);
