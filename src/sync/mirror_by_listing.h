// The SyncFolder mode without an index: the sync folder on the share, listed folder by folder and
// copied into the mirror in the application's cache folder where a file differs.
#pragma once

#include <cstdint>

#include "files/held_listing.h"

// Brings the mirror of one relative folder (and everything below it) up to date; the driver passes ".".
void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder);
// Removes from the mirror of one relative folder what the source no longer has; appends the libs jars.
void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder);
// A later instance, or a start that can't reach the share: puts the jars of the existing mirror's libs
// folder on the class path, changing nothing; a jar of another account is noted (sync/mirror_root.h).
void AddSyncLibsToClassPath();
// Forgets the application cache folder a root mirror call set (unit tests only).
void ForgetSyncAppFolder();

enum MirrorTargetVerdict {
    TargetMatches,  // listed as a plain file with the source's size (low 32 bits) and last-write time
    TargetDiffers,  // listed with another size or time, or not in the whole listing at all
    TargetUnknown,  // not a plain file, or the listing is not whole: the target itself must be probed
};

// The copy rule decided from the mirror folder's listing.
MirrorTargetVerdict JudgeListedTarget(const HeldListing* mirror, const char* name, uint32_t sourceSizeLow,
                                      uint64_t sourceLastWriteTime);
