// The sync index reader, which the launcher runs on a file from a share anyone may write. An
// accepted text must be the one canonical writing of what was read: written again, it comes out
// byte for byte, so no two texts mean the same index and nothing in it was skipped.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "sync/sync_index.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end is caught.
    uint8_t* copy = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
    if (size > 0) memcpy(copy, data, size);
    SyncIndex index;
    SyncIndexVerdict verdict = ParseSyncIndex(copy, size, &index);
    if (verdict == SyncIndexParsed) {
        FUZZ_CHECK(index.count <= kSyncIndexMaxEntries);
        FUZZ_CHECK(index.entryBlockOffset + index.entryBlockLength <= size);
        char line[2 * kSha256Size + 64 + kSyncIndexPathSize];
        FUZZ_CHECK(FormatIndexHeader(line, sizeof line, index.generation, index.count));
        std::string again = line;
        for (size_t i = 0; i < index.count; i++) {
            FUZZ_CHECK(IsIndexPath(index.entries[i].path));
            if (i > 0) FUZZ_CHECK(CompareIndexPaths(index.entries[i - 1].path, index.entries[i].path) < 0);
            FUZZ_CHECK(FormatIndexEntryLine(line, sizeof line, index.entries[i]));
            again += line;
        }
        again += kSyncIndexEndLine;
        FUZZ_CHECK(again.size() == size && memcmp(again.data(), data, size) == 0);
        // The head an unchanged start reads names the same generation.
        uint8_t fromHead[kSha256Size];
        FUZZ_CHECK(ReadSyncIndexGeneration(copy, size < kSyncIndexHeadSize ? size : kSyncIndexHeadSize, fromHead));
        FUZZ_CHECK(memcmp(fromHead, index.generation, kSha256Size) == 0);
        (void)SyncIndexGenerationHolds(index, copy, size);
    }
    ReleaseSyncIndex(&index);
    free(copy);
    return 0;
}
