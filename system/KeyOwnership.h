// Taking a registry key back for the administrators.
#pragma once

#include <windows.h>

// For a subkey that refuses the administrators what they need to change
// it: makes the Administrators group its owner and puts an entry granting
// them full control at the head of its access list, keeping the entries
// that were there. Only that subkey is touched. 1 when the new access list
// was written.
int TakeBackKey(HKEY parent, const wchar_t* name, REGSAM view);
