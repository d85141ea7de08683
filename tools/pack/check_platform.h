// The launcher's platform edge as the pre-flight check provides it: the launch resources come from the
// exe being checked, files from this machine, and what only the user's PC can answer (registry,
// physical memory) is recorded as asked instead of answered.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "pack/pe_image.h"

// The machine-wide cache folder of a typical PC, empty before the first start: the check looks
// at what a clean PC would have, not at the files a start left there.
inline constexpr char kCheckCacheFolder[] = "C:\\ProgramData\\.quorvia\\cache";

struct CheckPlatform {
    std::string exeWindowsPath;            // the exe as the launcher sees its own path
    const std::vector<Resource>* resources = nullptr;
    std::vector<std::string> registryKeysAsked;
    std::vector<std::pair<std::string, std::string>> profileValues;  // configuration keys read, with values
    std::vector<std::string> profileFilesRead;  // configuration files the launcher's reader asked keys of
    std::vector<std::string> fatalMessages;
    std::vector<std::string> messages;     // what the launcher's readers printed, in order
    // Physical memory as the launcher's heap sizing sees it: 0 (unknown) for --check, this
    // machine's for --try.
    uint64_t totalMemory = 0;
    uint64_t availableMemory = 0;
};

extern CheckPlatform g_checkPlatform;

// A path as the launcher forms it (backslashes) on this machine, and back.
std::string HostPath(const std::string& windowsPath);
std::string WindowsPath(const std::string& hostPath);

// Starts a check of one exe: empties the launch state and the records, and collects messages.
void BeginCheckPlatform(const std::string& exeHostPath, const std::vector<Resource>& resources);
void EndCheckPlatform();
