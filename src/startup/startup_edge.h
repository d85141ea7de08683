// The start-up cache's platform edge: Win32 in startup_cache_win32.cpp; the unit tests replace these
// functions (tests/unit/fake_startup_edge.cpp).
#pragma once

#include "files/files_edge.h"

struct StartupCacheProbe {
    EntryState state;
    EntryOwner owner;  // read when opened; a file held by another process counts as the user's
    bool headRead;     // false when another process holds the file: it is in use, not torn
    bool hasMagic;     // the first bytes carry the VM's archive magic (read when headRead)
};
// Opens the archive itself, never a link's target, and reads its owner and first bytes.
StartupCacheProbe ProbeStartupCacheFile(const char* path);
// Moves a finished archive over the name, replacing a file (or a link itself) that stands there.
bool MoveArchiveIntoPlace(const char* from, const char* to);
