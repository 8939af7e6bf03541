// The program run by a command line, as fleet tools run it: no window and
// no message box, the report on standard output, the result as its exit
// code (kExit...).
#pragma once

enum ExitCode {
    kExitClean = 0,        // nothing found (/scan), or nothing left (/clear); the usage asked for (/?)
    kExitFound = 1,        // something found (/scan), or something left (/clear)
    kExitUsage = 2,        // a command line it does not know
    kExitCannotWrite = 3,  // the report could not be written
    kExitWindow = -1,      // no arguments: the window
};

// Runs what the command line asks for; kExitWindow when it asks for the
// window.
int RunCommandLine();
