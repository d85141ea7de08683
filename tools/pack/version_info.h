// The version details of an exe (its VS_VERSIONINFO resource): what Explorer's Details tab shows,
// and what Task Manager names the process after (FileDescription).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/pe_image.h"

// One string of the StringFileInfo table, e.g. {"CompanyName", u"Example Ltd."}.
struct VersionString {
    std::string key;
    std::u16string value;
};

struct VersionDetails {
    uint16_t fileVersion[4] = {};
    uint16_t productVersion[4] = {};
    std::vector<VersionString> strings;  // in the order they are written
};

// A value given on the command line, under its StringFileInfo key ("FileVersion", "CompanyName").
struct VersionSetting {
    const char* key;
    std::string value;  // UTF-8
};

// Longest text of one version string, in UTF-16 units: eight of them still fit the 64 KiB that a
// version resource can hold.
constexpr size_t kMaxVersionTextUnits = 4000;

// "1", "1.2", "1.2.3" or "1.2.3.4", each number 0..65535; missing trailing numbers are 0.
bool ParseVersionNumber(const std::string& text, uint16_t parts[4]);

// Strict UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool Utf8ToUtf16(const std::string& text, std::u16string& out);
std::string Utf16ToUtf8(const std::u16string& text);

// Whether a command-line value suits its key; the message names the problem.
bool CheckVersionSetting(const VersionSetting& setting, std::string& error);

// What an exe packed without version options says: FileDescription, ProductName and InternalName
// are the output's base name, OriginalFilename its file name, and the version 1.0.
VersionDetails DefaultVersionDetails(const std::string& outputPath);

// Sets each given value (both the numbers and the string for the two versions).
void ApplyVersionSettings(VersionDetails& details, const std::vector<VersionSetting>& settings);

const std::u16string* FindVersionString(const VersionDetails& details, const std::string& key);

// Reads a VS_VERSIONINFO resource: the fixed numbers and the first string table.
bool ReadVersionInfo(const Bytes& data, VersionDetails& details, std::string& error);

// Lays out a VS_VERSIONINFO resource with one US English Unicode string table.
bool BuildVersionInfo(const VersionDetails& details, Bytes& out, std::string& error);

// "a.b.c.d" of the four numbers.
std::string VersionNumberText(const uint16_t parts[4]);

// The version details of an exe's resources as --show prints them, or "" when it has none.
std::string DescribeVersion(const std::vector<Resource>& resources);
