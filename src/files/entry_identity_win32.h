// Whether an open handle is the directory entry that was named, or what a link there points to.
// Windows opens a link itself when asked (FILE_FLAG_OPEN_REPARSE_POINT); Wine follows a Linux link
// whatever the flags, and shows a link to a file as a plain file, so the handle's final path is
// compared with the name as well.
#pragma once

#include <windows.h>

#include "files/files_edge.h"

// A handle opened with FILE_FLAG_OPEN_REPARSE_POINT names a link (the link itself, or a target
// reached through a link on a platform that follows them) rather than a plain entry at path.
bool HandleIsLinkAt(HANDLE entry, const char* path);
// The handle is the entry at path itself: a plain entry there, or a link opened as the link.
bool HandleIsEntryItself(HANDLE entry, const char* path);

// Opens what stands at a name (a cache file, a start-up cache archive) with the given access and
// sharing, never a link's target, and says what the name holds: a file and its owner (the handle is
// returned open, for further reads), a link, a file another process holds open (counted as the
// user's), or nothing. Otherwise INVALID_HANDLE_VALUE, with the failed open's error in *error.
HANDLE OpenNamedEntryItself(const char* path, DWORD access, DWORD share, EntryState* state, EntryOwner* owner,
                            DWORD* error);
