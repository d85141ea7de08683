// The runtime search an exe asks for with its runtime rule (accepted versions, sources and their
// order, a download page): candidates from each source, checked by their files, one chosen, and a
// single message a user can act on when none fits. Without a rule the launch keeps the search of
// runtime_home.h.
#pragma once

#include <cstddef>

#include "config/resource_contract.h"
#include "runtime/runtime_choice.h"

struct RuntimeRule {
    bool packed;  // the exe carries at least one of the three resources
    JavaVersionRange range;
    RuntimeSearchOrder order;
    char downloadUrl[kTextResourceLimit];  // empty when none (or not a valid page)
};

// Reads JAVA-VERSION, RUNTIME-SEARCH and DOWNLOAD-URL; a malformed value is reported and left at
// its default (any version, every source, no page).
void ReadRuntimeRule(RuntimeRule* rule);

// Whether the exe carries a runtime rule; reads it into rule when that is not null.
bool RuntimeRulePacked(RuntimeRule* rule);

// Every runtime home the sources of order name, in that order, each home once, with its files read.
// In the SyncFolder mode the bundled source looks in the mirror before the application home.
int CollectRuntimeCandidates(const RuntimeSearchOrder& order, bool syncMode, RuntimeCandidate* candidates,
                             int capacity);

// The chosen runtime's home into home; false after the message that nothing fits.
bool FindRuntimeByRule(const RuntimeRule& rule, bool syncMode, char* home, size_t size);

// Whether FindRuntimeByRule ran (and so told the user itself when nothing fit).
bool RuntimeSearchedByRule();
// The candidates of the last FindRuntimeByRule, for the packer's check.
const RuntimeCandidate* LastRuntimeCandidates(int* count);
