// The Windows Installer package of an app image: its settings, checked as Windows Installer reads
// them (wixl checks almost nothing), and the WiX source wixl builds it from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MsiAssociation {
    std::string extension;  // without the dot
    std::string description;
};

// What the exe's SERVICE-* resources ask for; name empty when the exe is no service.
struct MsiService {
    std::string name, displayName, description;
    std::string start = "auto";  // auto, delayed or demand
    std::string account;         // empty: LocalSystem
    std::vector<std::string> dependsOn;
};

struct MsiSettings {
    std::string productName;
    std::string company;
    std::string version;      // major.minor.build, as Windows Installer compares them
    std::string upgradeCode;  // upper case, without braces
    bool perUser = false;
    bool startMenuShortcut = false;
    bool desktopShortcut = false;
    std::vector<MsiAssociation> associations;
    std::string licenseFile;  // a file installed beside the exe, "" for none
    MsiService service;
};

// One file of the image: its path below the image folder ('/' separated) and where to read it.
struct ImageFile {
    std::string relative;
    std::string source;
};

bool ParseUpgradeCode(const std::string& text, std::string& code, std::string& error);
// The exe's product version as an MSI ProductVersion: a fourth field is refused, because Windows
// Installer ignores it and two builds differing only there would install side by side.
bool MsiVersionText(const uint16_t version[4], std::string& text, std::string& error);
bool ParseShortcuts(const std::string& list, MsiSettings& settings, std::string& error);
bool ParseAssociation(const std::string& spec, MsiAssociation& association, std::string& error);
// A product name (a folder and a registry key name) or company name (a registry key name).
bool CheckInstallName(const std::string& what, const std::string& name, bool folder, std::string& error);

// The complete WiX source. `exeName` is the exe's relative path among `files`.
std::string WixSource(const MsiSettings& settings, const std::string& exeName, const std::vector<ImageFile>& files);
