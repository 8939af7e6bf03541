#pragma once

// Enables the named privilege in the current process's token. Returns 1 if
// the system accepted the request.
int EnablePrivilege(const char* name);
