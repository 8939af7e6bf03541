// The accessibility programs that the logon screen starts: finding one that
// is another program, and restoring the genuine file by Windows' own means.
#pragma once

struct Finding;

// Restores the genuine file of a replaced accessibility program's finding:
// on XP and 2003 from dllcache, only a copy that names the program and
// that a publisher of the machine's roots signed; from Vista on by the
// native sfc.exe /SCANFILE. True when the file is the program again; it is
// never queued nor deleted.
bool RestoreAccessibilityProgram(const Finding& found);
