// quorvia-pack --index DIR: writes the sync index of a sync folder at its root.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// One file below a sync folder as the index names it.
struct SyncFolderFile {
    std::string relativePath;  // parts joined with "\"
    std::string fullPath;      // as the platform opens it
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;  // FILETIME count: 100 ns since 1601-01-01 UTC
};

// Every file below folder (links to files followed, links to folders not entered), leaving out the
// index and the packer's temporary files at the root, in the index's order. False with a message
// when two names differ only in letter case, or with one line per file whose name can't be indexed
// (a name Windows cannot hold, such as CON or "trail.").
bool ListSyncFolder(const std::string& folder, std::vector<SyncFolderFile>& files, std::string& error);

// Prints each line of an error as "quorvia-pack: LINE".
void PrintToolErrors(FILE* err, const std::string& error);

// Size and last-write time of one file, as ListSyncFolder reads them.
bool ReadFileStamp(const std::string& path, uint64_t& size, uint64_t& lastWriteTime, std::string& error);

// Writes {folder}/quorvia-sync.index under a temporary name and moves it into place; 0 when done,
// 1 (with a message on err) when a file can't be read or changed while it was read.
int WriteSyncIndex(const std::string& folder, FILE* out, FILE* err);
