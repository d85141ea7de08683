#include "files/entry_owner.h"

#include <cstdio>

#include "base/diagnostics.h"

bool IsTrustedOwner(EntryOwner owner) {
    return owner == OwnerCurrentUser || owner == OwnerSystem || owner == OwnerAdministrators;
}

CodeEntryAction DecideCodeEntryAction(EntryOwner owner, bool digestKnown) {
    if (IsTrustedOwner(owner)) return UseCodeEntry;
    return digestKnown ? VerifyCodeDigest : ReplaceCodeEntry;
}

void ReportForeignCode(const char* path) {
    PrintMessage(stderr, "%s belongs to another account and could not be replaced\n", path);
}
