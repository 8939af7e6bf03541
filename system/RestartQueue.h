#pragma once

// Queues the file `path` for deletion by the Session Manager at the next
// system start: appends the pair (NT path, empty destination) to the
// PendingFileRenameOperations value. Returns 1 if the value was written.
int QueueDeleteAtRestart(const char* path);
