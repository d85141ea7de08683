// The start-up cache's edge (startup/startup_edge.h) over the in-memory file system of fake_files_edge.h.
#include <cstring>
#include <string>

#include "fake_files_edge.h"
#include "startup/cache_mechanism.h"
#include "startup/startup_edge.h"

StartupCacheProbe ProbeStartupCacheFile(const char* path) {
    g_fs.ops.push_back(std::string("probe ") + path);
    const FakeNode* node = FsNode(path);
    if (node == nullptr) return {EntryAbsent, OwnerUnreadable, false, false};
    if (node->link) return {EntryLink, OwnerUnreadable, false, false};
    if (node->heldOpen) return {EntryPresent, OwnerCurrentUser, false, false};
    bool magic = HasStartupArchiveMagic(reinterpret_cast<const unsigned char*>(node->content.data()),
                                        node->content.size());
    return {EntryPresent, FsOwner(*node), true, magic};
}

bool MoveArchiveIntoPlace(const char* from, const char* to) {
    g_fs.ops.push_back(std::string("move ") + from + ">" + to);
    const FakeNode* source = FsNode(from);
    const FakeNode* target = FsNode(to);
    if (source == nullptr || (target != nullptr && (target->heldOpen || target->undeletable))) return false;
    FakeNode moved = *source;
    FsRemove(from);
    FsRemove(to);
    FsAddFile(to, moved.content, moved.lastWriteTime);
    FsNode(to)->foreignOwner = moved.foreignOwner;
    FsNode(to)->owner = moved.owner;
    return true;
}
