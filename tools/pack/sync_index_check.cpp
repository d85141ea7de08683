#include "pack/sync_index_check.h"

#include <cstring>
#include <vector>

#include "files/sha256.h"
#include "pack/file_io.h"
#include "pack/report_text.h"
#include "pack/sha256.h"
#include "pack/sync_index_tool.h"
#include "sync/sync_index.h"

#ifdef _WIN32
static const char kSeparator = '\\';
#else
static const char kSeparator = '/';
#endif

bool HoldsSyncIndex(const std::string& folder) { return FileExists(folder + kSeparator + kSyncIndexName); }

int CheckSyncIndex(const std::string& folder, FILE* out, FILE* err) {
    std::string indexPath = folder + kSeparator + kSyncIndexName;
    std::string shownIndex = PrintableText(indexPath);
    std::vector<uint8_t> bytes;
    std::string error;
    SyncIndex index;
    bool indexRead = ReadWholeFile(indexPath, kSyncIndexFile, bytes, error);
    if (!indexRead) fprintf(err, "quorvia-pack: %s: %s\n", shownIndex.c_str(), error.c_str());
    SyncIndexVerdict verdict = indexRead ? ParseSyncIndex(bytes.data(), bytes.size(), &index) : SyncIndexDamaged;
    bool indexWhole =
        indexRead && verdict == SyncIndexParsed && SyncIndexGenerationHolds(index, bytes.data(), bytes.size());
    if (indexRead && !indexWhole) {
        const char* why = verdict == SyncIndexTooLarge   ? "exceeds the size or entry limit"
                          : verdict == SyncIndexNoMemory ? "does not fit in memory"
                          : verdict == SyncIndexDamaged
                              ? "is damaged, of another version, or names a file Windows can't hold"
                              : "has a generation that does not match its entries";
        fprintf(err, "quorvia-pack: %s: the index %s\n", shownIndex.c_str(), why);
    }
    // The files are listed also when the index is refused: names Windows can't hold are reported here.
    std::vector<SyncFolderFile> files;
    bool listed = ListSyncFolder(folder, files, error);
    if (!listed) PrintToolErrors(err, error);
    if (!indexWhole || !listed) {
        ReleaseSyncIndex(&index);
        return 1;
    }
    // Both lists come in the index's order: one merge finds what is missing on either side.
    size_t differences = 0;
    size_t i = 0, j = 0;
    while (i < index.count || j < files.size()) {
        int order = i == index.count   ? 1
                    : j == files.size() ? -1
                                        : CompareIndexPaths(index.entries[i].path, files[j].relativePath.c_str());
        if (order < 0) {
            fprintf(out, "%s: listed in the index but missing\n", PrintableText(index.entries[i++].path).c_str());
            differences++;
            continue;
        }
        if (order > 0) {
            fprintf(out, "%s: not in the index\n", PrintableText(files[j++].relativePath).c_str());
            differences++;
            continue;
        }
        const SyncIndexEntry& entry = index.entries[i++];
        const SyncFolderFile& file = files[j++];
        std::string shown = PrintableText(entry.path);
        uint8_t digest[kSha256Size];
        if (file.size != entry.size) {
            fprintf(out, "%s: size %llu, the index says %llu\n", shown.c_str(), (unsigned long long)file.size,
                    (unsigned long long)entry.size);
        } else if (file.lastWriteTime != entry.lastWriteTime) {
            fprintf(out, "%s: last-write time differs from the index\n", shown.c_str());
        } else if (!Sha256OfFile(file.fullPath, digest, error)) {
            fprintf(out, "%s: can't be read: %s\n", shown.c_str(), error.c_str());
        } else if (memcmp(digest, entry.digest, kSha256Size) != 0) {
            fprintf(out, "%s: content differs from the index\n", shown.c_str());
        } else {
            continue;
        }
        differences++;
    }
    char hex[2 * kSha256Size + 1];
    FormatDigestHex(index.generation, hex);
    if (differences == 0) fprintf(out, "%s: %zu files match generation %s\n", shownIndex.c_str(), index.count, hex);
    ReleaseSyncIndex(&index);
    return differences == 0 ? 0 : 1;
}
