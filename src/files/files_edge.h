// The file layer's platform edge, the one seam between the launcher's rooms and the file system:
// every function here is Win32 in a *_win32.cpp file of this folder, and the unit tests replace them
// with an in-memory file system (tests/unit/fake_files_edge.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/entry_owner.h"
#include "files/sha256.h"

// ---- Entries and listings (entries_win32.cpp) ----

// Attribute bits as the file system reports them for an entry.
const unsigned long kEntryAttributeReadOnly = 0x1;
const unsigned long kEntryAttributeFolder = 0x10;
const unsigned long kEntryAttributeLink = 0x400;  // junction or symbolic link
const unsigned long kEntryAttributesInvalid = 0xFFFFFFFFul;

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

// The entry's own attributes (a link's, not its target's); kEntryAttributesInvalid when it is not there.
unsigned long GetEntryAttributes(const char* path);

// Whether path is a UNC path or a path on a network drive.
bool IsNetworkPath(const char* path);

// What stands at a name opened as the entry itself, never through a link.
enum EntryState {
    EntryAbsent,
    EntryPresent,  // opens for reading, or is held by another process
    EntryLink,     // a link stands at the name: not opened through
};

// What a probe of a copy target (mirror entry or jar copy) found.
enum CopyTargetState {
    CopyTargetOpened,   // also when another process holds it open: the probe reads no data
    CopyTargetMissing,  // the open failed
    CopyTargetLink,     // a link stands at the name: it was not opened through
};

struct CopyTargetProbe {
    CopyTargetState state;
    bool sizeRead;
    uint32_t sizeLow;
    bool timeRead;
    uint64_t lastWriteTime;
    EntryOwner owner;  // read when opened
};

// Opens the target for its attributes only (which no sharing mode refuses) and reads its size,
// last-write time and owner; a link at the name is reported as such, not opened through.
CopyTargetProbe ProbeCopyTarget(const char* path);
// Copies source to temp, a new name (never over an entry there), keeping its attributes and
// last-write time, then moves temp over target, replacing a file or a file link there itself. On
// failure no temp file stays and target is as it was.
bool CopyThroughTemp(const char* source, const char* temp, const char* target);

// A new folder with default attributes; an existing one is no failure worth reporting.
void MakeFolder(const char* path);
// Removes exactly the entry at path: a file, an empty folder, or a link itself, never what a link
// points to. False when it can't, also where the platform can only reach a link's target.
bool RemoveEntryItself(const char* path);
// Clears the read-only attribute of the entry itself (never of a link's target).
bool ClearReadOnly(const char* path);

unsigned long GetOwnProcessId();
// Whether a process of that id runs now (also one of another account that can't be opened).
bool ProcessIsRunning(unsigned long processId);

// ---- Ownership and folder security (owner_win32.cpp) ----

// The owner a file's security descriptor names, compared with the current user and the trusted
// groups. Read through a handle opened for READ_CONTROL only, which no sharing mode refuses: a file
// another process holds open still shows its real owner.
EntryOwner QueryEntryOwner(const char* path);
// The same for an open handle (a Win32 HANDLE opened with READ_CONTROL).
EntryOwner QueryHandleOwner(void* handle);

enum FolderKind {
    FolderAbsent,
    FolderReal,
    FolderLink,      // a link stands at the name: never used through
    FolderNotAFolder,  // a file, or something that can't be opened
};

// What a folder's security descriptor allows, read through one open of the folder itself.
struct FolderSecurity {
    FolderKind kind;
    EntryOwner owner;
    // An allow entry of the DACL (or a missing DACL) gives an account other than the current user,
    // SYSTEM and Administrators the right to add, delete or rename entries, or to change the DACL
    // or owner.
    bool othersMayWrite;
    // The current user may add files and folders (the system's access check over the DACL).
    bool userMayWrite;
};
// Opens the folder itself, never a link's target, and reads its owner and DACL. The folder stays
// open, without delete sharing, until ReleaseQueriedFolder: while a launch uses it, nobody can
// rename it away and put another folder at its name.
FolderSecurity QueryFolderSecurity(const char* path);
void ReleaseQueriedFolder();
// Makes a folder that only the current user, SYSTEM and Administrators may change and Users may
// read, its entries inheriting the same; false when it can't be made.
bool MakePrivateFolder(const char* path);

// Fills buffer with bytes from the system's random number generator; false when it has none.
bool FillRandomBytes(void* buffer, size_t size);

// ---- Reading, writing, linking and moving whole files (reads_win32.cpp) ----

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
// A second name (a hard link) for an existing file; false when the file system can't make one.
bool LinkFileAt(const char* existing, const char* newName);
// Renames a file or folder (a link itself); never replaces an entry at to.
bool MoveEntry(const char* from, const char* to);
// Writes bytes to temp, a new name (never over an entry there), then moves temp over path, so that
// path never holds a cut file.
bool WriteFileThroughTemp(const char* temp, const char* path, const void* bytes, size_t size);

// ---- Digests (hashes_win32.cpp) ----

// SHA-256 of the file's content, read through a handle that is the entry itself, not a link's target.
bool HashFileItself(const char* path, uint8_t digest[kSha256Size]);
