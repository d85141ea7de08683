#include "sync/mirror_by_listing.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/app_paths.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"
#include "files/entry_names.h"
#include "files/entry_owner.h"
#include "files/held_listing.h"
#include "files/listing_walker.h"
#include "files/replace.h"
#include "sync/mirror_root.h"

// The application folder: set by the root mirror call, the base of every copy target.
static char g_appCacheFolder[kWindowsPathSize];

// Temporary files of the mirror are "~sync.{process id}.{random}.tmp" beside the file they become.
static const char kMirrorTempStem[] = "sync";

static const char kLibsRelativeFolder[] = ".\\libs";

void ForgetSyncAppFolder() {
    g_appCacheFolder[0] = '\0';
    ForgetMirrorOutcome();
}

static bool IsRootFolder(const char* relativeFolder) { return strcmp(relativeFolder, ".") == 0; }

// Readies the mirror root in the application folder (a previous mirror that a crash left beside it
// comes back first), and remembers the folder. False when there is none to write into.
static bool PrepareMirrorRoot() {
    MirrorPaths paths;
    const char* folder = GetAppCacheFolder();
    if (folder == nullptr || !FormMirrorPaths(&paths)) return false;
    RecoverInterruptedSwitch(paths);
    if (!EnsureRealFolder(paths.live, GetEntryAttributes(paths.live))) return false;
    return FormatPathText(g_appCacheFolder, sizeof g_appCacheFolder, "%s", folder);
}

// ---- Listings held in memory ----
//
// Both sides of a folder are listed once and compared in memory: the listings already carry every
// size and last-write time the copy rule needs, so an unchanged tree costs no open and no lookup
// per entry. Whatever a listing can't settle (an entry that is not a plain file, a listing that
// broke off, memory that ran out) goes back to asking the file system entry by entry.

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

// Replaces a mirror file with a fresh copy of its source. What stays instead is told: a link, code of
// another account, or code older than its source, which the launch must not run either.
static void ReplaceMirrorFile(const char* sourcePath, const char* target, unsigned long attributes, bool code,
                              bool foreignCode) {
    char temp[kWindowsPathSize];
    if (FormatTempPathBeside(temp, sizeof temp, target, kMirrorTempStem) &&
        ReplaceWithCopy(sourcePath, temp, target, attributes)) {
        return;
    }
    if (IsLinkAttributes(attributes)) {
        ReportLinkKept(target);
    } else if (foreignCode) {
        NoteForeignCode(target);
    } else if (code) {
        NoteStaleCode(target);
    }
}

// One source file against its mirror entry; true when the mirror folder was written.
static bool MirrorFile(const char* sourceRoot, const char* relativeFolder, const HeldListing* mirror,
                       const FileEntryInfo& entry) {
    char sourcePath[kWindowsPathSize];
    char target[kWindowsPathSize];
    if (!FormatPathText(sourcePath, sizeof sourcePath, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name) ||
        !FormatPathText(target, sizeof target, "%s\\sync\\%s\\%s", g_appCacheFolder, relativeFolder, entry.name)) {
        return false;
    }
    bool code = IsCodeFileName(entry.name);
    switch (JudgeListedTarget(mirror, entry.name, entry.sizeLow, entry.lastWriteTime)) {
        case TargetMatches:
            // Code that another account put there is copied again, whatever its size and time.
            if (!code || IsTrustedOwner(QueryEntryOwner(target))) return false;
            ReplaceMirrorFile(sourcePath, target, MirrorEntryAttributes(mirror, entry.name, target), code, true);
            return true;
        case TargetDiffers:
            ReplaceMirrorFile(sourcePath, target, MirrorEntryAttributes(mirror, entry.name, target), code, false);
            return true;
        case TargetUnknown: {
            unsigned long attributes = MirrorEntryAttributes(mirror, entry.name, target);
            if (IsLinkAttributes(attributes)) {
                ReplaceMirrorFile(sourcePath, target, attributes, code, false);
                return true;
            }
            char temp[kWindowsPathSize];
            if (!FormatTempPathBeside(temp, sizeof temp, target, kMirrorTempStem)) return false;
            CopyOutcome outcome = CopyWhenDifferent(sourcePath, temp, target, entry.sizeLow, entry.lastWriteTime, code);
            if (outcome == CopyForeignCodeKept) NoteForeignCode(target);
            if (outcome == CopyFailed && code) NoteStaleCode(target);
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
    char subfolder[kWindowsPathSize];
    char mirrorFolder[kWindowsPathSize];
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
        ForgetMirrorOutcome();
        if (!PrepareMirrorRoot()) return;
    }
    // Without a root call there is no mirror to write into.
    if (g_appCacheFolder[0] == '\0') return;

    char pattern[kWindowsPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\%s\\*", sourceRoot, relativeFolder)) return;
    HeldListing mirror;
    HeldListing source;
    bool mirrorHeld = false;
    bool mirrorChanged = false;
    ListingEnd end = WalkListing(pattern, [&](const FileEntryInfo& entry) {
        if (!mirrorHeld) {
            // Only a source that answers is worth comparing with: the mirror is listed after it.
            char mirrorPattern[kWindowsPathSize];
            FormatPathText(mirrorPattern, sizeof mirrorPattern, "%s\\sync\\%s\\*", g_appCacheFolder, relativeFolder);
            HoldListing(mirrorPattern, &mirror);
            mirrorHeld = true;
        }
        HoldListedEntry(&source, entry);
        if (MirrorSourceEntry(sourceRoot, relativeFolder, &mirror, entry)) mirrorChanged = true;
        return true;
    });
    if (end == ListingNotOpened) {
        // The share can't be reached: the application runs from the mirror as the last start left it.
        if (IsRootFolder(relativeFolder)) {
            NoteShareUnreachable(sourceRoot);
            AddSyncLibsToClassPath();
        }
        return;
    }
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
    char sourceFolder[kWindowsPathSize];
    if (!FormatPathText(sourceFolder, sizeof sourceFolder, "%s\\%s", sourceRoot, relativeFolder)) return false;
    return IsFolderAttributes(GetEntryAttributes(sourceFolder));
}

// A temporary file that a copy still running elsewhere is writing; an orphan's process has ended.
static bool IsTempOfRunningCopy(const char* name) {
    unsigned long processId = 0;
    return ParseTempEntryName(name, kMirrorTempStem, &processId) && processId != GetOwnProcessId() &&
           ProcessIsRunning(processId);
}

static void RemoveVanishedEntry(const char* mirrorFolder, const FileEntryInfo& entry) {
    char path[kWindowsPathSize];
    if (!FormatPathText(path, sizeof path, "%s\\%s", mirrorFolder, entry.name)) return;
    if (IsTempOfRunningCopy(entry.name)) return;
    RemoveEntryAndContent(path, entry.attributes);
}

// A libs jar goes on the class path only when its owner is trusted: what another account put there
// ends the launch instead.
static void AppendTrustedJar(const char* jar) {
    if (IsTrustedOwner(QueryEntryOwner(jar))) {
        AppendClassPath(jar);
    } else {
        NoteForeignCode(jar);
    }
}

static void AppendMirrorJar(const char* jarName) {
    char entry[kWindowsPathSize];
    if (FormatPathText(entry, sizeof entry, "%s\\sync\\%s\\%s", g_appCacheFolder, kLibsRelativeFolder, jarName)) {
        AppendTrustedJar(entry);
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
    char sourcePath[kWindowsPathSize];
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
    char mirrorFolder[kWindowsPathSize];
    char pattern[kWindowsPathSize];
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
    char mirrorRoot[kWindowsPathSize];
    char libsFolder[kWindowsPathSize];
    char pattern[kWindowsPathSize];
    if (!FormatMirrorRoot(mirrorRoot, sizeof mirrorRoot) ||
        !FormatPathText(libsFolder, sizeof libsFolder, "%s\\libs", mirrorRoot) ||
        !FormatPathText(pattern, sizeof pattern, "%s\\*", libsFolder)) {
        return;
    }
    // Jars are not read through a link that the first instance could not replace.
    const char* const folders[] = {mirrorRoot, libsFolder};
    for (const char* folder : folders) {
        if (IsLinkAttributes(GetEntryAttributes(folder))) {
            ReportLinkKept(folder);
            return;
        }
    }
    WalkListing(pattern, [&](const FileEntryInfo& entry) {
        char jar[kWindowsPathSize];
        if (!IsDotEntryName(entry.name) && IsJarName(entry.name) && !IsLinkAttributes(entry.attributes) &&
            FormatPathText(jar, sizeof jar, "%s\\%s", libsFolder, entry.name)) {
            AppendTrustedJar(jar);
        }
        return true;
    });
}
