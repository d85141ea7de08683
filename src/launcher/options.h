// The launcher's own command-line options.
#pragma once

// Parses `*count` items of `*items`; on success both are replaced by the unrecognised items, in order.
// On a malformed option returns false and sets `*status` to the exit status to return (kExitLaunchFailed).
bool ParseLauncherOptions(int* count, char*** items, int* status);

// How the launcher takes one option item, by the same table the parser uses.
enum OptionItemKind {
    LauncherOptionItem,  // acted on by the launcher itself
    VmSwitchItem,        // handed to the VM, as written or translated
    UnknownOptionItem,   // not in the table: printed as a possible argument and passed to the VM as written
};
// *takesValue tells whether the item consumes the next item as its value; *vmForm is the text the VM
// receives for a VmSwitchItem (the item itself otherwise).
OptionItemKind ClassifyOptionItem(const char* item, bool* takesValue, const char** vmForm);
