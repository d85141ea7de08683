// The sync mirror driven by the index at the source's root: one read of the index per unchanged
// start, and a refresh that switches the whole mirror from one verified generation to the next.
#pragma once

#include "cache/sync_index.h"

// The first instance's mirror when the source holds an index that could be opened; false, with
// nothing done, when it holds none (the caller then mirrors by listing). Ends by putting the
// mirror's libs jars on the class path, as a later instance does.
bool MirrorSyncFolderByIndex(const char* sourceRoot);

// What one attempt to apply a generation came to.
enum GenerationApplied {
    GenerationSwitched,     // the mirror holds the new generation, every file verified
    GenerationSourceMoved,  // a copied file did not match its digest: the share changed meanwhile
    GenerationNotApplied,   // a copy, a link or the switch failed: the mirror is as it was
};

// Builds the next generation beside the live mirror (unchanged files linked once their digest
// matched, the others copied from the source and verified) and switches the two. The record of
// the applied generation is written last. Exposed for the unit tests.
GenerationApplied ApplySyncGeneration(const char* sourceRoot, const SyncIndex& index);
