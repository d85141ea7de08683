// Replacing and removing entries without ever writing through a link: the copy rule, replacing a
// file by a copy made under a temporary name, real folders where links stood, and whole trees removed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/files_edge.h"

// The copy rule: the target differs unless it opened and has the low 32 bits of the source's size and
// exactly its last-write time.
bool CopyTargetDiffers(const CopyTargetProbe& probe, uint32_t sourceSizeLow, uint64_t sourceLastWriteTime);

// What CopyWhenDifferent did.
enum CopyOutcome {
    CopyNotNeeded,        // the target is the source's copy (and, if code, owned by a trusted account)
    CopyMade,
    CopyFailed,           // the older target, if any, stays
    CopyLinkKept,         // a link stands at the target and could not be replaced (told on stderr)
    CopyForeignCodeKept,  // code owned by another account stays at the target (told on stderr)
};

// Applies the copy rule to one source file and replaces the target with a copy, made under temp, when
// different. A link at the target is never opened through; code owned by another account is copied
// again whatever its size and time.
CopyOutcome CopyWhenDifferent(const char* source, const char* temp, const char* target, uint32_t sourceSizeLow,
                              uint64_t sourceLastWriteTime, bool code);

// Replaces target with a copy of source made under temp, a name in target's folder, so that no reader
// ever finds a cut file at target. A link at target (as its attributes tell) is removed itself, never
// what it points to; a read-only target is made writable first. The copy keeps the source's
// attributes and last-write time. False, with target as it was, when that can't be done.
bool ReplaceWithCopy(const char* source, const char* temp, const char* target, unsigned long targetAttributes);

// "{folder}\~{stem}.{this process's id}.{16 random hex digits}.tmp": a temporary name nobody can
// guess, so that no link can wait at it; the files are made with CREATE_NEW, never through a link.
// False, with buffer emptied, when it would not fit or the system gives no random bytes.
bool FormatTempNameIn(char* buffer, size_t size, const char* folder, const char* stem);
// The same in the target's folder: the name a replacement of target is made under.
bool FormatTempPathBeside(char* buffer, size_t size, const char* target, const char* stem);

// Tells on stderr that a link stands at path and could not be removed: that entry is skipped.
void ReportLinkKept(const char* path);

// A folder about to be entered or written into: a link there is removed itself and a real folder
// made in its place. False, told on stderr, when the link stays: nothing below it may be touched.
// attributes are the entry's as a listing or a query gave them (invalid: not there).
bool EnsureRealFolder(const char* path, unsigned long attributes);

// Removes one entry itself, a read-only one too; a folder with everything in it; a link itself,
// never what it points to (told on stderr when it stays).
bool RemoveEntryAndContent(const char* path, unsigned long attributes);
// Removes a folder and everything in it; a link is removed itself, never what it points to.
bool RemoveTree(const char* path);
