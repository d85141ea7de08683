// The SyncFolder mode: a source application folder mirrored into the local sync directory.
#pragma once

// Brings the mirror of one relative folder (and everything below it) up to date; the driver passes ".".
void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder);
// Removes from the mirror of one relative folder what the source no longer has; appends the libs jars.
void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder);
// A later instance: puts the jars of the existing mirror's libs folder on the class path, changing nothing.
void AddSyncLibsToClassPath();
// Removes a folder and everything in it; a link is removed itself, never what it points to.
bool RemoveTree(const char* path);
// Whether the last mirror or libs reading met code owned by another account that it could not
// replace: the launch must then end instead of running it.
bool MirrorKeptForeignCode();
// Forgets the application cache folder a root mirror call set (unit tests only).
void ForgetSyncAppFolder();
