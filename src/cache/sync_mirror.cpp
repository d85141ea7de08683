#include "sync_mirror.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cache_folder.h"
#include "config/resources.h"
#include "launcher/options.h"

// "{cache directory}\{exe base name}": set by the root mirror call, the base of every copy target.
static char g_appCacheFolder[kSyncPathSize];

static const char kLibsRelativeFolder[] = ".\\libs";

bool FormatPathText(char* buffer, size_t size, const char* format, ...) {
    if (size == 0) return false;
    va_list args;
    va_start(args, format);
    int written = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool IsJarName(const char* name) {
    const char* lastDot = strrchr(name, '.');
    return lastDot != nullptr && strcmp(lastDot, ".jar") == 0;
}

bool IsDotEntryName(const char* name) { return strcmp(name, ".") == 0 || strcmp(name, "..") == 0; }

bool IsFolderAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeFolder) != 0;
}

bool IsLinkAttributes(unsigned long attributes) {
    return attributes != kEntryAttributesInvalid && (attributes & kEntryAttributeLink) != 0;
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

bool CopyWhenDifferent(const char* source, const char* target, uint32_t sourceSizeLow,
                       uint64_t sourceLastWriteTime) {
    CopyTargetProbe probe = ProbeCopyTarget(target);
    if (!CopyTargetDiffers(probe, sourceSizeLow, sourceLastWriteTime)) return false;
    CopyFileOver(source, target);
    return true;
}

void ForgetSyncAppFolder() { g_appCacheFolder[0] = '\0'; }

static bool IsRootFolder(const char* relativeFolder) { return strcmp(relativeFolder, ".") == 0; }

// Creates the application cache folder and the sync directory, and remembers the former.
static bool PrepareSyncDirectory() {
    char* baseName = GetExeBaseName();
    bool fits = FormatPathText(g_appCacheFolder, sizeof g_appCacheFolder, "%s\\%s", GetCacheFolder(), baseName);
    free(baseName);
    if (!fits) return false;
    char syncDirectory[kSyncPathSize];
    if (!FormatPathText(syncDirectory, sizeof syncDirectory, "%s\\sync", g_appCacheFolder)) return false;
    MakeFolder(g_appCacheFolder);
    MakeFolder(syncDirectory);
    return true;
}

// ---- Listings held in memory ----
//
// Both sides of a folder are listed once and compared in memory: the listings already carry every
// size and last-write time the copy rule needs, so an unchanged tree costs no open and no lookup
// per entry. Whatever a listing can't settle (an entry that is not a plain file, a listing that
// broke off, memory that ran out) goes back to asking the file system entry by entry.

static char FoldNameChar(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

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
    FileEntryInfo entry;
    EntryListing open = OpenEntryListing(pattern, &entry);
    if (open == nullptr) return;
    listing->opened = true;
    bool more = true;
    bool endedCleanly = false;
    while (more) {
        HoldListedEntry(listing, entry);
        more = NextListedEntry(open, &entry, &endedCleanly);
    }
    CloseEntryListing(open);
    listing->ended = endedCleanly;
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

static bool MirrorHoldsFolder(const HeldListing* mirror, const char* name) {
    if (!HeldListingIsWhole(mirror)) return false;
    const FileEntryInfo* listed = FindHeldEntry(mirror, name);
    return listed != nullptr && IsFolderAttributes(listed->attributes) && !IsLinkAttributes(listed->attributes);
}

// ---- Mirror and prune ----

static void PruneMirrorFolder(const char* sourceRoot, const char* relativeFolder, const HeldListing* source,
                              const HeldListing* heldMirror);

void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    if (IsRootFolder(relativeFolder) && !PrepareSyncDirectory()) return;
    // Without a root call there is no mirror to write into.
    if (g_appCacheFolder[0] == '\0') return;

    char pattern[kSyncPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\%s\\*", sourceRoot, relativeFolder)) return;
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return;
    // Only a source that answers is worth comparing with: the mirror is listed after it.
    char mirrorPattern[kSyncPathSize];
    FormatPathText(mirrorPattern, sizeof mirrorPattern, "%s\\sync\\%s\\*", g_appCacheFolder, relativeFolder);
    HeldListing mirror;
    HoldListing(mirrorPattern, &mirror);
    HeldListing source;
    source.opened = true;
    bool mirrorChanged = false;
    bool more = true;
    bool endedCleanly = false;
    while (more) {
        HoldListedEntry(&source, entry);
        if (!IsDotEntryName(entry.name) && entry.attributes != kEntryAttributesInvalid) {
            if (IsFolderAttributes(entry.attributes)) {
                char subfolder[kSyncPathSize];
                char mirrorFolder[kSyncPathSize];
                // A subfolder whose paths would not fit is skipped whole; its siblings still go on.
                if (FormatPathText(subfolder, sizeof subfolder, "%s\\%s", relativeFolder, entry.name) &&
                    FormatPathText(mirrorFolder, sizeof mirrorFolder, "%s\\sync\\%s", g_appCacheFolder, subfolder)) {
                    if (!MirrorHoldsFolder(&mirror, entry.name)) {
                        MakeFolder(mirrorFolder);
                        mirrorChanged = true;
                    }
                    MirrorSyncFolder(sourceRoot, subfolder);
                }
            } else {
                char sourcePath[kSyncPathSize];
                char target[kSyncPathSize];
                if (FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s\\%s", sourceRoot, relativeFolder,
                                   entry.name) &&
                    FormatPathText(target, sizeof target, "%s\\sync\\%s\\%s", g_appCacheFolder, relativeFolder,
                                   entry.name)) {
                    switch (JudgeListedTarget(&mirror, entry.name, entry.sizeLow, entry.lastWriteTime)) {
                        case TargetMatches:
                            break;
                        case TargetDiffers:
                            CopyFileOver(sourcePath, target);
                            mirrorChanged = true;
                            break;
                        case TargetUnknown:
                            if (CopyWhenDifferent(sourcePath, target, entry.sizeLow, entry.lastWriteTime)) {
                                mirrorChanged = true;
                            }
                            break;
                    }
                }
            }
        }
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
    source.ended = endedCleanly;
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

static void RemoveVanishedEntry(const char* mirrorFolder, const FileEntryInfo& entry) {
    char path[kSyncPathSize];
    if (!FormatPathText(path, sizeof path, "%s\\%s", mirrorFolder, entry.name)) return;
    if (IsLinkAttributes(entry.attributes)) {
        // The link goes, never what it points to.
        if (IsFolderAttributes(entry.attributes)) {
            RemoveEmptyFolder(path);
        } else {
            DeleteFileAt(path);
        }
    } else if (IsFolderAttributes(entry.attributes)) {
        RemoveTree(path);
    } else {
        DeleteFileAt(path);
    }
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
    if (listed != nullptr) {
        if (inLibs && IsJarName(listed->name)) AppendMirrorJar(listed->name);
        return;
    }
    char sourcePath[kSyncPathSize];
    // An entry whose source path would not fit can't be looked up, so it is kept.
    if (!FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name)) return;
    FileEntryInfo found;
    unsigned long error = 0;
    if (LookUpEntry(sourcePath, &found, &error)) {
        if (inLibs && IsJarName(found.name)) AppendMirrorJar(found.name);
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
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return;
    bool more = true;
    while (more) {
        PruneMirrorEntry(sourceRoot, relativeFolder, mirrorFolder, inLibs, source, entry);
        bool endedCleanly = false;
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
}

void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    PruneMirrorFolder(sourceRoot, relativeFolder, nullptr, nullptr);
}

void AddSyncLibsToClassPath() {
    char* baseName = GetExeBaseName();
    char libsFolder[kSyncPathSize];
    bool fits = FormatPathText(libsFolder, sizeof libsFolder, "%s\\%s\\sync\\libs", GetCacheFolder(), baseName);
    free(baseName);
    char pattern[kSyncPathSize];
    if (!fits || !FormatPathText(pattern, sizeof pattern, "%s\\*", libsFolder)) return;
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return;
    bool more = true;
    while (more) {
        char jar[kSyncPathSize];
        if (!IsDotEntryName(entry.name) && IsJarName(entry.name) &&
            FormatPathText(jar, sizeof jar, "%s\\%s", libsFolder, entry.name)) {
            AppendClassPath(jar);
        }
        bool endedCleanly = false;
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
}

bool RemoveTree(const char* path) {
    unsigned long attributes = GetEntryAttributes(path);
    if (attributes == kEntryAttributesInvalid) return false;
    if (IsLinkAttributes(attributes)) {
        return IsFolderAttributes(attributes) ? RemoveEmptyFolder(path) : DeleteFileAt(path);
    }
    char pattern[kSyncPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", path)) return false;
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return false;

    bool more = true;
    bool endedCleanly = false;
    while (more) {
        if (!IsDotEntryName(entry.name)) {
            char child[kSyncPathSize];
            bool removed = false;
            if (FormatPathText(child, sizeof child, "%s\\%s", path, entry.name)) {
                if (IsLinkAttributes(entry.attributes)) {
                    removed = IsFolderAttributes(entry.attributes) ? RemoveEmptyFolder(child) : DeleteFileAt(child);
                } else if (IsFolderAttributes(entry.attributes)) {
                    removed = RemoveTree(child);
                } else {
                    removed = DeleteFileAt(child);
                }
            }
            if (!removed) {
                CloseEntryListing(listing);
                return false;
            }
        }
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
    if (!endedCleanly) return false;
    return RemoveEmptyFolder(path);
}
