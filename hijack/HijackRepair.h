// Image hijacks: settings that make Windows start another program, or load
// other code, when a program runs (HijackKinds.h). The scan lists them,
// and the clears remove them.
#pragma once

#include "Findings.h"
#include "framework/afxwin.h"

// Refills the list with one row per hijack found (FindHijacks), each at
// the top, in the order found: the texts of DescribeFinding, and the
// finding as the row's data.
void ScanHijacks(CListCtrl& list);

// Removes the setting the finding stands for, in its view: sets Windows'
// own text back, or deletes its value and each key that leaves empty where
// the kind's rule says so; or, where a key on the way is a link to another
// key, that link alone. 1 when it went.
int DeleteHijackKey(const Finding& found);

// "全部清除" and "清除选定" in hijack mode; both rescan when they act.
// "清除选定" also queues the program that the row's setting starts for
// deletion at the next start: the file that each program reading the
// setting would start, when it is a Windows program that the system does
// not protect.
void ClearAllHijacks(CListCtrl& list);
void ClearSelectedHijack(CListCtrl& list);
