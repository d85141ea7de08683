// Whether an open handle is the directory entry that was named, or what a link there points to.
// Windows opens a link itself when asked (FILE_FLAG_OPEN_REPARSE_POINT); Wine follows a Linux link
// whatever the flags, and shows a link to a file as a plain file, so the handle's final path is
// compared with the name as well.
#pragma once

#include <windows.h>

// A handle opened with FILE_FLAG_OPEN_REPARSE_POINT names a link (the link itself, or a target
// reached through a link on a platform that follows them) rather than a plain entry at path.
bool HandleIsLinkAt(HANDLE entry, const char* path);
// The handle is the entry at path itself: a plain entry there, or a link opened as the link.
bool HandleIsEntryItself(HANDLE entry, const char* path);
