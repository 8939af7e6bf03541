#pragma once

// Queues the file `path` for deletion by the Session Manager at the next
// system start: appends the pair (NT path, empty destination) to the
// PendingFileRenameOperations value, then resets the file's attributes to
// normal. Returns 1 if the value was written; 0, with the value and the
// file untouched, when it is not a list of whole pairs of type
// REG_MULTI_SZ, or keeps changing while it is read.
//
// The path is wide text of at most 260 characters, whose NT form has at
// most 264; or ANSI text in the system's code page, with the same limits
// counted in its bytes.
int QueueDeleteAtRestart(const wchar_t* path);
int QueueDeleteAtRestart(const char* path);
