// The SyncFolder mode: a source application folder mirrored into the local sync directory.
#pragma once

bool MirrorSyncFolder(const char* sourceRoot, const char* relativeFolder);
void AddSyncLibsToClassPath();
