// The optional INI-style configuration file, section "java", that fills settings still unset.
#pragma once

bool ReadConfigFile();

// Reads one key of section "java" with default ""; returns the number of characters read.
unsigned ReadProfileValue(const char* key, char* buffer, unsigned size, const char* path);

// The full path of `path` against the current directory; false when it does not fit.
bool MakeAbsolutePath(const char* path, char* absolutePath, unsigned size);
