#include "fake_files_edge.h"
#include "fake_platform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The one-call SHA-256, which OpenSSL 3 marks deprecated but keeps.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/sha.h>

#include "files/app_folder.h"
#include "files/replace.h"
#include "sync/mirror_by_listing.h"
#include "sync/sync_index.h"

FakeFileSystem g_fs;

namespace {

const unsigned long kFileNotFound = 2;
const unsigned long kPathNotFound = 3;

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string ParentKey(const std::string& key) {
    size_t at = key.rfind('\\');
    return at == std::string::npos ? std::string() : key.substr(0, at);
}

std::string LastPart(const std::string& path) {
    size_t at = path.rfind('\\');
    return at == std::string::npos ? path : path.substr(at + 1);
}

// Follows links on the way down to (but not at) the last part, as the file system does.
std::string Resolve(const std::string& key) {
    std::vector<std::string> parts = Split(key);
    std::string resolved;
    for (size_t i = 0; i < parts.size(); i++) {
        resolved = i == 0 ? parts[0] : resolved + "\\" + parts[i];
        if (i + 1 < parts.size()) {
            auto found = g_fs.nodes.find(resolved);
            if (found != g_fs.nodes.end() && found->second.link) resolved = found->second.linkTarget;
        }
    }
    return resolved;
}

// The error of a path under a dropped root, or 0.
unsigned long UnreachableError(const std::string& key) {
    for (const auto& root : g_fs.unreachable) {
        if (key == root.first || key.compare(0, root.first.size() + 1, root.first + "\\") == 0) return root.second;
    }
    return 0;
}

void Touch(const char* path) { g_fs.longestPath = std::max(g_fs.longestPath, strlen(path)); }

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

unsigned long AttributesOf(const FakeNode& node) {
    if (node.invalidAttributes) return kEntryAttributesInvalid;
    unsigned long attributes = node.extraAttributes;
    if (node.link) attributes |= kEntryAttributeLink;
    bool folder = node.folder;
    if (node.link) {
        auto target = g_fs.nodes.find(node.linkTarget);
        folder = target != g_fs.nodes.end() ? target->second.folder : node.folder;
    }
    attributes |= folder ? kEntryAttributeFolder : 0x80;  // FILE_ATTRIBUTE_NORMAL for plain files
    return attributes;
}

void Fill(const FakeNode& node, FileEntryInfo* info) {
    snprintf(info->name, sizeof info->name, "%s", node.name.c_str());
    info->attributes = AttributesOf(node);
    const FakeNode* data = &node;
    if (node.link) {
        auto target = g_fs.nodes.find(node.linkTarget);
        if (target != g_fs.nodes.end()) data = &target->second;
    }
    info->sizeLow = static_cast<uint32_t>(data->content.size());
    info->lastWriteTime = data->lastWriteTime;
}

struct FakeListing {
    std::vector<FakeNode> entries;
    size_t next = 0;
    bool endsWithError = false;
};

std::vector<const FakeNode*> ChildrenOf(const std::string& folderKey) {
    std::vector<const FakeNode*> children;
    for (const auto& node : g_fs.nodes) {
        if (ParentKey(node.first) == folderKey) children.push_back(&node.second);
    }
    std::sort(children.begin(), children.end(),
              [](const FakeNode* a, const FakeNode* b) { return a->order < b->order; });
    return children;
}

}  // namespace

std::string FsKey(const std::string& path) {
    std::string key;
    std::vector<std::string> parts = Split(Lower(path));
    for (size_t i = 0; i < parts.size(); i++) {
        if (parts[i] == "." && i > 0) continue;
        // "\\srv" gives two empty leading parts, kept so that the key still reads "\\srv\...".
        if (!key.empty() || i > 0) key += "\\";
        key += parts[i];
    }
    return key;
}

void ResetFakeFileSystem() {
    g_fs = FakeFileSystem();
    ForgetSyncAppFolder();
    ForgetAppCacheFolder();
}

static FakeNode& NewNode(const std::string& key, const std::string& name, bool folder) {
    FakeNode& node = g_fs.nodes[key];
    if (node.order == 0) node.order = g_fs.nextOrder++;
    node.name = name;
    node.folder = folder;
    return node;
}

// The node of path, with every missing folder above it.
static FakeNode& AddNode(const std::string& path, bool folder) {
    std::vector<std::string> parts = Split(path);
    std::string prefix;
    for (size_t i = 0; i + 1 < parts.size(); i++) {
        prefix = i == 0 ? parts[0] : prefix + "\\" + parts[i];
        if (parts[i].empty() || parts[i] == ".") continue;
        if (g_fs.nodes.count(FsKey(prefix)) == 0) NewNode(FsKey(prefix), parts[i], true);
    }
    return NewNode(FsKey(path), parts.back(), folder);
}

void FsAddFolder(const std::string& path) { AddNode(path, true); }

void FsAddFile(const std::string& path, const std::string& content, uint64_t lastWriteTime) {
    FakeNode& node = AddNode(path, false);
    node.content = content;
    node.lastWriteTime = lastWriteTime;
}

void FsAddLink(const std::string& path, const std::string& target, bool toFolder) {
    FakeNode& node = AddNode(path, toFolder);
    node.link = true;
    node.linkTarget = FsKey(target);
}

FakeNode* FsNode(const std::string& path) {
    auto found = g_fs.nodes.find(FsKey(path));
    return found == g_fs.nodes.end() ? nullptr : &found->second;
}

bool FsExists(const std::string& path) { return FsNode(path) != nullptr; }

EntryOwner FsOwner(const FakeNode& node) { return node.foreignOwner ? OwnerOther : node.owner; }

void FsRemove(const std::string& path) {
    std::string key = FsKey(path);
    for (auto it = g_fs.nodes.begin(); it != g_fs.nodes.end();) {
        if (it->first == key || it->first.compare(0, key.size() + 1, key + "\\") == 0) {
            it = g_fs.nodes.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<std::string> FsChildren(const std::string& path) {
    std::vector<std::string> names;
    for (const FakeNode* node : ChildrenOf(Resolve(FsKey(path)))) names.push_back(node->name);
    return names;
}

static void CollectTree(const std::string& key, const std::string& prefix, std::vector<std::string>* out) {
    for (const FakeNode* node : ChildrenOf(key)) {
        std::string relative = prefix + node->name;
        if (node->folder && !node->link) {
            out->push_back(relative + "\\");
            CollectTree(key + "\\" + Lower(node->name), relative + "\\", out);
        } else {
            out->push_back(relative);
        }
    }
}

std::vector<std::string> FsTree(const std::string& path) {
    std::vector<std::string> tree;
    CollectTree(Resolve(FsKey(path)), "", &tree);
    std::sort(tree.begin(), tree.end(), [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
    return tree;
}

// ---- The edges ----

EntryListing OpenEntryListing(const char* pattern, FileEntryInfo* first) {
    Touch(pattern);
    g_fs.listings.push_back(pattern);
    g_fs.ops.push_back(std::string("list ") + pattern);
    std::string key = FsKey(pattern);
    if (LastPart(key) != "*") return nullptr;  // the mirror lists only "folder\*"
    std::string folder = ParentKey(Resolve(key));  // through a link named last, too
    if (UnreachableError(folder) != 0 || g_fs.unlistable.count(folder) > 0) return nullptr;
    auto found = g_fs.nodes.find(folder);
    if (found == g_fs.nodes.end() || !found->second.folder) return nullptr;
    FakeListing* listing = new FakeListing;
    FakeNode dot;
    dot.name = ".";
    dot.folder = true;
    FakeNode dotDot = dot;
    dotDot.name = "..";
    listing->entries.push_back(dot);
    listing->entries.push_back(dotDot);
    for (const FakeNode* node : ChildrenOf(folder)) listing->entries.push_back(*node);
    listing->endsWithError = g_fs.listingEndsWithError.count(folder) > 0;
    Fill(listing->entries[0], first);
    listing->next = 1;
    g_fs.openListings++;
    return listing;
}

bool NextListedEntry(EntryListing handle, FileEntryInfo* entry, bool* endedCleanly) {
    FakeListing* listing = static_cast<FakeListing*>(handle);
    if (listing->next >= listing->entries.size()) {
        *endedCleanly = !listing->endsWithError;
        return false;
    }
    Fill(listing->entries[listing->next++], entry);
    return true;
}

void CloseEntryListing(EntryListing handle) {
    g_fs.openListings--;
    delete static_cast<FakeListing*>(handle);
}

bool LookUpEntry(const char* path, FileEntryInfo* found, unsigned long* error) {
    Touch(path);
    g_fs.lookups.push_back(path);
    g_fs.ops.push_back(std::string("lookup ") + path);
    std::string key = Resolve(FsKey(path));
    if (g_fs.lookupErrors.count(key) > 0) {
        *error = g_fs.lookupErrors[key];
        return false;
    }
    if (unsigned long unreachable = UnreachableError(key)) {
        *error = unreachable;
        return false;
    }
    if (HasWildcard(key)) {
        *error = kFileNotFound;
        return false;
    }
    auto node = g_fs.nodes.find(key);
    if (node == g_fs.nodes.end()) {
        auto parent = g_fs.nodes.find(ParentKey(key));
        *error = parent != g_fs.nodes.end() && parent->second.folder ? kFileNotFound : kPathNotFound;
        return false;
    }
    Fill(node->second, found);
    *error = 0;
    return true;
}

CopyTargetProbe ProbeCopyTarget(const char* path) {
    Touch(path);
    g_fs.probes.push_back(path);
    g_fs.ops.push_back(std::string("probe ") + path);
    CopyTargetProbe probe = {CopyTargetMissing, false, 0, false, 0, OwnerUnreadable};
    std::string key = Resolve(FsKey(path));
    if (UnreachableError(key) != 0) return probe;
    auto node = g_fs.nodes.find(key);
    if (node == g_fs.nodes.end()) return probe;
    if (node->second.link) {
        probe.state = CopyTargetLink;
        return probe;
    }
    if (node->second.folder) return probe;
    // As on Windows, a file another process holds open is probed all the same: the probe reads no data.
    probe.state = CopyTargetOpened;
    probe.sizeRead = true;
    probe.sizeLow = static_cast<uint32_t>(node->second.content.size());
    probe.timeRead = true;
    probe.lastWriteTime = node->second.lastWriteTime;
    probe.owner = FsOwner(node->second);
    return probe;
}

static bool IsReadOnlyNode(const FakeNode& node) { return !node.link && (node.extraAttributes & 0x1) != 0; }

// As Windows: the copy goes to temp, then a move replaces the entry at target itself (a link to a file
// too); a move onto a folder, a link to a folder, a read-only file or a file held open fails.
bool CopyThroughTemp(const char* source, const char* temp, const char* target) {
    Touch(source);
    Touch(temp);
    Touch(target);
    g_fs.copies.push_back(std::string(source) + ">" + target);
    g_fs.temps.push_back(temp);
    g_fs.ops.push_back(std::string("copy ") + target);
    std::string sourceKey = Resolve(FsKey(source));
    std::string targetKey = Resolve(FsKey(target));
    bool dropNow = !g_fs.dropAfterCopyOf.empty() && sourceKey == FsKey(g_fs.dropAfterCopyOf);
    auto from = g_fs.nodes.find(sourceKey);
    auto parent = g_fs.nodes.find(ParentKey(targetKey));
    auto existing = g_fs.nodes.find(targetKey);
    bool targetRefuses = false;
    if (existing != g_fs.nodes.end()) {
        const FakeNode& there = existing->second;
        unsigned long attributes = AttributesOf(there);
        targetRefuses = there.heldOpen || IsReadOnlyNode(there) || (attributes & kEntryAttributeFolder) != 0;
    }
    bool fails = g_fs.copyFails || UnreachableError(sourceKey) != 0 || UnreachableError(targetKey) != 0 ||
                 from == g_fs.nodes.end() || from->second.folder || parent == g_fs.nodes.end() ||
                 ParentKey(Resolve(FsKey(temp))) != ParentKey(targetKey) || targetRefuses;
    if (!fails) {
        FakeNode copy = from->second;
        copy.heldOpen = false;
        copy.undeletable = false;
        copy.link = false;
        copy.foreignOwner = false;
        copy.owner = OwnerCurrentUser;
        if (existing != g_fs.nodes.end()) {
            copy.name = existing->second.name;
            copy.order = existing->second.order;
        } else {
            copy.name = LastPart(target);
            copy.order = g_fs.nextOrder++;
        }
        g_fs.nodes[targetKey] = copy;
    }
    if (dropNow) g_fs.unreachable[FsKey(g_fs.dropRoot)] = g_fs.dropError;
    if (g_fs.afterCopy) g_fs.afterCopy(source);
    return !fails;
}

void MakeFolder(const char* path) {
    Touch(path);
    g_fs.madeFolders.push_back(path);
    g_fs.ops.push_back(std::string("make ") + path);
    std::string key = Resolve(FsKey(path));
    if (g_fs.nodes.count(key) > 0 || UnreachableError(key) != 0) return;
    auto parent = g_fs.nodes.find(ParentKey(key));
    if (parent == g_fs.nodes.end() || !parent->second.folder) return;
    FakeNode& node = g_fs.nodes[key];
    node.name = LastPart(path);
    node.folder = true;
    node.order = g_fs.nextOrder++;
}

bool RemoveEntryItself(const char* path) {
    Touch(path);
    std::string key = Resolve(FsKey(path));
    auto node = g_fs.nodes.find(key);
    bool folder = node != g_fs.nodes.end() && node->second.folder && !node->second.link;
    (folder ? g_fs.removedFolders : g_fs.deletes).push_back(path);
    g_fs.ops.push_back(std::string(folder ? "rmdir " : "delete ") + path);
    if (node == g_fs.nodes.end() || node->second.undeletable || node->second.heldOpen) return false;
    if (IsReadOnlyNode(node->second)) return false;  // access denied, as Windows and Wine answer
    if (node->second.link && g_fs.linksStayPut) return false;
    if (folder && !ChildrenOf(key).empty()) return false;
    g_fs.nodes.erase(node);
    return true;
}

bool ClearReadOnly(const char* path) {
    Touch(path);
    g_fs.ops.push_back(std::string("writable ") + path);
    auto node = g_fs.nodes.find(Resolve(FsKey(path)));
    if (node == g_fs.nodes.end()) return false;
    node->second.extraAttributes &= ~0x1ul;
    return true;
}

EntryOwner QueryEntryOwner(const char* path) {
    Touch(path);
    g_fs.ownerQueries++;
    std::string key = Resolve(FsKey(path));
    auto node = g_fs.nodes.find(key);
    if (node != g_fs.nodes.end() && node->second.link) node = g_fs.nodes.find(node->second.linkTarget);
    if (node == g_fs.nodes.end()) return OwnerUnreadable;
    return FsOwner(node->second);
}

unsigned long GetOwnProcessId() { return g_fs.ownProcessId; }

bool ProcessIsRunning(unsigned long processId) { return g_fs.runningProcesses.count(processId) > 0; }

unsigned long GetEntryAttributes(const char* path) {
    Touch(path);
    g_fs.attributeQueries++;
    std::string key = Resolve(FsKey(path));
    if (UnreachableError(key) != 0) return kEntryAttributesInvalid;
    auto node = g_fs.nodes.find(key);
    if (node == g_fs.nodes.end()) return kEntryAttributesInvalid;
    FakeNode copy = node->second;
    copy.invalidAttributes = false;
    return AttributesOf(copy);
}

// ---- Folder security ----

FolderSecurity QueryFolderSecurity(const char* path) {
    Touch(path);
    ReleaseQueriedFolder();
    g_fs.folderQueries.push_back(path);
    FolderSecurity security = {FolderAbsent, OwnerUnreadable, true, false};
    std::string key = FsKey(path);
    if (UnreachableError(key) != 0) {
        security.kind = FolderNotAFolder;
        return security;
    }
    auto node = g_fs.nodes.find(key);
    if (node == g_fs.nodes.end()) return security;
    if (node->second.link) {
        security.kind = FolderLink;
        return security;
    }
    if (!node->second.folder) {
        security.kind = FolderNotAFolder;
        return security;
    }
    security = {FolderReal, FsOwner(node->second), node->second.othersMayWrite,
                node->second.userMayWrite};
    g_fs.heldFolder = key;
    return security;
}

void ReleaseQueriedFolder() { g_fs.heldFolder.clear(); }

bool MakePrivateFolder(const char* path) {
    Touch(path);
    g_fs.ops.push_back(std::string("make private ") + path);
    // The launcher makes an application folder only in a cache folder that GetCacheFolder or
    // GetUserCacheFolder has made (and the fakes of those do not touch this file system).
    for (const std::string& root : {g_fake.cacheFolder, g_fake.userCacheFolder}) {
        if (!root.empty() && !FsExists(root)) FsAddFolder(root);
    }
    std::string key = FsKey(path);
    if (UnreachableError(key) != 0 || g_fs.nodes.count(key) > 0 || g_fs.nodes.count(ParentKey(key)) == 0) return false;
    NewNode(key, LastPart(path), true).privateFolder = true;
    g_fs.madeFolders.push_back(path);
    return true;
}

bool FillRandomBytes(void* buffer, size_t size) {
    if (!g_fs.randomAvailable) return false;
    unsigned char* bytes = static_cast<unsigned char*>(buffer);
    for (size_t i = 0; i < size; i++) bytes[i] = static_cast<unsigned char>(g_fs.randomCounter++ * 151 + 7);
    return true;
}

// ---- Jar-copy edge ----

// UNC paths and the drive X:, the network drive of these tests.
bool IsNetworkPath(const char* path) {
    std::string key = FsKey(path);
    return key.compare(0, 2, "\\\\") == 0 || key.compare(0, 2, "x:") == 0;
}

// ---- Sync index edge ----

bool ComputeSha256(const void* bytes, size_t size, uint8_t digest[kSha256Size]) {
    SHA256(static_cast<const unsigned char*>(bytes), size, digest);
    return true;
}

static const FakeNode* PlainFileAt(const std::string& key) {
    if (UnreachableError(key) != 0) return nullptr;
    auto node = g_fs.nodes.find(key);
    if (node == g_fs.nodes.end() || node->second.folder || node->second.link) return nullptr;
    return &node->second;
}

WholeFileReadResult ReadWholeFileOnce(const char* path, size_t limit, void** bytes, size_t* size) {
    Touch(path);
    g_fs.wholeReads.push_back(path);
    g_fs.ops.push_back(std::string("read ") + path);
    *bytes = nullptr;
    *size = 0;
    const FakeNode* node = PlainFileAt(Resolve(FsKey(path)));
    if (node == nullptr) return WholeFileNotOpened;
    if (node->content.size() > limit) return WholeFileRefused;
    *bytes = malloc(node->content.size() + 1);
    memcpy(*bytes, node->content.data(), node->content.size());
    *size = node->content.size();
    return WholeFileRead;
}

bool ReadFileHead(const char* path, void* buffer, size_t size, size_t* got) {
    Touch(path);
    g_fs.ops.push_back(std::string("head ") + path);
    g_fs.headReads.emplace_back(path, size);
    *got = 0;
    const FakeNode* node = PlainFileAt(Resolve(FsKey(path)));
    if (node == nullptr) return false;
    *got = std::min(size, node->content.size());
    memcpy(buffer, node->content.data(), *got);
    return true;
}

bool HashFileItself(const char* path, uint8_t digest[32]) {
    Touch(path);
    g_fs.hashes.push_back(path);
    g_fs.ops.push_back(std::string("hash ") + path);
    const FakeNode* node = PlainFileAt(Resolve(FsKey(path)));
    return node != nullptr && ComputeSha256(node->content.data(), node->content.size(), digest);
}

bool LinkFileAt(const char* existing, const char* newName) {
    Touch(existing);
    Touch(newName);
    g_fs.links.push_back(std::string(existing) + ">" + newName);
    g_fs.ops.push_back(std::string("link ") + newName);
    std::string newKey = Resolve(FsKey(newName));
    const FakeNode* node = PlainFileAt(Resolve(FsKey(existing)));
    auto parent = g_fs.nodes.find(ParentKey(newKey));
    if (node == nullptr || g_fs.nodes.count(newKey) > 0 || parent == g_fs.nodes.end() || !parent->second.folder) {
        return false;
    }
    FakeNode copy = *node;  // one file, two names: content, time and owner alike
    copy.name = LastPart(newName);
    copy.order = g_fs.nextOrder++;
    g_fs.nodes[newKey] = copy;
    return true;
}

bool MoveEntry(const char* from, const char* to) {
    Touch(from);
    Touch(to);
    g_fs.moves.push_back(std::string(from) + ">" + to);
    g_fs.ops.push_back(std::string("move ") + from);
    std::string fromKey = FsKey(from);
    std::string toKey = FsKey(to);
    auto parent = g_fs.nodes.find(ParentKey(toKey));
    if (g_fs.nodes.count(fromKey) == 0 || g_fs.nodes.count(toKey) > 0 || parent == g_fs.nodes.end()) return false;
    // Windows refuses to rename a file, or a folder with a file below it, that another process
    // (a VM of another session, a virus scanner) holds open.
    for (const auto& node : g_fs.nodes) {
        bool below = node.first == fromKey || node.first.compare(0, fromKey.size() + 1, fromKey + "\\") == 0;
        if (below && node.second.heldOpen) return false;
    }
    std::map<std::string, FakeNode> moved;
    for (auto it = g_fs.nodes.begin(); it != g_fs.nodes.end();) {
        if (it->first == fromKey || it->first.compare(0, fromKey.size() + 1, fromKey + "\\") == 0) {
            moved[toKey + it->first.substr(fromKey.size())] = it->second;
            it = g_fs.nodes.erase(it);
        } else {
            ++it;
        }
    }
    moved[toKey].name = LastPart(to);
    g_fs.nodes.insert(moved.begin(), moved.end());
    return true;
}

bool WriteFileThroughTemp(const char* temp, const char* path, const void* bytes, size_t size) {
    Touch(temp);
    Touch(path);
    g_fs.ops.push_back(std::string("write ") + path);
    std::string key = Resolve(FsKey(path));
    auto parent = g_fs.nodes.find(ParentKey(key));
    if (parent == g_fs.nodes.end() || !parent->second.folder || UnreachableError(key) != 0) return false;
    FakeNode& node = NewNode(key, LastPart(path), false);
    node.content.assign(static_cast<const char*>(bytes), size);
    node.foreignOwner = false;
    node.owner = OwnerCurrentUser;
    return true;
}
