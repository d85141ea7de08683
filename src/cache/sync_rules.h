// The sync mirror's portable rules: entry names and attributes, the copy rule, replacing through a
// temporary copy, and a folder's listing held in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cache/cache_edge.h"

const size_t kSyncPathSize = 260;

// A jar: the name's last "." begins exactly ".jar" (case-sensitive), file or folder alike.
bool IsJarName(const char* name);
// "." and "..", the only listing entries the mirror never handles.
bool IsDotEntryName(const char* name);

bool IsFolderAttributes(unsigned long attributes);
bool IsLinkAttributes(unsigned long attributes);
bool IsReadOnlyAttributes(unsigned long attributes);

// Whether a failed lookup's error says the entry does not exist (file or path not found), as opposed
// to a lookup that could not be answered (share gone, access denied, network error).
bool LookupErrorMeansAbsent(unsigned long error);

// The copy rule: the target differs unless it opened and has the low 32 bits of the source's size and
// exactly its last-write time.
bool CopyTargetDiffers(const CopyTargetProbe& probe, uint32_t sourceSizeLow, uint64_t sourceLastWriteTime);

// What CopyWhenDifferent did.
enum CopyOutcome {
    CopyNotNeeded,        // the target is the source's copy (and, if code, owned by a trusted account)
    CopyMade,
    CopyFailed,           // the older target, if any, stays
    CopyLinkKept,         // a link stands at the target and could not be replaced (told on stderr)
    CopyForeignCodeKept,  // code owned by another account stays at the target (told on stderr)
};

// Applies the copy rule to one source file and replaces the target with a copy, made under temp, when
// different. A link at the target is never opened through; code owned by another account is copied
// again whatever its size and time.
CopyOutcome CopyWhenDifferent(const char* source, const char* temp, const char* target, uint32_t sourceSizeLow,
                              uint64_t sourceLastWriteTime, bool code);

// Replaces target with a copy of source made under temp, a name in target's folder, so that no reader
// ever finds a cut file at target. A link at target (as its attributes tell) is removed itself, never
// what it points to; a read-only target is made writable first. The copy keeps the source's
// attributes and last-write time. False, with target as it was, when that can't be done.
bool ReplaceWithCopy(const char* source, const char* temp, const char* target, unsigned long targetAttributes);

// "{target's folder}\~{stem}.{this process's id}.tmp"; false, with buffer emptied, when it would not fit.
bool FormatTempPathBeside(char* buffer, size_t size, const char* target, const char* stem);

// Tells on stderr that a link stands at path and could not be removed: that entry is skipped.
void ReportLinkKept(const char* path);

// Files that the VM or the launcher load and run: jars, DLLs, programs, and the runtime's class image
// "modules". Letter case is not significant.
bool IsCodeFileName(const char* name);

// A folder's listing held in memory, to compare the two sides without a call per entry.

struct HeldListing {
    FileEntryInfo* entries = nullptr;  // in listing order, "." and ".." left out
    size_t count = 0;
    size_t capacity = 0;
    const FileEntryInfo** byName = nullptr;  // the entries ordered by case-folded name, once sorted
    bool opened = false;  // the listing could be opened
    bool ended = false;   // it ended with no entries left, not with an error
    bool failed = false;  // memory ran out: some entries are not held
};

void HoldListedEntry(HeldListing* listing, const FileEntryInfo& entry);
bool SortHeldListing(HeldListing* listing);
// Matches names as the file system does for ASCII letters; null when not held.
const FileEntryInfo* FindHeldEntry(const HeldListing* listing, const char* name);
// Whether the listing holds every entry the folder had, so that a name missing from it is not there.
bool HeldListingIsWhole(const HeldListing* listing);
void ReleaseHeldListing(HeldListing* listing);

enum MirrorTargetVerdict {
    TargetMatches,  // listed as a plain file with the source's size (low 32 bits) and last-write time
    TargetDiffers,  // listed with another size or time, or not in the whole listing at all
    TargetUnknown,  // not a plain file, or the listing is not whole: the target itself must be probed
};

// The copy rule decided from the mirror folder's listing.
MirrorTargetVerdict JudgeListedTarget(const HeldListing* mirror, const char* name, uint32_t sourceSizeLow,
                                      uint64_t sourceLastWriteTime);
