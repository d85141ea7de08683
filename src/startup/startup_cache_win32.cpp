// The start-up cache's file edges: a probe that never follows a link, and the move
// of a finished archive into place.
#include <windows.h>

#include "files/entry_identity_win32.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_edge.h"

StartupCacheProbe ProbeStartupCacheFile(const char* path) {
    StartupCacheProbe probe = {EntryAbsent, OwnerUnreadable, false, false};
    DWORD error;
    // Shared for reading and deletion: a VM of another start may map the archive meanwhile.
    HANDLE file = OpenNamedEntryItself(path, GENERIC_READ | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                       &probe.state, &probe.owner, &error);
    if (file != INVALID_HANDLE_VALUE) {
        unsigned char head[4];
        DWORD read = 0;
        probe.headRead = true;
        probe.hasMagic = ReadFile(file, head, sizeof head, &read, nullptr) && HasStartupArchiveMagic(head, read);
        CloseHandle(file);
    } else if (probe.state == EntryAbsent && error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND &&
               error != ERROR_PATH_NOT_FOUND) {
        // There, but not to be read: neither used nor written through.
        probe.state = EntryPresent;
        probe.headRead = true;
    }
    return probe;
}

bool MoveArchiveIntoPlace(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}
