// What an entry is, told from its name or its attributes: jars, code, temporary files, folders and
// links, and lookup errors that mean "not there".
#pragma once

#include <cstddef>

// A jar: the name's last "." begins exactly ".jar" (case-sensitive), file or folder alike.
bool IsJarName(const char* name);
// "." and "..", the only listing entries never handled.
bool IsDotEntryName(const char* name);
// Files that the VM or the launcher load and run: jars, DLLs, programs, class-data and AOT archives
// (the VM maps them as code), and the runtime's class image "modules". Letter case is not significant.
bool IsCodeFileName(const char* name);

bool IsFolderAttributes(unsigned long attributes);
bool IsLinkAttributes(unsigned long attributes);
bool IsReadOnlyAttributes(unsigned long attributes);
// Valid attributes of neither a folder nor a link.
bool IsPlainFileAttributes(unsigned long attributes);

// Whether a failed lookup's error says the entry does not exist (file or path not found), as opposed
// to a lookup that could not be answered (share gone, access denied, network error).
bool LookupErrorMeansAbsent(unsigned long error);

// Whether "~{stem}.{digits}.{16 hex digits}.tmp" or "~{stem}.{digits}.tmp" is the name (stem
// compared without regard to letter case), and the process id it carries.
bool ParseTempEntryName(const char* name, const char* stem, unsigned long* processId);
