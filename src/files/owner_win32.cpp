// Owner of a file against the current user and the accounts every Windows trusts to install code.
#include <windows.h>
#include <aclapi.h>

#include "files/entry_owner.h"
#include "files/files_edge.h"

// The current user's SID, read once: the token does not change while the launcher runs.
static PSID CurrentUserSid() {
    static BYTE tokenUser[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    static bool read = false;
    if (!read) {
        HANDLE token = nullptr;
        DWORD size = 0;
        if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
            read = GetTokenInformation(token, TokenUser, tokenUser, sizeof tokenUser, &size) != FALSE;
            CloseHandle(token);
        }
        if (!read) return nullptr;
    }
    return reinterpret_cast<TOKEN_USER*>(tokenUser)->User.Sid;
}

static EntryOwner ClassifyOwner(PSID owner) {
    if (owner == nullptr || !IsValidSid(owner)) return OwnerUnreadable;
    PSID user = CurrentUserSid();
    if (user != nullptr && EqualSid(owner, user)) return OwnerCurrentUser;
    if (IsWellKnownSid(owner, WinLocalSystemSid)) return OwnerSystem;
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid)) return OwnerAdministrators;
    return OwnerOther;
}

static EntryOwner ClassifyDescriptor(DWORD result, PSID owner, PSECURITY_DESCRIPTOR descriptor) {
    EntryOwner found = result == ERROR_SUCCESS ? ClassifyOwner(owner) : OwnerUnreadable;
    if (descriptor != nullptr) LocalFree(descriptor);
    return found;
}

EntryOwner QueryEntryOwner(const char* path) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetNamedSecurityInfoA(path, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                         nullptr, &descriptor);
    return ClassifyDescriptor(result, owner, descriptor);
}

EntryOwner QueryHandleOwner(void* handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetSecurityInfo(static_cast<HANDLE>(handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor);
    return ClassifyDescriptor(result, owner, descriptor);
}
