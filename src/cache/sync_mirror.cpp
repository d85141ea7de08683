#include "cache/sync_mirror.h"
#include "cache/sync_rules.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_folder.h"
#include "cache/code_owner.h"
#include "cache/listing_walker.h"
#include "config/resources.h"

// "{cache directory}\{exe base name}": set by the root mirror call, the base of every copy target.
static char g_appCacheFolder[kSyncPathSize];
// Set when code owned by another account stays in the mirror: the launch must not run it.
static bool g_foreignCodeKept;

// Temporary files of the mirror are "~sync.{process id}.tmp" beside the file they become.
static const char kMirrorTempStem[] = "sync";

static const char kLibsRelativeFolder[] = ".\\libs";

bool IsDotEntryName(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool IsFolderAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeFolder) != 0;
}

bool IsLinkAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeLink) != 0;
}

bool IsReadOnlyAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeReadOnly) != 0;
}

static char FoldNameChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

static bool EqualFolded(const char* left, const char* right) {
    for (; *left != '\0' && FoldNameChar(*left) == FoldNameChar(*right); left++, right++) {
    }
    return *left == '\0' && *right == '\0';
}

bool IsCodeFileName(const char* name) {
    static const char* const kCodeSuffixes[] = {".jar", ".dll", ".exe"};
    size_t length = strlen(name);
    for (const char* suffix : kCodeSuffixes) {
        if (length >= strlen(suffix) && EqualFolded(name + length - strlen(suffix), suffix)) return true;
    }
    return EqualFolded(name, "modules");
}

void ReportLinkKept(const char* path) {
    PrintMessage(stderr, "Skipped %s: a link stands there and could not be removed\n", path);
}

bool LookupErrorMeansAbsent(unsigned long error) {
    const unsigned long fileNotFound = 2;
    const unsigned long pathNotFound = 3;
    return error == fileNotFound || error == pathNotFound;
}

bool CopyTargetDiffers(const CopyTargetProbe& probe, uint32_t sourceSizeLow, uint64_t sourceLastWriteTime) {
    if (probe.state != CopyTargetOpened) return true;
    if (!probe.sizeRead || !probe.timeRead) return true;
    return probe.sizeLow != sourceSizeLow || probe.lastWriteTime != sourceLastWriteTime;
}

bool ReplaceWithCopy(const char* source, const char* temp, const char* target, unsigned long targetAttributes) {
    if (IsLinkAttributes(targetAttributes)) {
        // Where the link itself can't be removed, the move below still replaces a link to a file.
        RemoveEntryItself(target);
    } else if (IsReadOnlyAttributes(targetAttributes)) {
        // Windows refuses to replace a read-only file; the copy gets the source's attributes again.
        ClearReadOnly(target);
    }
    return CopyThroughTemp(source, temp, target);
}

CopyOutcome CopyWhenDifferent(const char* source, const char* temp, const char* target, uint32_t sourceSizeLow,
                              uint64_t sourceLastWriteTime, bool code) {
    CopyTargetProbe probe = ProbeCopyTarget(target);
    bool foreign = code && probe.state == CopyTargetOpened && !IsTrustedOwner(probe.owner);
    if (!foreign && !CopyTargetDiffers(probe, sourceSizeLow, sourceLastWriteTime)) return CopyNotNeeded;
    unsigned long attributes = GetEntryAttributes(target);
    bool link = probe.state == CopyTargetLink || IsLinkAttributes(attributes);
    if (ReplaceWithCopy(source, temp, target, link ? (attributes | kEntryAttributeLink) : attributes)) return CopyMade;
    if (link) {
        ReportLinkKept(target);
        return CopyLinkKept;
    }
    if (foreign) {
        ReportForeignCode(target);
        return CopyForeignCodeKept;
    }
    return CopyFailed;
}

bool FormatTempPathBeside(char* buffer, size_t size, const char* target, const char* stem) {
    const char* lastBackslash = strrchr(target, '\\');
    int folderLength = lastBackslash != nullptr ? static_cast<int>(lastBackslash - target) : 0;
    return FormatPathText(buffer, size, "%.*s\\~%s.%lu.tmp", folderLength, target, stem, GetOwnProcessId());
}

void ForgetSyncAppFolder() {
    g_appCacheFolder[0] = '\0';
    g_foreignCodeKept = false;
}

bool MirrorKeptForeignCode() { return g_foreignCodeKept; }

static bool IsRootFolder(const char* relativeFolder) { return strcmp(relativeFolder, ".") == 0; }

// A mirror folder about to be entered or written into: a link there is removed itself and a real
// folder made in its place. False, told on stderr, when the link stays: nothing below it is touched.
// attributes are the entry's as a listing or a query gave them (invalid: not there).
static bool EnsureRealFolder(const char* path, unsigned long attributes) {
    if (IsLinkAttributes(attributes)) {
        if (!RemoveEntryItself(path)) {
            ReportLinkKept(path);
            return false;
        }
        attributes = kEntryAttributesInvalid;
    }
    if (!IsFolderAttributes(attributes)) MakeFolder(path);
    return true;
}

// Creates the application cache folder and the sync directory, and remembers the former.
static bool PrepareSyncDirectory() {
    if (!FormatAppCacheFolder(g_appCacheFolder, sizeof g_appCacheFolder)) return false;
    char syncDirectory[kSyncPathSize];
    if (!FormatSyncDirectory(syncDirectory, sizeof syncDirectory) ||
        !EnsureRealFolder(g_appCacheFolder, GetEntryAttributes(g_appCacheFolder)) ||
        !EnsureRealFolder(syncDirectory, GetEntryAttributes(syncDirectory))) {
        g_appCacheFolder[0] = '\0';
        return false;
    }
    return true;
}

// ---- Listings held in memory ----
//
// Both sides of a folder are listed once and compared in memory: the listings already carry every
// size and last-write time the copy rule needs, so an unchanged tree costs no open and no lookup
// per entry. Whatever a listing can't settle (an entry that is not a plain file, a listing that
// broke off, memory that ran out) goes back to asking the file system entry by entry.

// Orders names as the file system matches them, as far as ASCII goes. Names that differ only in
// the case of other letters count as different here; that only costs a copy or a lookup more.
static int CompareFoldedNames(const char* left, const char* right) {
    for (;; left++, right++) {
        unsigned char l = static_cast<unsigned char>(FoldNameChar(*left));
        unsigned char r = static_cast<unsigned char>(FoldNameChar(*right));
        if (l != r) return l < r ? -1 : 1;
        if (l == '\0') return 0;
    }
}

static int CompareHeldEntries(const void* left, const void* right) {
    const FileEntryInfo* l = *static_cast<const FileEntryInfo* const*>(left);
    const FileEntryInfo* r = *static_cast<const FileEntryInfo* const*>(right);
    return CompareFoldedNames(l->name, r->name);
}

static int CompareNameWithHeldEntry(const void* name, const void* entry) {
    return CompareFoldedNames(static_cast<const char*>(name), (*static_cast<const FileEntryInfo* const*>(entry))->name);
}

void HoldListedEntry(HeldListing* listing, const FileEntryInfo& entry) {
    if (listing->failed || IsDotEntryName(entry.name)) return;
    if (listing->count == listing->capacity) {
        size_t capacity = listing->capacity == 0 ? 64 : listing->capacity * 2;
        void* grown = capacity > SIZE_MAX / sizeof(FileEntryInfo)
                          ? nullptr
                          : realloc(listing->entries, capacity * sizeof(FileEntryInfo));
        if (grown == nullptr) {
            listing->failed = true;
            return;
        }
        listing->entries = static_cast<FileEntryInfo*>(grown);
        listing->capacity = capacity;
    }
    listing->entries[listing->count++] = entry;
}

bool SortHeldListing(HeldListing* listing) {
    if (listing->failed) return false;
    free(listing->byName);
    listing->byName = static_cast<const FileEntryInfo**>(malloc((listing->count + 1) * sizeof(FileEntryInfo*)));
    if (listing->byName == nullptr) {
        listing->failed = true;
        return false;
    }
    for (size_t i = 0; i < listing->count; i++) listing->byName[i] = &listing->entries[i];
    qsort(listing->byName, listing->count, sizeof(FileEntryInfo*), CompareHeldEntries);
    return true;
}

const FileEntryInfo* FindHeldEntry(const HeldListing* listing, const char* name) {
    if (listing->byName == nullptr) return nullptr;
    void* found = bsearch(name, listing->byName, listing->count, sizeof(FileEntryInfo*), CompareNameWithHeldEntry);
    return found == nullptr ? nullptr : *static_cast<const FileEntryInfo* const*>(found);
}

bool HeldListingIsWhole(const HeldListing* listing) {
    return listing->opened && listing->ended && !listing->failed && listing->byName != nullptr;
}

void ReleaseHeldListing(HeldListing* listing) {
    free(listing->entries);
    free(listing->byName);
    *listing = HeldListing();
}

// Reads a whole listing into memory and sorts it; an empty pattern opens nothing.
static void HoldListing(const char* pattern, HeldListing* listing) {
    *listing = HeldListing();
    if (pattern[0] == '\0') return;
    ListingEnd end = WalkListing(pattern, [listing](const FileEntryInfo& entry) {
        HoldListedEntry(listing, entry);
        return true;
    });
    if (end == ListingNotOpened) return;
    listing->opened = true;
    listing->ended = end == ListingWhole;
    SortHeldListing(listing);
}

static bool IsPlainFileAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && !IsFolderAttributes(attributes) && !IsLinkAttributes(attributes);
}

MirrorTargetVerdict JudgeListedTarget(const HeldListing* mirror, const char* name, uint32_t sourceSizeLow,
                                      uint64_t sourceLastWriteTime) {
    if (!HeldListingIsWhole(mirror)) return TargetUnknown;
    const FileEntryInfo* listed = FindHeldEntry(mirror, name);
    if (listed == nullptr) return TargetDiffers;  // not in the mirror at all
    if (!IsPlainFileAttributes(listed->attributes)) return TargetUnknown;
    return listed->sizeLow == sourceSizeLow && listed->lastWriteTime == sourceLastWriteTime ? TargetMatches
                                                                                             : TargetDiffers;
}

// The attributes of a mirror entry: from the folder's whole listing, or asked of the file system.
static unsigned long MirrorEntryAttributes(const HeldListing* mirror, const char* name, const char* path) {
    if (!HeldListingIsWhole(mirror)) return GetEntryAttributes(path);
    const FileEntryInfo* listed = FindHeldEntry(mirror, name);
    return listed != nullptr ? listed->attributes : kEntryAttributesInvalid;
}

// ---- Mirror and prune ----

static void PruneMirrorFolder(const char* sourceRoot, const char* relativeFolder, const HeldListing* source,
                              const HeldListing* heldMirror);

// Replaces a mirror file with a fresh copy of its source, telling a link or foreign code that stays.
static void ReplaceMirrorFile(const char* sourcePath, const char* target, unsigned long attributes, bool foreignCode) {
    char temp[kSyncPathSize];
    if (!FormatTempPathBeside(temp, sizeof temp, target, kMirrorTempStem)) return;
    if (ReplaceWithCopy(sourcePath, temp, target, attributes)) return;
    if (IsLinkAttributes(attributes)) {
        ReportLinkKept(target);
    } else if (foreignCode) {
        ReportForeignCode(target);
        g_foreignCodeKept = true;
    }
}

// One source file against its mirror entry; true when the mirror folder was written.
static bool MirrorFile(const char* sourceRoot, const char* relativeFolder, const HeldListing* mirror,
                       const FileEntryInfo& entry) {
    char sourcePath[kSyncPathSize];
    char target[kSyncPathSize];
    if (!FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name) ||
        !FormatPathText(target, sizeof target, "%s\\sync\\%s\\%s", g_appCacheFolder, relativeFolder, entry.name)) {
        return false;
    }
    bool code = IsCodeFileName(entry.name);
    switch (JudgeListedTarget(mirror, entry.name, entry.sizeLow, entry.lastWriteTime)) {
        case TargetMatches:
            // Code that another account put there is copied again, whatever its size and time.
            if (!code || IsTrustedOwner(QueryEntryOwner(target))) return false;
            ReplaceMirrorFile(sourcePath, target, MirrorEntryAttributes(mirror, entry.name, target), true);
            return true;
        case TargetDiffers:
            ReplaceMirrorFile(sourcePath, target, MirrorEntryAttributes(mirror, entry.name, target), false);
            return true;
        case TargetUnknown: {
            unsigned long attributes = MirrorEntryAttributes(mirror, entry.name, target);
            if (IsLinkAttributes(attributes)) {
                ReplaceMirrorFile(sourcePath, target, attributes, false);
                return true;
            }
            char temp[kSyncPathSize];
            if (!FormatTempPathBeside(temp, sizeof temp, target, kMirrorTempStem)) return false;
            CopyOutcome outcome = CopyWhenDifferent(sourcePath, temp, target, entry.sizeLow, entry.lastWriteTime, code);
            if (outcome == CopyForeignCodeKept) g_foreignCodeKept = true;
            return outcome != CopyNotNeeded;
        }
    }
    return false;
}

// Mirrors one entry of a source listing: a subfolder is entered, a file copied when it differs.
// True when the mirror folder's listing no longer holds.
static bool MirrorSourceEntry(const char* sourceRoot, const char* relativeFolder, const HeldListing* mirror,
                              const FileEntryInfo& entry) {
    if (IsDotEntryName(entry.name) || entry.attributes == kEntryAttributesInvalid) return false;
    if (!IsFolderAttributes(entry.attributes)) return MirrorFile(sourceRoot, relativeFolder, mirror, entry);
    char subfolder[kSyncPathSize];
    char mirrorFolder[kSyncPathSize];
    // A subfolder whose paths would not fit is skipped whole; its siblings still go on.
    if (!FormatPathText(subfolder, sizeof subfolder, "%s\\%s", relativeFolder, entry.name) ||
        !FormatPathText(mirrorFolder, sizeof mirrorFolder, "%s\\sync\\%s", g_appCacheFolder, subfolder)) {
        return false;
    }
    unsigned long attributes = MirrorEntryAttributes(mirror, entry.name, mirrorFolder);
    bool changed = !IsFolderAttributes(attributes) || IsLinkAttributes(attributes);
    if (EnsureRealFolder(mirrorFolder, attributes)) MirrorSyncFolder(sourceRoot, subfolder);
    return changed;
}

void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    if (IsRootFolder(relativeFolder)) {
        g_foreignCodeKept = false;
        if (!PrepareSyncDirectory()) return;
    }
    // Without a root call there is no mirror to write into.
    if (g_appCacheFolder[0] == '\0') return;

    char pattern[kSyncPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\%s\\*", sourceRoot, relativeFolder)) return;
    HeldListing mirror;
    HeldListing source;
    bool mirrorHeld = false;
    bool mirrorChanged = false;
    ListingEnd end = WalkListing(pattern, [&](const FileEntryInfo& entry) {
        if (!mirrorHeld) {
            // Only a source that answers is worth comparing with: the mirror is listed after it.
            char mirrorPattern[kSyncPathSize];
            FormatPathText(mirrorPattern, sizeof mirrorPattern, "%s\\sync\\%s\\*", g_appCacheFolder, relativeFolder);
            HoldListing(mirrorPattern, &mirror);
            mirrorHeld = true;
        }
        HoldListedEntry(&source, entry);
        if (MirrorSourceEntry(sourceRoot, relativeFolder, &mirror, entry)) mirrorChanged = true;
        return true;
    });
    if (end == ListingNotOpened) return;
    source.opened = true;
    source.ended = end == ListingWhole;
    SortHeldListing(&source);

    if (HeldListingIsWhole(&source)) {
        // The mirror's own listing still holds when nothing in this folder was written.
        PruneMirrorFolder(sourceRoot, relativeFolder, &source,
                          !mirrorChanged && HeldListingIsWhole(&mirror) ? &mirror : nullptr);
    } else {
        // A source listing that broke off proves nothing gone: each entry is looked up instead.
        PruneSyncFolder(sourceRoot, relativeFolder);
    }
    ReleaseHeldListing(&source);
    ReleaseHeldListing(&mirror);
}

// An entry is gone only when the source says so and the source folder itself still answers:
// a share that drops halfway makes every lookup fail, and must not empty the mirror.
static bool SourceEntryVanished(const char* sourceRoot, const char* relativeFolder, unsigned long lookupError) {
    if (!LookupErrorMeansAbsent(lookupError)) return false;
    char sourceFolder[kSyncPathSize];
    if (!FormatPathText(sourceFolder, sizeof sourceFolder, "%s\\%s", sourceRoot, relativeFolder)) return false;
    return IsFolderAttributes(GetEntryAttributes(sourceFolder));
}

// Removes one entry itself, a read-only one too; a folder with everything in it.
static bool RemoveMirrorEntry(const char* path, unsigned long attributes) {
    if (IsLinkAttributes(attributes)) {
        // The link goes, never what it points to.
        if (RemoveEntryItself(path)) return true;
        ReportLinkKept(path);
        return false;
    }
    if (IsFolderAttributes(attributes)) return RemoveTree(path);
    if (IsReadOnlyAttributes(attributes)) ClearReadOnly(path);
    return RemoveEntryItself(path);
}

// A temporary file that a copy still running elsewhere is writing; an orphan's process has ended.
static bool IsTempOfRunningCopy(const char* name) {
    unsigned long processId = 0;
    return ParseTempEntryName(name, kMirrorTempStem, &processId) && processId != GetOwnProcessId() &&
           ProcessIsRunning(processId);
}

static void RemoveVanishedEntry(const char* mirrorFolder, const FileEntryInfo& entry) {
    char path[kSyncPathSize];
    if (!FormatPathText(path, sizeof path, "%s\\%s", mirrorFolder, entry.name)) return;
    if (IsTempOfRunningCopy(entry.name)) return;
    RemoveMirrorEntry(path, entry.attributes);
}

static void AppendMirrorJar(const char* jarName) {
    char entry[kSyncPathSize];
    if (FormatPathText(entry, sizeof entry, "%s\\sync\\%s\\%s", g_appCacheFolder, kLibsRelativeFolder, jarName)) {
        AppendClassPath(entry);
    }
}

// One mirror entry against the source: kept (a libs jar goes on the class path), or removed when
// the source no longer has it. A name found in the source's listing needs no lookup.
static void PruneMirrorEntry(const char* sourceRoot, const char* relativeFolder, const char* mirrorFolder,
                             bool inLibs, const HeldListing* source, const FileEntryInfo& entry) {
    if (IsDotEntryName(entry.name) || entry.attributes == kEntryAttributesInvalid) return;
    const FileEntryInfo* listed = source != nullptr ? FindHeldEntry(source, entry.name) : nullptr;
    // A link that could not be replaced is never put on the class path.
    bool jarInLibs = inLibs && !IsLinkAttributes(entry.attributes);
    if (listed != nullptr) {
        if (jarInLibs && IsJarName(listed->name)) AppendMirrorJar(listed->name);
        return;
    }
    char sourcePath[kSyncPathSize];
    // An entry whose source path would not fit can't be looked up, so it is kept.
    if (!FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name)) return;
    FileEntryInfo found;
    unsigned long error = 0;
    if (LookUpEntry(sourcePath, &found, &error)) {
        if (jarInLibs && IsJarName(found.name)) AppendMirrorJar(found.name);
    } else if (SourceEntryVanished(sourceRoot, relativeFolder, error)) {
        RemoveVanishedEntry(mirrorFolder, entry);
    }
}

// Goes through the mirror folder's entries in its listing order: those of heldMirror, or of a fresh
// listing when there is none.
static void PruneMirrorFolder(const char* sourceRoot, const char* relativeFolder, const HeldListing* source,
                              const HeldListing* heldMirror) {
    if (g_appCacheFolder[0] == '\0') return;
    char mirrorFolder[kSyncPathSize];
    char pattern[kSyncPathSize];
    if (!FormatPathText(mirrorFolder, sizeof mirrorFolder, "%s\\sync\\%s", g_appCacheFolder, relativeFolder)) return;
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", mirrorFolder)) return;
    bool inLibs = strcmp(relativeFolder, kLibsRelativeFolder) == 0;
    if (heldMirror != nullptr) {
        for (size_t i = 0; i < heldMirror->count; i++) {
            PruneMirrorEntry(sourceRoot, relativeFolder, mirrorFolder, inLibs, source, heldMirror->entries[i]);
        }
        return;
    }
    WalkListing(pattern, [&](const FileEntryInfo& entry) {
        PruneMirrorEntry(sourceRoot, relativeFolder, mirrorFolder, inLibs, source, entry);
        return true;
    });
}

void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    PruneMirrorFolder(sourceRoot, relativeFolder, nullptr, nullptr);
}

void AddSyncLibsToClassPath() {
    g_foreignCodeKept = false;
    char appFolder[kSyncPathSize];
    char syncDirectory[kSyncPathSize];
    char libsFolder[kSyncPathSize];
    bool fits = FormatAppCacheFolder(appFolder, sizeof appFolder) && FormatSyncDirectory(syncDirectory, sizeof syncDirectory) &&
                FormatPathText(libsFolder, sizeof libsFolder, "%s\\libs", syncDirectory);
    char pattern[kSyncPathSize];
    if (!fits || !FormatPathText(pattern, sizeof pattern, "%s\\*", libsFolder)) return;
    // Jars are not read through a link that the first instance could not replace.
    const char* const folders[] = {appFolder, syncDirectory, libsFolder};
    for (const char* folder : folders) {
        if (IsLinkAttributes(GetEntryAttributes(folder))) {
            ReportLinkKept(folder);
            return;
        }
    }
    WalkListing(pattern, [&](const FileEntryInfo& entry) {
        char jar[kSyncPathSize];
        if (!IsDotEntryName(entry.name) && IsJarName(entry.name) && !IsLinkAttributes(entry.attributes) &&
            FormatPathText(jar, sizeof jar, "%s\\%s", libsFolder, entry.name)) {
            if (IsTrustedOwner(QueryEntryOwner(jar))) {
                AppendClassPath(jar);
            } else {
                // A later instance copies nothing: what it can't trust ends the launch.
                ReportForeignCode(jar);
                g_foreignCodeKept = true;
            }
        }
        return true;
    });
}

bool RemoveTree(const char* path) {
    unsigned long attributes = GetEntryAttributes(path);
    if (attributes == kEntryAttributesInvalid) return false;
    if (IsLinkAttributes(attributes)) return RemoveEntryItself(path);
    char pattern[kSyncPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", path)) return false;
    ListingEnd end = WalkListing(pattern, [path](const FileEntryInfo& entry) {
        if (IsDotEntryName(entry.name)) return true;
        char child[kSyncPathSize];
        return FormatPathText(child, sizeof child, "%s\\%s", path, entry.name) &&
               RemoveMirrorEntry(child, entry.attributes);
    });
    if (end != ListingWhole) return false;
    return RemoveEntryItself(path);
}
