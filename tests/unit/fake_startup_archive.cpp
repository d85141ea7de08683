// The start-up archive's file edges over the in-memory file system of test_sync_fake_fs.h.
#include <cstring>
#include <string>

#include "cache/cache_edge.h"
#include "runtime/startup_cache.h"
#include "test_sync_fake_fs.h"

StartupArchiveProbe ProbeStartupArchive(const char* path) {
    g_fs.ops.push_back(std::string("probe ") + path);
    const FakeNode* node = FsNode(path);
    if (node == nullptr) return {CacheFileAbsent, OwnerUnreadable, false, false};
    if (node->link) return {CacheFileLink, OwnerUnreadable, false, false};
    if (node->heldOpen) return {CacheFilePresent, OwnerCurrentUser, false, false};
    bool magic = HasStartupArchiveMagic(reinterpret_cast<const unsigned char*>(node->content.data()),
                                        node->content.size());
    return {CacheFilePresent, node->foreignOwner ? OwnerOther : OwnerCurrentUser, true, magic};
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
    return true;
}
