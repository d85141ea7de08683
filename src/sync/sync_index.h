// The sync index: the file at a sync folder's root that lists every file of one published
// generation with its size, last-write time and SHA-256. quorvia-pack writes it, the launcher
// reads it; both compile this one definition of its text.
//
//   quorvia-sync-index 1
//   generation {64 hex digits: SHA-256 of the entry lines, their line ends included}
//   entries {count}
//   {64 hex digits} {size} {last-write time as a FILETIME count} {relative path}   (count lines)
//   end
//
// Lines end with "\n". Paths use "\" between parts, never "." or ".." parts, and come in the order
// of CompareIndexPaths, so that a path given twice (in any letter case) is refused.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/sha256.h"

inline constexpr char kSyncIndexName[] = "quorvia-sync.index";
// The packer's temporary name beside it is "quorvia-sync.index.{random}.tmp".
inline constexpr char kSyncIndexTempPrefix[] = "quorvia-sync.index.";

// Bounds that every reader enforces before it allocates or indexes anything.
inline constexpr size_t kSyncIndexMaxBytes = 64u << 20;
inline constexpr size_t kSyncIndexMaxEntries = 1000000;
// A relative path, terminator included; the launcher forms longer paths from it and refuses cuts.
inline constexpr size_t kSyncIndexPathSize = 240;

struct SyncIndexEntry {
    const char* path;  // points into the parsed text, NUL-terminated there
    uint64_t size;
    uint64_t lastWriteTime;
    uint8_t digest[kSha256Size];
};

struct SyncIndex {
    char* text = nullptr;  // owned copy of the file with line ends turned into NULs
    SyncIndexEntry* entries = nullptr;
    size_t count = 0;
    uint8_t generation[kSha256Size] = {};
    // The entry lines as they stand in the file: what the generation digest covers.
    size_t entryBlockOffset = 0;
    size_t entryBlockLength = 0;
};

enum SyncIndexVerdict {
    SyncIndexParsed,
    SyncIndexDamaged,   // not an index of this version, cut short, or an entry out of bounds or order
    SyncIndexTooLarge,  // over kSyncIndexMaxBytes or kSyncIndexMaxEntries
    SyncIndexNoMemory,
};

// Parses bytes into *index (released with ReleaseSyncIndex also after a failure). The generation
// is read, not checked: SyncIndexGenerationHolds does that with the caller's SHA-256.
SyncIndexVerdict ParseSyncIndex(const void* bytes, size_t size, SyncIndex* index);
void ReleaseSyncIndex(SyncIndex* index);

// The generation line from the first bytes of an index (the header fits in kSyncIndexHeadSize
// bytes): false when they do not begin with a header of this version.
inline constexpr size_t kSyncIndexHeadSize = 128;
bool ReadSyncIndexGeneration(const void* head, size_t size, uint8_t generation[32]);

// Whether the generation line names the digest of the entry lines of the same bytes.
bool SyncIndexGenerationHolds(const SyncIndex& index, const void* bytes, size_t size);

// Orders relative paths by their letters folded to upper case (ASCII), with "\" before every other
// character, so that a folder's files follow it directly. 0 means the same name to Windows.
int CompareIndexPaths(const char* left, const char* right);
// A relative path the index may hold, one that every Windows can create: not empty, no leading,
// trailing or doubled "\", no part ending in a dot or a space (so no "." or ".." part), no device
// name (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with or without an extension), no control character
// nor any of <>:"/|?*, shorter than kSyncIndexPathSize.
bool IsIndexPath(const char* path);
// Why a path is not one the index may hold, for a message; nullptr when it is.
const char* IndexPathProblem(const char* path);

void FormatDigestHex(const uint8_t digest[kSha256Size], char text[2 * kSha256Size + 1]);
bool ParseDigestHex(const char* text, uint8_t digest[kSha256Size]);

// The lines of one entry and the header and end, for the packer (each ends with "\n"); false when
// the buffer is too small.
bool FormatIndexEntryLine(char* buffer, size_t size, const SyncIndexEntry& entry);
bool FormatIndexHeader(char* buffer, size_t size, const uint8_t generation[kSha256Size], size_t count);
inline constexpr char kSyncIndexEndLine[] = "end\n";
