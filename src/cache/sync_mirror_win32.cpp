#include "sync_mirror.h"

// The sync mirror is not built yet: the sync directory is used as it already is.
bool MirrorSyncFolder(const char*, const char*) { return false; }
void AddSyncLibsToClassPath() {}
