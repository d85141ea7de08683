// The start-up archive's file edges: a probe that never follows a link, and the move
// of a finished archive into place.
#include <windows.h>

#include "cache/cache_edge.h"
#include "cache/entry_identity_win32.h"
#include "cache/sync_rules.h"
#include "runtime/startup_cache.h"

StartupArchiveProbe ProbeStartupArchive(const char* path) {
    StartupArchiveProbe probe = {CacheFileAbsent, OwnerUnreadable, false, false};
    // Shared for reading and deletion: a VM of another start may map the archive meanwhile.
    HANDLE file = CreateFileA(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        if (HandleIsLinkAt(file, path)) {
            probe.state = CacheFileLink;
        } else {
            probe.state = CacheFilePresent;
            probe.owner = QueryHandleOwner(file);
            unsigned char head[4];
            DWORD read = 0;
            probe.headRead = true;
            probe.hasMagic = ReadFile(file, head, sizeof head, &read, nullptr) && HasStartupArchiveMagic(head, read);
        }
        CloseHandle(file);
        return probe;
    }
    DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
        // A VM writes it now; only a launcher of this user starts one that writes here.
        probe.state = CacheFilePresent;
        probe.owner = OwnerCurrentUser;
    } else if (error == ERROR_ACCESS_DENIED && IsLinkAttributes(GetFileAttributesA(path))) {
        probe.state = CacheFileLink;
    } else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        // There, but not to be read: neither used nor written through.
        probe.state = CacheFilePresent;
        probe.headRead = true;
    }
    return probe;
}

bool MoveArchiveIntoPlace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}
