// Whole-file reads and all-or-nothing writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// On failure `error` is the system's reason, e.g. "No such file or directory".
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out, std::string& error);

// Writes to a temporary file beside `path`, then renames it over `path`, so that a failure never
// leaves a half-written output behind.
bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Whether path opens for reading.
bool FileExists(const std::string& path);
