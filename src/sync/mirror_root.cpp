#include "sync/mirror_root.h"

#include <cstdio>

#include "base/diagnostics.h"
#include "base/launch_state.h"
#include "base/text.h"
#include "files/app_folder.h"
#include "files/entry_names.h"
#include "files/entry_owner.h"
#include "files/files_edge.h"
#include "files/replace.h"

static const char kRecordTempStem[] = "sync";

static bool g_foreignCodeKept;
static char g_staleCode[kWindowsPathSize];

bool FormMirrorPaths(MirrorPaths* paths) {
    const char* folder = GetAppCacheFolder();
    return folder != nullptr && FormatPathText(paths->live, sizeof paths->live, "%s\\sync", folder) &&
           FormatPathText(paths->next, sizeof paths->next, "%s\\sync.next", folder) &&
           FormatPathText(paths->old, sizeof paths->old, "%s\\sync.old", folder) &&
           FormatPathText(paths->record, sizeof paths->record, "%s\\sync.generation", folder) &&
           FormatTempPathBeside(paths->recordTemp, sizeof paths->recordTemp, paths->record, kRecordTempStem);
}

bool IsRealFolder(const char* path) {
    unsigned long attributes = GetEntryAttributes(path);
    return IsFolderAttributes(attributes) && !IsLinkAttributes(attributes);
}

bool EntryExists(const char* path) { return GetEntryAttributes(path) != kEntryAttributesInvalid; }

bool ClearEntry(const char* path) {
    if (!EntryExists(path)) return true;
    RemoveTree(path);
    if (EntryExists(path)) RemoveEntryItself(path);
    return !EntryExists(path);
}

void RecoverInterruptedSwitch(const MirrorPaths& paths) {
    if (!EntryExists(paths.live) && IsRealFolder(paths.old)) MoveEntry(paths.old, paths.live);
    ClearEntry(paths.old);
    ClearEntry(paths.next);
}

void NoteForeignCode(const char* path) {
    ReportForeignCode(path);
    g_foreignCodeKept = true;
}

void NoteStaleCode(const char* path) {
    PrintMessage(stderr, "Could not replace %s with its copy from the sync folder\n", path);
    if (g_staleCode[0] == '\0') FormatPathText(g_staleCode, sizeof g_staleCode, "%s", path);
}

bool MirrorKeptForeignCode() { return g_foreignCodeKept; }

const char* MirrorLeftStaleCode() { return g_staleCode[0] != '\0' ? g_staleCode : nullptr; }

void ForgetMirrorOutcome() {
    g_foreignCodeKept = false;
    g_staleCode[0] = '\0';
}

void NoteShareUnreachable(const char* sourceRoot) {
    if (g_launch.debugEnabled) {
        PrintMessage(stdout, "The sync folder %s can't be reached: starting from the mirror as it is\n", sourceRoot);
    }
}
