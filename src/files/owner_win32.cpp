// Owners of files and folders against the current user and the accounts every Windows trusts to
// install code, and who may change a folder.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>

#include "base/proc_address.h"
#include "files/entry_identity_win32.h"
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
    // READ_CONTROL only: a handle that reads no data is refused by no sharing mode.
    HANDLE entry = CreateFileA(path, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (entry == INVALID_HANDLE_VALUE) return OwnerUnreadable;
    EntryOwner owner = QueryHandleOwner(entry);
    CloseHandle(entry);
    return owner;
}

EntryOwner QueryHandleOwner(void* handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    DWORD result = GetSecurityInfo(static_cast<HANDLE>(handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                                   nullptr, nullptr, nullptr, &descriptor);
    return ClassifyDescriptor(result, owner, descriptor);
}

// ---- Folders ----

// Rights that change what a folder holds or who may: adding, deleting or renaming entries, and the
// folder's own DACL and owner.
static const ACCESS_MASK kFolderChangeRights = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_DELETE_CHILD | DELETE |
                                              WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

static bool IsTrustedSid(PSID sid) {
    PSID user = CurrentUserSid();
    return (user != nullptr && EqualSid(sid, user)) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// Whether an allow entry that applies to the folder itself gives an untrusted account a change right.
static bool OthersMayChange(const ACL* dacl) {
    if (dacl == nullptr) return true;  // no DACL: everyone may do everything
    for (DWORD i = 0; i < dacl->AceCount; i++) {
        void* ace = nullptr;
        if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) return true;
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
        const ACCESS_ALLOWED_ACE* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        PSID sid = const_cast<DWORD*>(&allowed->SidStart);
        if ((allowed->Mask & kFolderChangeRights) != 0 && !IsTrustedSid(sid)) return true;
    }
    return false;
}

// The system's own access check of the descriptor against this process's token.
static bool UserMayAddEntries(PSECURITY_DESCRIPTOR descriptor) {
    HANDLE token = nullptr;
    HANDLE impersonation = nullptr;
    bool granted = false;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &token) &&
        DuplicateToken(token, SecurityIdentification, &impersonation)) {
        GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
        DWORD wanted = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
        PRIVILEGE_SET privileges;
        DWORD privilegesSize = sizeof privileges;
        DWORD grantedAccess = 0;
        BOOL status = FALSE;
        granted = AccessCheck(descriptor, impersonation, wanted, &mapping, &privileges, &privilegesSize,
                              &grantedAccess, &status) &&
                  status;
    }
    if (impersonation != nullptr) CloseHandle(impersonation);
    if (token != nullptr) CloseHandle(token);
    return granted;
}

static HANDLE g_queriedFolder = INVALID_HANDLE_VALUE;

FolderSecurity QueryFolderSecurity(const char* path) {
    ReleaseQueriedFolder();
    FolderSecurity security = {FolderAbsent, OwnerUnreadable, true, false};
    // Listing access and no delete sharing: while this handle is open the folder can't be renamed.
    HANDLE folder = CreateFileA(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        security.kind = absent ? FolderAbsent : FolderNotAFolder;
        return security;
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (HandleIsLinkAt(folder, path)) {
        security.kind = FolderLink;
    } else if (!GetFileInformationByHandle(folder, &information) ||
               (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        security.kind = FolderNotAFolder;
    } else {
        security.kind = FolderReal;
        PSID owner = nullptr;
        ACL* dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                            &owner, nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS) {
            security.owner = ClassifyOwner(owner);
            security.othersMayWrite = OthersMayChange(dacl);
            security.userMayWrite = UserMayAddEntries(descriptor);
        }
        if (descriptor != nullptr) LocalFree(descriptor);
    }
    if (security.kind == FolderReal) {
        g_queriedFolder = folder;
    } else {
        CloseHandle(folder);
    }
    return security;
}

void ReleaseQueriedFolder() {
    if (g_queriedFolder != INVALID_HANDLE_VALUE) CloseHandle(g_queriedFolder);
    g_queriedFolder = INVALID_HANDLE_VALUE;
}

bool MakePrivateFolder(const char* path) {
    PSID user = CurrentUserSid();
    char* userText = nullptr;
    if (user == nullptr || !ConvertSidToStringSidA(user, &userText)) return false;
    // Protected, so that nothing is inherited from a parent that others may change.
    char descriptorText[256];
    int written = snprintf(descriptorText, sizeof descriptorText,
                           "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;%s)(A;OICI;0x1200a9;;;BU)", userText);
    LocalFree(userText);
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, FALSE};
    if (written < 0 || static_cast<size_t>(written) >= sizeof descriptorText ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorA(descriptorText, SDDL_REVISION_1,
                                                             &attributes.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    bool made = CreateDirectoryA(path, &attributes) != FALSE;
    LocalFree(attributes.lpSecurityDescriptor);
    return made;
}

bool FillRandomBytes(void* buffer, size_t size) {
    typedef BOOLEAN(WINAPI * GenRandomFn)(PVOID, ULONG);
    // RtlGenRandom, exported by advapi32 under this name.
    GenRandomFn genRandom = GetProcAs<GenRandomFn>(GetModuleHandleA("advapi32.dll"), "SystemFunction036");
    return genRandom != nullptr && size <= 0xFFFFFFFFu && genRandom(buffer, static_cast<ULONG>(size));
}
