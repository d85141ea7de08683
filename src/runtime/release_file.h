// The runtime's release file, the text beside its bin folder that names its version.
#pragma once

#include <cstddef>

// The release file is a few hundred bytes; only this much is read (and hashed into the start-up
// cache's key).
const size_t kReleaseFileLimit = 8192;

// The feature version in the JAVA_VERSION line of a release file's text ("17.0.9" and "17" give 17,
// "1.8.0_392" gives 8); 0 when there is no such line or its value is no version.
int ReadReleaseJavaVersion(const char* releaseText, size_t length);
