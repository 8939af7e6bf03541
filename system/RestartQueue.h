#pragma once

// Queues the file `path` (ANSI) for deletion by the Session Manager at the
// next system start: appends the pair (NT path, empty destination) to the
// PendingFileRenameOperations value. Returns 1 if the value was written; 0,
// with the value untouched, when it is not a list of whole pairs of type
// REG_MULTI_SZ, or keeps changing while it is read.
int QueueDeleteAtRestart(const char* path);
