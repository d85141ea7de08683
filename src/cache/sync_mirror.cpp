#include "sync_mirror.h"

#include <cstdarg>
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

void MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    if (IsRootFolder(relativeFolder) && !PrepareSyncDirectory()) return;
    // Without a root call there is no mirror to write into.
    if (g_appCacheFolder[0] == '\0') return;

    char pattern[kSyncPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\%s\\*", sourceRoot, relativeFolder)) return;
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return;

    bool more = true;
    while (more) {
        if (!IsDotEntryName(entry.name) && entry.attributes != kEntryAttributesInvalid) {
            if (IsFolderAttributes(entry.attributes)) {
                char subfolder[kSyncPathSize];
                char mirrorFolder[kSyncPathSize];
                // A subfolder whose paths would not fit is skipped whole; its siblings still go on.
                if (FormatPathText(subfolder, sizeof subfolder, "%s\\%s", relativeFolder, entry.name) &&
                    FormatPathText(mirrorFolder, sizeof mirrorFolder, "%s\\sync\\%s", g_appCacheFolder, subfolder)) {
                    MakeFolder(mirrorFolder);
                    MirrorSyncFolder(sourceRoot, subfolder);
                }
            } else {
                char source[kSyncPathSize];
                char target[kSyncPathSize];
                if (FormatPathText(source, sizeof source, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name) &&
                    FormatPathText(target, sizeof target, "%s\\sync\\%s\\%s", g_appCacheFolder, relativeFolder,
                                   entry.name)) {
                    CopyWhenDifferent(source, target, entry.sizeLow, entry.lastWriteTime);
                }
            }
        }
        bool endedCleanly = false;
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
    PruneSyncFolder(sourceRoot, relativeFolder);
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

void PruneSyncFolder(const char* sourceRoot, const char* relativeFolder) {
    if (g_appCacheFolder[0] == '\0') return;
    char mirrorFolder[kSyncPathSize];
    char pattern[kSyncPathSize];
    if (!FormatPathText(mirrorFolder, sizeof mirrorFolder, "%s\\sync\\%s", g_appCacheFolder, relativeFolder)) return;
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", mirrorFolder)) return;
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return;

    bool inLibs = strcmp(relativeFolder, kLibsRelativeFolder) == 0;
    bool more = true;
    while (more) {
        char source[kSyncPathSize];
        // An entry whose source path would not fit can't be looked up, so it is kept.
        if (!IsDotEntryName(entry.name) && entry.attributes != kEntryAttributesInvalid &&
            FormatPathText(source, sizeof source, "%s\\%s\\%s", sourceRoot, relativeFolder, entry.name)) {
            FileEntryInfo found;
            unsigned long error = 0;
            if (LookUpEntry(source, &found, &error)) {
                if (inLibs && IsJarName(found.name)) AppendMirrorJar(found.name);
            } else if (SourceEntryVanished(sourceRoot, relativeFolder, error)) {
                RemoveVanishedEntry(mirrorFolder, entry);
            }
        }
        bool endedCleanly = false;
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
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
