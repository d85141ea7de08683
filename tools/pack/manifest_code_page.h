// The opt-in UTF-8 code page of a packed exe, set in its application manifest.
#pragma once

#include <string>

// Adds <activeCodePage>UTF-8</activeCodePage>, with which Windows 10 1903 and later run every
// ANSI call of the process in UTF-8. A manifest that names a code page already is kept as it is.
bool AddUtf8CodePage(const std::string& manifest, std::string& out, std::string& error);
