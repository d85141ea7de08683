// An in-memory file system behind the file layer's edge (files/files_edge.h), with counters and injected faults.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "files/entry_owner.h"

struct FakeNode {
    std::string name;  // as created (case kept)
    bool folder = false;
    std::string content;
    uint32_t sizeHigh = 0;  // a huge file: its size is sizeHigh * 2^32 + content length
    uint64_t lastWriteTime = 0;
    unsigned long extraAttributes = 0;  // hidden, system, ...
    bool link = false;
    std::string linkTarget;  // normalized key of what the link points to
    bool heldOpen = false;   // another process holds it with no sharing
    bool undeletable = false;
    bool invalidAttributes = false;  // listings report INVALID_FILE_ATTRIBUTES for it
    bool foreignOwner = false;       // owned by another account
    bool othersMayWrite = false;     // a folder whose DACL lets another account change it
    bool userMayWrite = true;        // a folder the current user may add entries to
    bool privateFolder = false;      // made by MakePrivateFolder
    // Any owner Windows reports (files an elevated start wrote belong to Administrators); foreignOwner
    // set means OwnerOther (FsOwner reads both).
    EntryOwner owner = OwnerCurrentUser;
    uint64_t order = 0;
};

struct FakeFileSystem {
    std::map<std::string, FakeNode> nodes;  // by normalized key
    uint64_t nextOrder = 1;
    // Paths (keys) below which every operation fails with this error, as a dropped share does.
    std::map<std::string, unsigned long> unreachable;
    // Folders whose listing can't be opened (keys), and listings that end with an error.
    std::set<std::string> unlistable;
    std::set<std::string> listingEndsWithError;
    // Lookups of these keys fail with the given error although the entry may exist.
    std::map<std::string, unsigned long> lookupErrors;
    // When this key is copied, the given root drops right after (a share lost halfway).
    std::string dropAfterCopyOf;
    std::string dropRoot;
    unsigned long dropError = 64;  // ERROR_NETNAME_DELETED
    bool copyFails = false;
    // Links can't be removed, only followed (as under Wine, where every removal reaches the target).
    bool linksStayPut = false;
    unsigned long ownProcessId = 4242;
    std::set<unsigned long> runningProcesses;

    // Operation log ("list P", "lookup P", "probe P", "copy TARGET", "make P", "delete P", "rmdir P",
    // "writable P")
    // and counters.
    std::vector<std::string> ops;
    std::vector<std::string> listings;  // patterns opened (successfully or not)
    std::vector<std::string> lookups;
    std::vector<std::string> probes;
    std::vector<std::string> copies;  // "source>target"
    std::vector<std::string> deletes;
    std::vector<std::string> removedFolders;
    std::vector<std::string> madeFolders;
    std::vector<std::string> temps;  // the temporary name of each copy
    int ownerQueries = 0;
    int attributeQueries = 0;
    int openListings = 0;  // listings not yet closed
    size_t longestPath = 0;  // every path handed to an edge
    // The sync index's edges: whole-file reads, digests, hard links and renames, by path.
    std::vector<std::string> wholeReads;
    std::vector<std::string> hashes;
    std::vector<std::string> links;  // "existing>new"
    std::vector<std::string> moves;  // "from>to"
    // Folder security: the folders queried, the one held open, random bytes for temporary names.
    std::vector<std::string> folderQueries;
    std::string heldFolder;
    bool randomAvailable = true;
    unsigned randomCounter = 0;
    // Each head read: the path and the size asked for.
    std::vector<std::pair<std::string, size_t>> headReads;
    // Called after each copy with its source path: a share that changes under a refresh.
    std::function<void(const std::string&)> afterCopy;
};

extern FakeFileSystem g_fs;

// Lower-case key without "." segments; "\\srv\share\a\.\b" -> "\\srv\share\a\b".
std::string FsKey(const std::string& path);

void ResetFakeFileSystem();
void FsAddFolder(const std::string& path);  // with missing parents
void FsAddFile(const std::string& path, const std::string& content, uint64_t lastWriteTime);
void FsAddLink(const std::string& path, const std::string& target, bool toFolder);
bool FsExists(const std::string& path);
EntryOwner FsOwner(const FakeNode& node);
FakeNode* FsNode(const std::string& path);
void FsRemove(const std::string& path);  // with everything below it
// Names of the direct children of a folder, in listing order.
std::vector<std::string> FsChildren(const std::string& path);
// Relative paths ("a\b.txt") of everything below a folder, sorted, folders ending in "\".
std::vector<std::string> FsTree(const std::string& path);
