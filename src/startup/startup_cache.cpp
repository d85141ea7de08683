#include "startup/startup_cache.h"

#include <cstdlib>
#include <cstring>

#include "base/app_paths.h"
#include "base/base_edge.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "cache/cache_names.h"
#include "files/app_folder.h"
#include "files/entry_names.h"
#include "files/entry_owner.h"
#include "files/listing_walker.h"
#include "files/replace.h"
#include "runtime/release_file.h"
#include "startup/startup_edge.h"

// Calls visit(const FileEntryInfo*) for each ';'-separated class path entry: what a lookup found, or
// null for an entry that is not there or too long to look up.
template <typename Visit>
static void VisitClassPathEntries(const char* classPath, Visit visit) {
    for (const char* entry = classPath; *entry != '\0';) {
        const char* end = strchr(entry, ';');
        size_t length = end != nullptr ? static_cast<size_t>(end - entry) : strlen(entry);
        char path[kWindowsPathSize];
        FileEntryInfo found;
        unsigned long error = 0;
        if (length > 0) {
            bool known = false;
            if (length < sizeof path) {
                memcpy(path, entry, length);
                path[length] = '\0';
                known = LookUpEntry(path, &found, &error) && found.attributes != kEntryAttributesInvalid;
            }
            visit(known ? &found : nullptr);
        }
        entry += length;
        if (*entry == ';') entry++;
    }
}

bool FormatApplicationKey(char* buffer, size_t size, const char* mainClass, const char* classPath) {
    unsigned long long hash = HashStartupBytes(kStartupHashSeed, mainClass, strlen(mainClass) + 1);
    hash = HashStartupBytes(hash, classPath, strlen(classPath));
    VisitClassPathEntries(classPath, [&](const FileEntryInfo* found) {
        if (found == nullptr) return;
        hash = HashStartupBytes(hash, &found->sizeLow, sizeof found->sizeLow);
        hash = HashStartupBytes(hash, &found->lastWriteTime, sizeof found->lastWriteTime);
    });
    return FormatPathText(buffer, size, "%016llx", hash);
}

// The VM archives classes from jars only: with a non-empty folder on the class path Java 17 refuses
// to start ("Cannot have non-empty directory in paths") and later ones fail to write the archive.
static bool ClassPathHoldsFolder(const char* classPath) {
    bool folder = false;
    VisitClassPathEntries(classPath, [&](const FileEntryInfo* found) {
        if (found != nullptr && (found->attributes & kEntryAttributeFolder) != 0) folder = true;
    });
    return folder;
}

// ---- Names ----

// Whether the part of `length` characters at text is `name` (case ignored).
static bool PartIs(const char* text, size_t length, const char* name) {
    return length == strlen(name) && SkipPrefixIgnoringCase(text, name) != nullptr;
}

static bool IsArchiveKey(const char* text, size_t length) {
    size_t digits = 0;
    while (digits < length && text[digits] >= '0' && text[digits] <= '9') digits++;
    if (digits == 0 || digits + 17 != length || text[digits] != '-') return false;
    for (size_t i = digits + 1; i < length; i++) {
        char c = FoldAsciiCase(text[i]);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

static bool IsExePathKey(const char* text, size_t length) {
    if (length != kExePathKeyLength) return false;
    for (size_t i = 0; i < length; i++) {
        char c = FoldAsciiCase(text[i]);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    }
    return true;
}

ArchiveEntryName ParseArchiveEntryName(const char* entryName, const char* baseName) {
    ArchiveEntryName parsed = {NotArchiveEntry, 0, ""};
    size_t baseLength = strlen(baseName);
    if (strlen(entryName) <= baseLength || SkipPrefixIgnoringCase(entryName, baseName) == nullptr ||
        entryName[baseLength] != '.') {
        return parsed;
    }
    // What follows "{base}." splits at dots into digest, archive key, exe path key (which earlier
    // launchers did not write), extension and up to two more.
    const char* parts[7];
    size_t lengths[7];
    int count = 0;
    for (const char* part = entryName + baseLength + 1;; count++) {
        if (count == 7) return parsed;
        const char* dot = strchr(part, '.');
        parts[count] = part;
        lengths[count] = dot != nullptr ? static_cast<size_t>(dot - part) : strlen(part);
        if (lengths[count] == 0) return parsed;
        if (dot == nullptr) {
            count++;
            break;
        }
        part = dot + 1;
    }
    if (count < 3 || !IsArchiveKey(parts[1], lengths[1])) return parsed;
    bool pathKeyed = IsExePathKey(parts[2], lengths[2]);
    int at = pathKeyed ? 3 : 2;  // the extension, and what may follow it
    if (count <= at) return parsed;
    bool dynamic = PartIs(parts[at], lengths[at], "jsa");
    bool aot = PartIs(parts[at], lengths[at], "aot");
    if (!dynamic && !aot) return parsed;
    if (count == at + 1) {
        parsed.kind = ArchiveEntry;
    } else if (count == at + 2 && aot && PartIs(parts[at + 1], lengths[at + 1], "config")) {
        parsed.kind = ArchiveTrainingEntry;
    } else if (count == at + 3 && dynamic && PartIs(parts[at + 2], lengths[at + 2], "tmp") && lengths[at + 1] <= 10) {
        unsigned long long processId = 0;
        for (size_t i = 0; i < lengths[at + 1]; i++) {
            if (parts[at + 1][i] < '0' || parts[at + 1][i] > '9') return parsed;
            processId = processId * 10 + static_cast<unsigned>(parts[at + 1][i] - '0');
        }
        if (processId > 0xFFFFFFFFull) return parsed;
        parsed.kind = ArchiveTempEntry;
        parsed.processId = static_cast<unsigned long>(processId);
    }
    if (parsed.kind != NotArchiveEntry && pathKeyed) {
        memcpy(parsed.exePathKey, parts[2], kExePathKeyLength);
        parsed.exePathKey[kExePathKeyLength] = '\0';
    }
    return parsed;
}

// ---- Cleanup ----

// Removes this executable's archive files other than the archive and its own family members, and
// the temps whose writer has ended; hands back (in finishedTemp) one ended temp of the archive itself,
// which the caller may move into place. The archives of an exe of the same name elsewhere stay; those
// of an earlier launcher, whose names say no path, count as this exe's.
static void SweepArchiveFamily(const char* folder, const char* baseName, const char* exePathKey,
                               const char* archivePath, char* finishedTemp, size_t finishedTempSize) {
    const char* archiveName = LastPathPart(archivePath);
    char pattern[kWindowsPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", folder)) return;
    WalkListing(pattern, [&](const FileEntryInfo& entry) {
        ArchiveEntryName parsed = ParseArchiveEntryName(entry.name, baseName);
        if (parsed.kind == NotArchiveEntry) return true;
        if (parsed.exePathKey[0] != '\0' && !EqualsIgnoringCase(parsed.exePathKey, exePathKey)) return true;
        const char* rest = SkipPrefixIgnoringCase(entry.name, archiveName);
        bool ofThisArchive = rest != nullptr && (rest[0] == '\0' || rest[0] == '.');
        // The archive and its training file are judged by the caller, which knows what it passes on.
        if (ofThisArchive && parsed.kind != ArchiveTempEntry) return true;
        if (parsed.kind == ArchiveTempEntry && parsed.processId != GetOwnProcessId() &&
            ProcessIsRunning(parsed.processId)) {
            return true;  // a VM still writes it
        }
        char path[kWindowsPathSize];
        if (!FormatPathText(path, sizeof path, "%s\\%s", folder, entry.name)) return true;
        if (ofThisArchive && finishedTemp[0] == '\0' && parsed.processId != GetOwnProcessId()) {
            FormatPathText(finishedTemp, finishedTempSize, "%s", path);
            return true;
        }
        RemoveEntryItself(path);
        return true;
    });
}

enum ArchiveReadiness {
    ArchiveToWrite,  // no file at the name: the VM may write it
    ArchiveToUse,    // a file of this user (or in use by another start) with the VM's magic
    ArchiveRefused,  // something stands there that can't be removed: neither used nor written through
};

// The VM would map a file without the magic only to reject it (and then run without any class-data
// sharing), would write through a link, and would run code from another account's file: each is
// removed, and when that fails the archive is left out of this start.
static ArchiveReadiness ReadyArchive(const char* path) {
    StartupCacheProbe probe = ProbeStartupCacheFile(path);
    if (probe.state == EntryAbsent) return ArchiveToWrite;
    if (probe.state == EntryPresent && IsTrustedOwner(probe.owner) && (probe.hasMagic || !probe.headRead)) {
        return ArchiveToUse;
    }
    if (RemoveEntryItself(path)) return ArchiveToWrite;
    if (probe.state == EntryLink) {
        ReportLinkKept(path);
    } else if (!IsTrustedOwner(probe.owner)) {
        ReportForeignCode(path);
    }
    return ArchiveRefused;
}

// A name the VM is about to write: nothing may stand there that it would write through.
static bool ClearForWriting(const char* path) {
    return ProbeStartupCacheFile(path).state == EntryAbsent || RemoveEntryItself(path);
}

// A dynamic archive written at exit by an earlier start: moved into place when whole (the VM writes
// its header last), removed otherwise. Java 17 crashes on mapping a torn archive, so the VM never
// writes under the archive's own name.
static void SettleFinishedTemp(const char* temp, const char* archivePath) {
    StartupCacheProbe probe = ProbeStartupCacheFile(temp);
    bool whole = probe.state == EntryPresent && probe.headRead && probe.hasMagic && IsTrustedOwner(probe.owner);
    if (whole && ReadyArchive(archivePath) != ArchiveRefused && MoveArchiveIntoPlace(temp, archivePath)) return;
    RemoveEntryItself(temp);
}

static void ReadyMechanism(StartupCacheMechanism mechanism, const char* archivePath, const char* finishedTemp,
                           StartupCacheOptions* options) {
    if (mechanism == StartupCacheDynamicArchive && finishedTemp[0] != '\0') SettleFinishedTemp(finishedTemp, archivePath);
    ArchiveReadiness readiness = ReadyArchive(archivePath);
    if (readiness == ArchiveRefused) return;
    bool exists = readiness == ArchiveToUse;
    switch (mechanism) {
        case StartupCacheNone:
            return;
        case StartupCacheDynamicArchive: {
            if (exists) {
                FormStartupCacheOptions(mechanism, archivePath, true, options);
                return;
            }
            char temp[kWindowsPathSize];
            if (!FormatPathText(temp, sizeof temp, "%s.%lu.tmp", archivePath, GetOwnProcessId())) return;
            if (ClearForWriting(temp)) FormStartupCacheOptions(mechanism, temp, false, options);
            return;
        }
        case StartupCacheAutoArchive:
            FormStartupCacheOptions(mechanism, archivePath, exists, options);
            return;
        case StartupCacheAotCache: {
            // The training run writes "{archive}.config" and leaves it behind when it dies.
            char training[kWindowsPathSize];
            if (!FormatPathText(training, sizeof training, "%s.config", archivePath)) return;
            if (exists) {
                ClearForWriting(training);
                FormStartupCacheOptions(mechanism, archivePath, true, options);
            } else if (ClearForWriting(training)) {
                FormStartupCacheOptions(mechanism, archivePath, false, options);
            }
            return;
        }
    }
}

static bool HasBaseArchive(const char* vmLibraryPath) {
    char path[kWindowsPathSize];
    FileEntryInfo found;
    unsigned long error = 0;
    return FormatBaseArchivePath(path, sizeof path, vmLibraryPath) && LookUpEntry(path, &found, &error) &&
           found.attributes != kEntryAttributesInvalid && (found.attributes & kEntryAttributeFolder) == 0;
}

void PrepareStartupCache(const char* runtimeHome, const char* vmLibraryPath, const char* digestText,
                         const char* classPath, StartupCacheOptions* options) {
    options->count = 0;
    char releasePath[kWindowsPathSize];
    if (!FormatPathText(releasePath, sizeof releasePath, "%s\\release", runtimeHome)) return;
    static char release[kReleaseFileLimit];
    size_t length = 0;
    ReadFileHead(releasePath, release, sizeof release, &length);
    StartupCacheMechanism mechanism = ChooseMechanismForRelease(release, length);
    char archiveKey[64];
    if (mechanism == StartupCacheNone || !FormatArchiveKey(archiveKey, sizeof archiveKey, release, length, classPath)) {
        return;
    }
    if (MechanismNeedsBaseArchive(mechanism) && !HasBaseArchive(vmLibraryPath)) return;

    char exePath[kWindowsPathSize];
    char exePathKey[kExePathKeyLength + 1];
    if (!GetExePath(exePath, sizeof exePath) || !FormatExePathKey(exePathKey, sizeof exePathKey, exePath)) return;
    const char* folder = GetAppCacheFolder();
    char* baseName = GetExeBaseName();
    char archivePath[kWindowsPathSize];
    // A name that would be cut could be another application's archive: none then.
    if (folder != nullptr && baseName != nullptr &&
        FormatStartupArchiveName(archivePath, sizeof archivePath, folder, baseName, digestText, archiveKey,
                                 exePathKey, mechanism)) {
        char finishedTemp[kWindowsPathSize] = "";
        SweepArchiveFamily(folder, baseName, exePathKey, archivePath, finishedTemp, sizeof finishedTemp);
        ReadyMechanism(mechanism, archivePath, finishedTemp, options);
    }
    free(baseName);
}

// An option through which the user manages class-data sharing or the AOT cache already: HotSpot
// refuses some pairs (an AOT cache beside a shared archive file), and the user's choice wins anyway.
static bool IsArchiveOption(const char* text) {
    static const char* const kPrefixes[] = {"-XX:SharedArchiveFile", "-XX:ArchiveClassesAtExit", "-XX:AOT",
                                            "-XX:+AutoCreateSharedArchive", "-XX:-AutoCreateSharedArchive",
                                            "-Xshare:"};
    for (const char* prefix : kPrefixes) {
        if (text != nullptr && strncmp(text, prefix, strlen(prefix)) == 0) return true;
    }
    return false;
}

static bool UserManagesArchive(int itemCount, char** items) {
    for (int i = 0; i < g_launch.jvmOptions.count; i++) {
        if (IsArchiveOption(g_launch.jvmOptions.options[i].optionString)) return true;
    }
    for (int i = 0; i < itemCount; i++) {
        if (IsArchiveOption(items[i])) return true;
    }
    return false;
}

void FormLaunchStartupCacheOptions(const char* vmLibraryPath, int vmOptionCount, char** vmOptionItems,
                                   StartupCacheOptions* options) {
    options->count = 0;
    if (!g_launch.startupCacheMarked || UserManagesArchive(vmOptionCount, vmOptionItems)) return;
    const char* classPath = g_launch.classPath.text != nullptr ? g_launch.classPath.text : "";
    if (ClassPathHoldsFolder(classPath)) return;
    const char* digestText = g_launch.launchMode == EmbeddedCache ? GetCacheDigestText() : "";
    char applicationKey[32];
    if (IsEmpty(digestText)) {
        const char* mainClass = g_launch.mainClassName != nullptr ? g_launch.mainClassName : "";
        if (!FormatApplicationKey(applicationKey, sizeof applicationKey, mainClass, classPath)) return;
        digestText = applicationKey;
    }
    PrepareStartupCache(g_launch.runtimeHome.text != nullptr ? g_launch.runtimeHome.text : "", vmLibraryPath,
                        digestText, classPath, options);
}
