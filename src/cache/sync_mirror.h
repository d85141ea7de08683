// The SyncFolder mode: a source application folder mirrored into the local sync directory.
#pragma once

#include <cstddef>
#include <cstdint>

// Brings the mirror of one relative folder (and everything below it) up to date; the driver passes ".".
void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder);
// Removes from the mirror of one relative folder what the source no longer has; appends the libs jars.
void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder);
// A later instance: puts the jars of the existing mirror's libs folder on the class path, changing nothing.
void AddSyncLibsToClassPath();
// Removes a folder and everything in it; a link is removed itself, never what it points to.
bool RemoveTree(const char* path);

// ---- Portable rules ----

const size_t kSyncPathSize = 260;

// Formats a path into buffer; false, with the buffer emptied, when the text would not fit.
// No path is ever cut short: a cut path names another file.
bool FormatPathText(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

// A jar: the name's last "." begins exactly ".jar" (case-sensitive), file or folder alike.
bool IsJarName(const char* name);
// "." and "..", the only listing entries the mirror never handles.
bool IsDotEntryName(const char* name);

// Attribute bits as the file system reports them for an entry.
const unsigned long kEntryAttributeFolder = 0x10;
const unsigned long kEntryAttributeLink = 0x400;  // junction or symbolic link
const unsigned long kEntryAttributesInvalid = 0xFFFFFFFFul;

bool IsFolderAttributes(unsigned long attributes);
bool IsLinkAttributes(unsigned long attributes);

// Whether a failed lookup's error says the entry does not exist (file or path not found), as opposed
// to a lookup that could not be answered (share gone, access denied, network error).
bool LookupErrorMeansAbsent(unsigned long error);

// What a probe of a copy target (mirror entry or jar copy) found.
enum CopyTargetState {
    CopyTargetOpened,
    CopyTargetHeldOpen,  // sharing violation: another process holds it
    CopyTargetMissing,   // any other failure of the open
};

struct CopyTargetProbe {
    CopyTargetState state;
    bool sizeRead;
    uint32_t sizeLow;
    bool timeRead;
    uint64_t lastWriteTime;
};

// The copy rule: the target differs unless it opened and has the low 32 bits of the source's size and
// exactly its last-write time.
bool CopyTargetDiffers(const CopyTargetProbe& probe, uint32_t sourceSizeLow, uint64_t sourceLastWriteTime);

// Applies the copy rule to one source file, copying it over the target when different.
// Returns whether a copy was attempted.
bool CopyWhenDifferent(const char* source, const char* target, uint32_t sourceSizeLow,
                       uint64_t sourceLastWriteTime);

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

// Opens the target for reading, existing only, no sharing, and reads its size and last-write time.
CopyTargetProbe ProbeCopyTarget(const char* path);
// Copies a file over an existing one; the copy keeps the source's last-write time. Result not needed.
void CopyFileOver(const char* source, const char* target);

// A new folder with default attributes; an existing one is no failure worth reporting.
void MakeFolder(const char* path);
bool DeleteFileAt(const char* path);
bool RemoveEmptyFolder(const char* path);
// The entry's own attributes (a link's, not its target's); kEntryAttributesInvalid when it is not there.
unsigned long GetEntryAttributes(const char* path);

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
