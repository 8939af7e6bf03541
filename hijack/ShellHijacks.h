// The hijacks beside Image File Execution Options: the commands and types
// of the program file types, and the command processor's AutoRun.
#pragma once

#include "HijackRepair.h"

// Lists the row with its text, both kept in one block for the clears: the
// label (shown as it is), the user's and the view's marks, then `mark`.
void AddHijackRow(CListCtrl& list, const HijackRow& row, const wchar_t* label, const wchar_t* mark,
                  const wchar_t* text);

// Adds a row for each program file type's command or extension's type that
// is not Windows' own, each user's override of them, and each AutoRun.
void ScanShellHijacks(CListCtrl& list);

// Sets a machine's command or type back to Windows' own text, or deletes a
// user's override (and the keys it leaves empty) or an AutoRun. 1 when it
// went. *linked tells whether a key on the way was a link to another key:
// then the link went, and the text was that key's.
int RemoveShellHijack(const HijackRow& row, bool* linked);
