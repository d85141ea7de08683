// The mirror's place in the application folder, shared by both ways of mirroring: the live mirror
// and the folders beside it, their recovery after a crash, and what a mirror left that the launch
// must not run.
#pragma once

#include "base/app_paths.h"

// The folders and the record beside the live mirror, all in the application folder.
struct MirrorPaths {
    char live[kWindowsPathSize];        // "sync": the mirror the VM runs from
    char next[kWindowsPathSize];        // "sync.next": a generation being built
    char old[kWindowsPathSize];         // "sync.old": the previous mirror during a switch
    char record[kWindowsPathSize];      // "sync.generation": a copy of the applied index
    char recordTemp[kWindowsPathSize];  // a temporary name beside the record
};

// False when there is no application folder or a path would not fit.
bool FormMirrorPaths(MirrorPaths* paths);

bool IsRealFolder(const char* path);
bool EntryExists(const char* path);
// Removes whatever stands at path (a link itself, a folder with its content); true when it is gone.
bool ClearEntry(const char* path);

// A switch cut between its two renames leaves no live mirror but the previous one beside it: it is
// moved back, so that no start makes an empty mirror over one that can be had again. A build cut
// short leaves its folder behind, which goes.
void RecoverInterruptedSwitch(const MirrorPaths& paths);

// The outcome of the last mirror, for the launch to act on: code of another account that could not
// be replaced, or code that should have been replaced and could not (the start would run a mix of
// two versions). Each is told on stderr where it is found.
void NoteForeignCode(const char* path);
void NoteStaleCode(const char* path);
bool MirrorKeptForeignCode();
// The first code file left stale, or null.
const char* MirrorLeftStaleCode();
void ForgetMirrorOutcome();

// Debug output of a start that could not reach the share and runs the mirror as it is.
void NoteShareUnreachable(const char* sourceRoot);
