#include "KeyWalk.h"

#include "Wow64.h"

namespace {
const REGSAM kRead = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
}

LONG OpenKeyToRead(HKEY parent, const wchar_t* name, REGSAM view, HKEY* key)
{
    LONG status = ::RegOpenKeyExW(parent, name, 0, kRead | view, key);
    if (status != ERROR_ACCESS_DENIED)
        return status;
    DWORD made = 0;
    status = ::RegCreateKeyExW(parent, name, 0, nullptr, REG_OPTION_BACKUP_RESTORE, kRead | view, nullptr, key, &made);
    if (status == ERROR_SUCCESS && made == REG_CREATED_NEW_KEY) {
        ::RegCloseKey(*key);
        *key = nullptr;
        DeleteSubkeyInView(parent, name, view);
        return ERROR_FILE_NOT_FOUND;
    }
    // Refused either way, for whatever reason the backup open gives.
    return status == ERROR_SUCCESS ? status : ERROR_ACCESS_DENIED;
}
