// The output of the program run from a command line: the console the
// command was typed in, or whatever the caller redirected it to (a file, a
// pipe, a fleet agent's capture).
#pragma once

#include <cstddef>

enum Stream { kStandardOutput, kStandardError };

// Writes the text whole before it returns: as Unicode into a console, as
// UTF-8 into a file or a pipe. False when it could not be written.
bool WriteStream(Stream stream, const wchar_t* text, size_t length);
