#include "sync/mirror_by_index.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "base/text.h"
#include "files/entry_names.h"
#include "files/entry_owner.h"
#include "files/files_edge.h"
#include "files/listing_walker.h"
#include "files/replace.h"
#include "sync/mirror_by_listing.h"
#include "sync/mirror_root.h"
#include "sync/sync_index.h"

// Why no start can run a mix of two generations: the live mirror is only ever replaced whole, by a
// rename of a folder in which every file was verified against one index, and the VM starts after.

static const char kGenerationTempStem[] = "sync";

// ---- Reading the index ----

enum IndexRead {
    IndexAbsent,     // could not be opened: the source is mirrored by listing, as without an index
    IndexRefused,    // opened but unreadable or damaged
    IndexAccepted,
};

// The index's bytes as read from the share, and what they parse to.
struct SourceIndex {
    void* bytes = nullptr;
    size_t size = 0;
    SyncIndex parsed;
};

static void ReleaseSourceIndex(SourceIndex* index) {
    free(index->bytes);
    ReleaseSyncIndex(&index->parsed);
    *index = SourceIndex();
}

// One open and one read of the index, then its parsing.
static IndexRead ReadSourceIndex(const char* indexPath, SourceIndex* index) {
    *index = SourceIndex();
    WholeFileReadResult read = ReadWholeFileOnce(indexPath, kSyncIndexMaxBytes, &index->bytes, &index->size);
    if (read == WholeFileNotOpened) return IndexAbsent;
    if (read == WholeFileRead && ParseSyncIndex(index->bytes, index->size, &index->parsed) == SyncIndexParsed) {
        return IndexAccepted;
    }
    ReleaseSourceIndex(index);
    return IndexRefused;
}

// Whether the generation line names the digest of the entries. Only a refresh needs to know: an
// unchanged start compares the generation line alone, and so never loads the SHA-256 library.
static bool SourceIndexHolds(const SourceIndex& index) {
    return SyncIndexGenerationHolds(index.parsed, index.bytes, index.size);
}

// The record is a copy of the applied index, kept beside the mirror: an unchanged start learns
// from it, not from the share, which files of the mirror are code. One another account wrote, or
// one that does not parse, counts as no record.
static bool ReadAppliedRecord(const char* record, SyncIndex* applied) {
    *applied = SyncIndex();
    void* bytes = nullptr;
    size_t size = 0;
    if (ReadWholeFileOnce(record, kSyncIndexMaxBytes, &bytes, &size) != WholeFileRead) return false;
    bool parsed = ParseSyncIndex(bytes, size, applied) == SyncIndexParsed;
    free(bytes);
    if (parsed && IsTrustedOwner(QueryEntryOwner(record))) return true;
    ReleaseSyncIndex(applied);
    return false;
}

static bool WriteGenerationRecord(const MirrorPaths& paths, const void* indexBytes, size_t indexSize) {
    return WriteFileThroughTemp(paths.recordTemp, paths.record, indexBytes, indexSize);
}

// What an unchanged start finds in the live mirror.
enum LiveMirrorState {
    LiveMirrorTrusted,
    LiveMirrorNotTrusted,  // code the index lists is another account's now: build the generation again
    LiveMirrorRefused,     // code the index does not list could not be removed: the start must not run
};

static bool IndexListsPath(const SyncIndex& index, const char* relativePath) {
    size_t low = 0;
    size_t high = index.count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        int order = CompareIndexPaths(index.entries[middle].path, relativePath);
        if (order == 0) return true;
        if (order < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return false;
}

// One folder of the live mirror and everything below it. Code that the applied index does not list
// (a DLL beside jvm.dll, a jar in libs) would be loaded on this start, so it goes; a link was never
// made by a generation, so it goes too.
static void CheckLiveFolder(const char* live, const char* relativeFolder, const SyncIndex& index,
                            LiveMirrorState* state) {
    char pattern[kWindowsPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s%s%s\\*", live, relativeFolder[0] != '\0' ? "\\" : "",
                        relativeFolder)) {
        return;
    }
    WalkListing(pattern, [&](const FileEntryInfo& entry) {
        char relative[kWindowsPathSize];
        char path[kWindowsPathSize];
        if (IsDotEntryName(entry.name) || entry.attributes == kEntryAttributesInvalid ||
            !FormatPathText(relative, sizeof relative, "%s%s%s", relativeFolder, relativeFolder[0] != '\0' ? "\\" : "",
                            entry.name) ||
            !FormatPathText(path, sizeof path, "%s\\%s", live, relative)) {
            return true;
        }
        bool link = IsLinkAttributes(entry.attributes);
        if (IsFolderAttributes(entry.attributes) && !link) {
            CheckLiveFolder(live, relative, index, state);
            return true;
        }
        if (!link && !IsCodeFileName(entry.name)) return true;
        if (link || !IndexListsPath(index, relative)) {
            if (!RemoveEntryAndContent(path, entry.attributes)) {
                NoteForeignCode(path);
                *state = LiveMirrorRefused;
            }
        } else if (*state == LiveMirrorTrusted && !IsTrustedOwner(QueryEntryOwner(path))) {
            *state = LiveMirrorNotTrusted;
        }
        return true;
    });
}

static LiveMirrorState CheckLiveMirror(const char* live, const SyncIndex& index) {
    LiveMirrorState state = LiveMirrorTrusted;
    CheckLiveFolder(live, "", index, &state);
    return state;
}

// ---- Building the next generation ----

// What one attempt to apply a generation came to.
enum GenerationApplied {
    GenerationSwitched,     // the mirror holds the new generation, every file verified
    GenerationSourceMoved,  // a copied file did not match its digest: the share changed meanwhile
    GenerationNotApplied,   // a copy, a link or the switch failed: the mirror is as it was
};

static bool FileHasDigest(const char* path, const uint8_t expected[kSha256Size]) {
    uint8_t digest[kSha256Size];
    return HashFileItself(path, digest) && memcmp(digest, expected, kSha256Size) == 0;
}

// The live file has the entry's size and digest and a trusted owner: it gets a second
// name in the next generation, or where the file system has no hard links, a local copy checked
// again. Its time is not asked for: a file republished with the same content costs no transfer.
static bool TakeFromLiveMirror(const char* livePath, const char* nextPath, const char* temp,
                               const SyncIndexEntry& entry) {
    CopyTargetProbe probe = ProbeCopyTarget(livePath);
    if (probe.state != CopyTargetOpened || !probe.sizeRead) return false;
    if (probe.sizeLow != static_cast<uint32_t>(entry.size)) return false;
    // Another account's file, code or not, could be changed by them once it is in the generation.
    if (!IsTrustedOwner(probe.owner)) return false;
    if (!FileHasDigest(livePath, entry.digest)) return false;
    if (LinkFileAt(livePath, nextPath)) return true;
    return CopyThroughTemp(livePath, temp, nextPath) && FileHasDigest(nextPath, entry.digest);
}

// Makes the folders of path below the next generation's root; lastMade remembers the deepest
// folder made, so that the files of one folder (which the index lists together) cost one call.
static bool MakeParentFolders(const char* next, const char* path, char* lastMade, size_t lastMadeSize) {
    const char* lastBackslash = strrchr(path, '\\');
    if (lastBackslash == nullptr) return true;
    size_t parentLength = static_cast<size_t>(lastBackslash - path);
    if (strlen(lastMade) == parentLength && strncmp(lastMade, path, parentLength) == 0) return true;
    for (const char* at = strchr(path, '\\'); at != nullptr; at = strchr(at + 1, '\\')) {
        char folder[kWindowsPathSize];
        if (!FormatPathText(folder, sizeof folder, "%s\\%.*s", next, static_cast<int>(at - path), path)) return false;
        MakeFolder(folder);
    }
    return FormatPathText(lastMade, lastMadeSize, "%.*s", static_cast<int>(parentLength), path);
}

static GenerationApplied BuildNextGeneration(const char* sourceRoot, const SyncIndex& index,
                                             const MirrorPaths& paths) {
    if (!ClearEntry(paths.next)) return GenerationNotApplied;
    MakeFolder(paths.next);
    if (!IsRealFolder(paths.next)) return GenerationNotApplied;
    char lastMade[kWindowsPathSize] = "";
    for (size_t i = 0; i < index.count; i++) {
        const SyncIndexEntry& entry = index.entries[i];
        char livePath[kWindowsPathSize];
        char nextPath[kWindowsPathSize];
        char sourcePath[kWindowsPathSize];
        char temp[kWindowsPathSize];
        // A path that would be cut can't be mirrored whole: the generation is not applied.
        if (!FormatPathText(livePath, sizeof livePath, "%s\\%s", paths.live, entry.path) ||
            !FormatPathText(nextPath, sizeof nextPath, "%s\\%s", paths.next, entry.path) ||
            !FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s", sourceRoot, entry.path) ||
            !FormatTempPathBeside(temp, sizeof temp, nextPath, kGenerationTempStem) ||
            !MakeParentFolders(paths.next, entry.path, lastMade, sizeof lastMade)) {
            return GenerationNotApplied;
        }
        if (TakeFromLiveMirror(livePath, nextPath, temp, entry)) continue;
        if (!CopyThroughTemp(sourcePath, temp, nextPath)) return GenerationNotApplied;
        uint8_t digest[kSha256Size];
        if (!HashFileItself(nextPath, digest)) return GenerationNotApplied;
        if (memcmp(digest, entry.digest, kSha256Size) != 0) return GenerationSourceMoved;
    }
    return GenerationSwitched;
}

// Live aside, next in its place: the VM's paths name the live folder, which is always one whole
// generation. A failure puts the previous live folder back.
static bool SwitchGenerations(const MirrorPaths& paths) {
    if (!ClearEntry(paths.old)) return false;
    bool hadLive = EntryExists(paths.live);
    if (hadLive && !MoveEntry(paths.live, paths.old)) return false;
    if (MoveEntry(paths.next, paths.live)) return true;
    if (hadLive) MoveEntry(paths.old, paths.live);
    return false;
}

// Builds the next generation beside the live mirror (unchanged files linked once their digest
// matched, the others copied from the source and verified) and switches the two. The record of
// the applied generation is written last.
static GenerationApplied ApplySyncGeneration(const char* sourceRoot, const SourceIndex& source) {
    const SyncIndex& index = source.parsed;
    MirrorPaths paths;
    if (!FormMirrorPaths(&paths)) return GenerationNotApplied;
    GenerationApplied built = BuildNextGeneration(sourceRoot, index, paths);
    if (built == GenerationSwitched && SwitchGenerations(paths)) {
        WriteGenerationRecord(paths, source.bytes, source.size);
        ClearEntry(paths.old);
        return GenerationSwitched;
    }
    ClearEntry(paths.next);
    return built == GenerationSwitched ? GenerationNotApplied : built;
}

// ---- The start ----

// Applies the index's generation, reading the index once more and retrying once when the share
// changed under the copies. A refused index, or a refresh that did not end whole, leaves the
// mirror as it was (told on stderr).
static void RefreshGeneration(const char* sourceRoot, const char* indexPath, const SourceIndex& index) {
    if (!SourceIndexHolds(index)) {
        PrintMessage(stderr, "Ignored %s: it is not a whole sync index; the mirror stays as it is\n", indexPath);
        return;
    }
    GenerationApplied applied = ApplySyncGeneration(sourceRoot, index);
    if (applied == GenerationSourceMoved) {
        // A newer index may have been published meanwhile.
        SourceIndex newer;
        if (ReadSourceIndex(indexPath, &newer) == IndexAccepted && SourceIndexHolds(newer) &&
            memcmp(newer.parsed.generation, index.parsed.generation, kSha256Size) != 0) {
            applied = ApplySyncGeneration(sourceRoot, newer);
        }
        ReleaseSourceIndex(&newer);
    }
    if (applied != GenerationSwitched) {
        PrintMessage(stderr, "The sync folder %s could not be mirrored whole; the mirror stays as it was\n",
                     sourceRoot);
    }
}

// A start that can't reach the share runs the mirror as the last start left it (put back first where a
// crash cut a switch short), after the checks of an unchanged start, and keeps its record.
static void StartFromMirrorAsItIs(const char* sourceRoot, const MirrorPaths& paths) {
    NoteShareUnreachable(sourceRoot);
    RecoverInterruptedSwitch(paths);
    SyncIndex applied;
    if (ReadAppliedRecord(paths.record, &applied) && IsRealFolder(paths.live)) {
        if (CheckLiveMirror(paths.live, applied) == LiveMirrorNotTrusted) NoteForeignCode(paths.live);
    }
    ReleaseSyncIndex(&applied);
    AddSyncLibsToClassPath();
}

bool MirrorSyncFolderByIndex(const char* sourceRoot) {
    ForgetMirrorOutcome();
    char indexPath[kWindowsPathSize];
    if (!FormatPathText(indexPath, sizeof indexPath, "%s\\%s", sourceRoot, kSyncIndexName)) return false;
    // An unchanged start reads the head only: its size does not grow with the tree.
    char head[kSyncIndexHeadSize];
    size_t headSize = 0;
    bool opened = ReadFileHead(indexPath, head, sizeof head, &headSize);
    MirrorPaths paths;
    bool pathsFormed = FormMirrorPaths(&paths);
    if (!opened) {
        if (pathsFormed && !IsFolderAttributes(GetEntryAttributes(sourceRoot))) {
            StartFromMirrorAsItIs(sourceRoot, paths);
            return true;
        }
        // The listing mirror is about to change the mirror: no generation is applied any more, so
        // that an index published again later is applied again.
        if (pathsFormed && EntryExists(paths.record)) RemoveEntryItself(paths.record);
        return false;
    }
    uint8_t generation[kSha256Size];
    bool named = ReadSyncIndexGeneration(head, headSize, generation);
    if (pathsFormed) {
        RecoverInterruptedSwitch(paths);
        SyncIndex applied;
        LiveMirrorState live = LiveMirrorNotTrusted;
        if (named && ReadAppliedRecord(paths.record, &applied) &&
            memcmp(applied.generation, generation, kSha256Size) == 0 && IsRealFolder(paths.live)) {
            live = CheckLiveMirror(paths.live, applied);
        }
        ReleaseSyncIndex(&applied);
        if (live == LiveMirrorNotTrusted) {
            SourceIndex index;
            if (ReadSourceIndex(indexPath, &index) == IndexAccepted) {
                RefreshGeneration(sourceRoot, indexPath, index);
            } else {
                PrintMessage(stderr, "Ignored %s: it is not a whole sync index; the mirror stays as it is\n",
                             indexPath);
            }
            ReleaseSourceIndex(&index);
        }
    }
    AddSyncLibsToClassPath();
    return true;
}
