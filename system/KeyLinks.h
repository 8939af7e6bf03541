// Registry keys that are symbolic links to other keys.
#pragma once

#include <windows.h>

// Whether `key`, opened as the subkey `name` of `parent`, is that subkey
// itself: false when the subkey is a link, and `key` the key it leads to.
bool IsSubkeyItself(HKEY parent, HKEY key, const wchar_t* name);

// Whether the subkey `name` of `parent` (in the view) is a link to another
// key: Windows follows it, so the link is what a clear removes, never a
// setting of the key it leads to. False when it cannot be opened.
bool IsKeyLink(HKEY parent, const wchar_t* name, REGSAM view);

// Deletes the subkey `name` of `parent` when it is a link, and only then:
// the link goes, the key it leads to stays. 1 when it went.
int DeleteKeyLink(HKEY parent, const wchar_t* name, REGSAM view);
