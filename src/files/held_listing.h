// A folder's listing held in memory and sorted by name, so that two sides of a mirror are compared
// without a call per entry.
#pragma once

#include <cstddef>

#include "files/files_edge.h"

struct HeldListing {
    FileEntryInfo* entries = nullptr;  // in listing order, "." and ".." left out
    size_t count = 0;
    size_t capacity = 0;
    const FileEntryInfo** byName = nullptr;  // the entries ordered by case-folded name, once sorted
    bool opened = false;  // the listing could be opened
    bool ended = false;   // it ended with no entries left, not with an error
    bool failed = false;  // memory ran out: some entries are not held
};

void HoldListedEntry(HeldListing* listing, const FileEntryInfo& entry);
bool SortHeldListing(HeldListing* listing);
// Matches names as the file system does for ASCII letters; null when not held.
const FileEntryInfo* FindHeldEntry(const HeldListing* listing, const char* name);
// Whether the listing holds every entry the folder had, so that a name missing from it is not there.
bool HeldListingIsWhole(const HeldListing* listing);
void ReleaseHeldListing(HeldListing* listing);
// Reads a whole listing into memory and sorts it; an empty pattern opens nothing.
void HoldListing(const char* pattern, HeldListing* listing);
