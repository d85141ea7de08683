// The application's own folder in the cache, where every file the launcher keeps for it lives: the
// jar cache, the jar copy, the start-up cache and the mirror. Code is loaded only from a folder that
// no other account can write: "{machine-wide cache}\{exe}" when no other account owns it or may
// change it and this user may write to it, otherwise "{the user's own cache}\{exe}".
#pragma once

#include <cstddef>

#include "files/files_edge.h"

enum AppFolderVerdict {
    AppFolderUsable,
    AppFolderMissing,    // nothing there yet: the launcher makes it, private to this user
    AppFolderForeign,    // a link, a file, another account's folder, or one others may change
    AppFolderReadOnly,   // safe, but this user may not write to it (an administrator's, say)
};

AppFolderVerdict JudgeAppFolder(const FolderSecurity& security);

// The chosen folder, decided once per process with one open and one security query of the folder
// (made first when missing); null, told on stderr, when neither the machine-wide nor the user's
// folder is safe to use.
const char* GetAppCacheFolder();
// "{application folder}\sync": the mirror, the local copy of the sync folder on the share. False,
// with buffer emptied, when there is no application folder or the path would not fit.
bool FormatMirrorRoot(char* buffer, size_t size);
// Lets a later GetAppCacheFolder choose again (unit tests only).
void ForgetAppCacheFolder();
