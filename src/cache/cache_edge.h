// The cache's platform edge: every function here is Win32 in a *_win32.cpp file of this folder, and the
// unit tests replace them (tests/unit/fake_platform.cpp, tests/unit/test_sync_fake_fs.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "cache/code_owner.h"

// ---- The cache directory (cache_folder_win32.cpp) ----

const char* GetCacheFolder();
// Deletes this executable's other files in the cache directory (see IsOwnCacheEntryName), sparing
// pathToKeep, and the temporary files that no running process writes any more.
void RemoveStaleCacheFiles(const char* pathToKeep, const char* md5SumText);
// Deletes only the temporary files that no running process writes any more (JarPath mode).
void RemoveOrphanCacheTemps();
char* Md5HexDigest(const void* bytes, size_t length);
// Tells on stderr when the system MD5 library can't be loaded; loads it only to find out.
void ReportMissingMd5Library();

enum CacheFileState {
    CacheFileAbsent,
    CacheFilePresent,  // opens for reading, or is held by another process
    CacheFileLink,     // a link stands at the name: not opened through
};
struct CacheFileProbe {
    CacheFileState state;
    EntryOwner owner;  // read when opened; a file held by another process counts as the user's
};
CacheFileProbe ProbeCacheFile(const char* path);
// Whether the file's content has this digest text (reads the whole file).
bool CacheFileHasDigest(const char* path, const char* digestText);
// Writes under a temporary name and moves it into place, so no partial file ever bears the name;
// a file that another launcher put there meanwhile counts as written, unless replace is set (the
// name held a link or a file to replace). Reports its own failures.
bool WriteCacheFile(const char* path, const void* bytes, size_t size, bool replace);

// ---- The start-up archive (startup_archive_win32.cpp) ----

struct StartupArchiveProbe {
    CacheFileState state;
    EntryOwner owner;  // read when opened; a file held by another process counts as the user's
    bool headRead;     // false when another process holds the file: it is in use, not torn
    bool hasMagic;     // the first bytes carry the VM's archive magic (read when headRead)
};
// Opens the entry itself, never a link's target, and reads its owner and first bytes.
StartupArchiveProbe ProbeStartupArchive(const char* path);
// Moves a finished archive over the name, replacing a file (or a link itself) that stands there.
bool MoveArchiveIntoPlace(const char* from, const char* to);

// ---- Ownership (code_owner_win32.cpp) ----

// The owner a file's security descriptor names, compared with the current user and the trusted groups.
EntryOwner QueryEntryOwner(const char* path);
// The same for an open handle (a Win32 HANDLE opened with READ_CONTROL).
EntryOwner QueryHandleOwner(void* handle);

// ---- Files and folders (sync_mirror_win32.cpp, jar_copy_win32.cpp) ----

// Whether path is a UNC path or a path on a network drive.
bool IsNetworkPath(const char* path);

// Attribute bits as the file system reports them for an entry.
const unsigned long kEntryAttributeReadOnly = 0x1;
const unsigned long kEntryAttributeFolder = 0x10;
const unsigned long kEntryAttributeLink = 0x400;  // junction or symbolic link
const unsigned long kEntryAttributesInvalid = 0xFFFFFFFFul;

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

// ---- The sync index (sync_index_win32.cpp) ----

enum WholeFileReadResult {
    WholeFileNotOpened,  // the open failed (no such file, no such share, access denied...)
    WholeFileRead,
    WholeFileRefused,    // opened, but larger than the limit, or the read failed or came short
};
// One open and one read of a whole file of at most limit bytes; *bytes is malloc'ed (free it).
WholeFileReadResult ReadWholeFileOnce(const char* path, size_t limit, void** bytes, size_t* size);
// One open and one read of the first bytes of a file (the index head, a runtime's release file), at
// most size of them, into buffer; false when it can't be opened or read. *got may be less than size
// for a short file.
bool ReadFileHead(const char* path, void* buffer, size_t size, size_t* got);
// SHA-256 of the file's content, read through a handle that is the entry itself, not a link's target.
bool HashFileItself(const char* path, uint8_t digest[32]);
// A second name (a hard link) for an existing file; false when the file system can't make one.
bool LinkFileAt(const char* existing, const char* newName);
// Renames a file or folder (a link itself); never replaces an entry at to.
bool MoveEntry(const char* from, const char* to);
// Writes bytes to temp, then moves temp over path, so that path never holds a cut file.
bool WriteFileThroughTemp(const char* temp, const char* path, const void* bytes, size_t size);
