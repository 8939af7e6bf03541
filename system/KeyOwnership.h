// Taking a registry key back for the administrators.
#pragma once

#include <windows.h>

// For a subkey that refuses the administrators what they need to change
// it: makes the Administrators group its owner and puts an entry granting
// them full control at the head of its access list, keeping the entries
// that were there. Only that subkey is touched, itself when it is a link,
// never the key it leads to. 1 when the new access list was written.
int TakeBackKey(HKEY parent, const wchar_t* name, REGSAM view);

// Opens the subkey `name` of `parent` for `access` (in the view); a subkey
// that refuses (malware may leave its settings readable only) is first
// taken back for the administrators.
LONG OpenKeyToChange(HKEY parent, const wchar_t* name, REGSAM access, REGSAM view, HKEY* key);
