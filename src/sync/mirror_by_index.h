// The mirror driven by the index at the source's root: one read of the index per unchanged
// start (its first bytes), and a refresh that switches the whole mirror from one verified generation to the next.
#pragma once

// The first instance's mirror when the source holds an index that could be opened; false, with
// nothing done, when it holds none (the caller then mirrors by listing). Ends by putting the
// mirror's libs jars on the class path, as a later instance does.
bool MirrorSyncFolderByIndex(const char* sourceRoot);
