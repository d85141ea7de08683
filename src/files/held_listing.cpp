#include "files/held_listing.h"

#include <cstdint>
#include <cstdlib>

#include "base/text.h"
#include "files/entry_names.h"
#include "files/listing_walker.h"

// Names are ordered as the file system matches them, as far as ASCII goes. Names that differ only
// in the case of other letters count as different here; that only costs a copy or a lookup more.
static int CompareHeldEntries(const void* left, const void* right) {
    const FileEntryInfo* l = *static_cast<const FileEntryInfo* const*>(left);
    const FileEntryInfo* r = *static_cast<const FileEntryInfo* const*>(right);
    return CompareIgnoringCase(l->name, r->name);
}

static int CompareNameWithHeldEntry(const void* name, const void* entry) {
    return CompareIgnoringCase(static_cast<const char*>(name), (*static_cast<const FileEntryInfo* const*>(entry))->name);
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

void HoldListing(const char* pattern, HeldListing* listing) {
    *listing = HeldListing();
    if (pattern[0] == '\0') return;
    ListingEnd end = WalkListing(pattern, [listing](const FileEntryInfo& entry) {
        HoldListedEntry(listing, entry);
        return true;
    });
    if (end == ListingNotOpened) return;
    listing->opened = true;
    listing->ended = end == ListingWhole;
    SortHeldListing(listing);
}
