// "复制" and "复制全部": the list's rows as text on the clipboard, as
// Unicode and, for older programs, in the system's code page.
#pragma once

#include "framework/afxwin.h"

// Copies the selected row (`all` false) or the whole list: a hijack's row
// as the report's block for its finding (the whole list with the report's
// head), any other row as its texts between tabs. False when there is
// nothing to copy, or the clipboard refused it.
bool CopyRows(CListCtrl& list, HWND owner, bool all);
