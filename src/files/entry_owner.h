// Who owns a cache file or mirror entry that the launcher runs as code, and what to do when that is
// another account: the cache is machine-wide, so another account may have planted it there.
#pragma once

enum EntryOwner {
    OwnerCurrentUser,
    OwnerSystem,
    OwnerAdministrators,
    OwnerOther,
    OwnerUnreadable,  // counts as another account
};

enum CodeEntryAction {
    UseCodeEntry,      // owned by the current user, SYSTEM or the Administrators group
    VerifyCodeDigest,  // another owner, but a known digest names the content: replace it on a mismatch
    ReplaceCodeEntry,  // another owner and nothing to check against: replace it by a fresh copy
};

CodeEntryAction DecideCodeEntryAction(EntryOwner owner, bool digestKnown);
bool IsTrustedOwner(EntryOwner owner);

// Tells on stderr which file the launch refuses to run.
void ReportForeignCode(const char* path);

