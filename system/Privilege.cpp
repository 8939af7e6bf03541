#include "Privilege.h"

#include <windows.h>

int EnablePrivilege(const char* name)
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return 0;

    TOKEN_PRIVILEGES privileges = {};
    if (!::LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid)) {
        ::CloseHandle(token);
        return 0;
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;

    // Success is the call's own report; a privilege the token does not hold
    // leaves ERROR_NOT_ALL_ASSIGNED behind, which the restart request itself
    // will then refuse.
    BOOL adjusted = ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof(privileges), nullptr, nullptr);
    ::CloseHandle(token);
    return adjusted ? 1 : 0;
}
