// The SyncFolder mode: a source application folder mirrored into the local sync directory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cache/code_owner.h"

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

// ---- Portable rules ----

const size_t kSyncPathSize = 260;

// A jar: the name's last "." begins exactly ".jar" (case-sensitive), file or folder alike.
bool IsJarName(const char* name);
// "." and "..", the only listing entries the mirror never handles.
bool IsDotEntryName(const char* name);

// Attribute bits as the file system reports them for an entry.
const unsigned long kEntryAttributeReadOnly = 0x1;
const unsigned long kEntryAttributeFolder = 0x10;
const unsigned long kEntryAttributeLink = 0x400;  // junction or symbolic link
const unsigned long kEntryAttributesInvalid = 0xFFFFFFFFul;

bool IsFolderAttributes(unsigned long attributes);
bool IsLinkAttributes(unsigned long attributes);
bool IsReadOnlyAttributes(unsigned long attributes);

// Whether a failed lookup's error says the entry does not exist (file or path not found), as opposed
// to a lookup that could not be answered (share gone, access denied, network error).
bool LookupErrorMeansAbsent(unsigned long error);

// What a probe of a copy target (mirror entry or jar copy) found.
enum CopyTargetState {
    CopyTargetOpened,
    CopyTargetHeldOpen,  // sharing violation: another process holds it
    CopyTargetMissing,   // any other failure of the open
    CopyTargetLink,      // a link stands at the name: it was not opened through
};

struct CopyTargetProbe {
    CopyTargetState state;
    bool sizeRead;
    uint32_t sizeLow;
    bool timeRead;
    uint64_t lastWriteTime;
    EntryOwner owner;  // read when opened
};

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

// ---- File-system edges (Win32 in sync_mirror_win32.cpp) ----

struct FileEntryInfo {
    char name[260];
    unsigned long attributes;  // kEntryAttributesInvalid when the listing could not read them
    uint32_t sizeLow;
    uint64_t lastWriteTime;
};

typedef void* EntryListing;

// Opens a listing of pattern (FindFirstFileA) with its first entry; null when it can't be opened.
EntryListing OpenEntryListing(const char* pattern, FileEntryInfo* first);
// The next entry; false at the end, and then *endedCleanly says whether no entries were left.
bool NextListedEntry(EntryListing listing, FileEntryInfo* entry, bool* endedCleanly);
void CloseEntryListing(EntryListing listing);

// Looks one entry up by its full path; false with the system's error code when not found.
bool LookUpEntry(const char* path, FileEntryInfo* found, unsigned long* error);

// Opens the target for reading, existing only, no sharing, and reads its size, last-write time and
// owner; a link at the name is reported as such, not opened through.
CopyTargetProbe ProbeCopyTarget(const char* path);
// Copies source to temp (keeping its attributes and last-write time), then moves temp over target,
// replacing a file or a file link there itself. On failure no temp file stays and target is as it was.
bool CopyThroughTemp(const char* source, const char* temp, const char* target);

// A new folder with default attributes; an existing one is no failure worth reporting.
void MakeFolder(const char* path);
// Removes exactly the entry at path: a file, an empty folder, or a link itself, never what a link
// points to. False when it can't, also where the platform can only reach a link's target.
bool RemoveEntryItself(const char* path);
// Clears the read-only attribute of the entry itself (never of a link's target).
bool ClearReadOnly(const char* path);
// The entry's own attributes (a link's, not its target's); kEntryAttributesInvalid when it is not there.
unsigned long GetEntryAttributes(const char* path);
unsigned long GetOwnProcessId();
// Whether a process of that id runs now (also one of another account that can't be opened).
bool ProcessIsRunning(unsigned long processId);

// ---- A folder's listing held in memory, to compare the two sides without a call per entry ----

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

// Forgets the application cache folder a root mirror call set (unit tests only).
void ForgetSyncAppFolder();
