#include "files/replace.h"

#include <cstdio>

#include "base/app_paths.h"
#include "base/diagnostics.h"
#include "base/text.h"
#include "files/entry_names.h"
#include "files/listing_walker.h"

bool FormatTempNameIn(char* buffer, size_t size, const char* folder, const char* stem) {
    unsigned char random[8];
    if (!FillRandomBytes(random, sizeof random)) {
        if (size > 0) buffer[0] = '\0';
        return false;
    }
    unsigned long long suffix = 0;
    for (unsigned char byte : random) suffix = suffix << 8 | byte;
    return FormatPathText(buffer, size, "%s\\~%s.%lu.%016llx.tmp", folder, stem, GetOwnProcessId(), suffix);
}

bool FormatTempPathBeside(char* buffer, size_t size, const char* target, const char* stem) {
    int folderLength = static_cast<int>(LastPathPart(target) - target);
    if (folderLength > 0) folderLength--;  // without the separator, which the name adds
    char folder[kWindowsPathSize];
    return FormatPathText(folder, sizeof folder, "%.*s", folderLength, target) &&
           FormatTempNameIn(buffer, size, folder, stem);
}

void ReportLinkKept(const char* path) {
    PrintMessage(stderr, "Skipped %s: a link stands there and could not be removed\n", path);
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

bool EnsureRealFolder(const char* path, unsigned long attributes) {
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

bool RemoveEntryAndContent(const char* path, unsigned long attributes) {
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

bool RemoveTree(const char* path) {
    unsigned long attributes = GetEntryAttributes(path);
    if (attributes == kEntryAttributesInvalid) return false;
    if (IsLinkAttributes(attributes)) return RemoveEntryItself(path);
    char pattern[kWindowsPathSize];
    if (!FormatPathText(pattern, sizeof pattern, "%s\\*", path)) return false;
    ListingEnd end = WalkListing(pattern, [path](const FileEntryInfo& entry) {
        if (IsDotEntryName(entry.name)) return true;
        char child[kWindowsPathSize];
        return FormatPathText(child, sizeof child, "%s\\%s", path, entry.name) &&
               RemoveEntryAndContent(child, entry.attributes);
    });
    if (end != ListingWhole) return false;
    return RemoveEntryItself(path);
}
