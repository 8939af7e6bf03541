// Where an open file really lives, whatever name it was opened by.
#pragma once

#include <windows.h>

// The full drive path of the open file, in long-name form, as the file
// system names it: directory junctions, symbolic links, mount points, a
// substituted drive or a second drive letter for the volume on the way all
// resolved. `openedAs` is the drive path it was opened by. False when the
// location cannot be found.
bool RealPathOf(HANDLE file, const wchar_t* openedAs, wchar_t (&path)[MAX_PATH]);
