#include "KeyOwnership.h"

#include "Privilege.h"

namespace {
// Sets one part (owner or access list) of the subkey's security, through a
// handle opened for just that.
bool SetKeySecurityPart(HKEY parent, const wchar_t* name, REGSAM view, REGSAM access,
                        SECURITY_INFORMATION part, SECURITY_DESCRIPTOR* descriptor)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access | view, &key) != ERROR_SUCCESS)
        return false;
    bool set = ::RegSetKeySecurity(key, part, descriptor) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    return set;
}

// The subkey's access list with an entry granting `sid` full control in
// front, into `acl` (`size` bytes).
bool GrantFirst(HKEY parent, const wchar_t* name, REGSAM view, PSID sid, ACL* acl, DWORD size)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, READ_CONTROL | view, &key) != ERROR_SUCCESS)
        return false;
    BYTE current[4096];
    DWORD currentSize = sizeof(current);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ACL* old = nullptr;
    bool read = ::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current, &currentSize) == ERROR_SUCCESS &&
                ::GetSecurityDescriptorDacl(current, &present, &old, &defaulted);
    ::RegCloseKey(key);
    if (!read || !::InitializeAcl(acl, size, ACL_REVISION) || !::AddAccessAllowedAce(acl, ACL_REVISION, KEY_ALL_ACCESS, sid))
        return false;
    if (!present || old == nullptr)
        return true;
    for (DWORD index = 0; index < old->AceCount; ++index) {
        void* ace = nullptr;
        if (!::GetAce(old, index, &ace) ||
            !::AddAce(acl, ACL_REVISION, MAXDWORD, ace, reinterpret_cast<ACE_HEADER*>(ace)->AceSize))
            return false;
    }
    return true;
}
}  // namespace

int TakeBackKey(HKEY parent, const wchar_t* name, REGSAM view)
{
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &administrators))
        return 0;

    // Taking ownership is what the privilege allows whatever the access
    // list says; as the owner, the group may then rewrite the list. A key
    // the administrators already own needs only the second step.
    EnablePrivilege("SeTakeOwnershipPrivilege");
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorOwner(&descriptor, administrators, FALSE);
    SetKeySecurityPart(parent, name, view, WRITE_OWNER, OWNER_SECURITY_INFORMATION, &descriptor);

    BYTE acl[8192];
    int written = 0;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (GrantFirst(parent, name, view, administrators, reinterpret_cast<ACL*>(acl), sizeof(acl)) &&
        ::SetSecurityDescriptorDacl(&descriptor, TRUE, reinterpret_cast<ACL*>(acl), FALSE))
        written = SetKeySecurityPart(parent, name, view, WRITE_DAC, DACL_SECURITY_INFORMATION, &descriptor) ? 1 : 0;
    ::FreeSid(administrators);
    return written;
}

LONG OpenKeyToChange(HKEY parent, const wchar_t* name, REGSAM access, REGSAM view, HKEY* key)
{
    LONG status = ::RegOpenKeyExW(parent, name, 0, access | view, key);
    if (status == ERROR_ACCESS_DENIED && TakeBackKey(parent, name, view))
        status = ::RegOpenKeyExW(parent, name, 0, access | view, key);
    return status;
}
