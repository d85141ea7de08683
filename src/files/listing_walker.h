// Walks a folder listing with one owner for the listing handle: opened, read to its end, closed.
#pragma once

#include "files/files_edge.h"

enum ListingEnd {
    ListingNotOpened,
    ListingWhole,    // ended with no entries left
    ListingBroken,   // ended with an error: some entries may be missing
    ListingStopped,  // the visitor asked to stop
};

// Calls visit(const FileEntryInfo&) for each entry of pattern's listing, "." and ".." included, in
// listing order, until it returns false; the listing is closed whatever happens.
template <typename Visit>
ListingEnd WalkListing(const char* pattern, Visit visit) {
    FileEntryInfo entry;
    EntryListing listing = OpenEntryListing(pattern, &entry);
    if (listing == nullptr) return ListingNotOpened;
    bool more = true;
    bool endedCleanly = false;
    while (more) {
        if (!visit(static_cast<const FileEntryInfo&>(entry))) {
            CloseEntryListing(listing);
            return ListingStopped;
        }
        more = NextListedEntry(listing, &entry, &endedCleanly);
    }
    CloseEntryListing(listing);
    return endedCleanly ? ListingWhole : ListingBroken;
}
