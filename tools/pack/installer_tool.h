// quorvia-pack --image DIR and --msi FILE: the app image (exe, lib\, jre\, checked like --check)
// and the Windows Installer package built from it with wixl.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "pack/argument_file.h"

struct InstallerRequest {
    std::string image, msi, runtime, jlinkModules, upgradeCode, scope, shortcuts, licenseFile;
    std::vector<std::string> libs, associations;
    std::string classesJar;  // --classes among the pack options: jdeps reads it too
    bool Requested() const { return !image.empty() || !msi.empty() || Given(); }
    // Whether an option only the image or the MSI uses was given.
    bool Given() const;
};

// The --help lines of these options.
extern const char kInstallerUsage[];

bool InstallerOptionTakesValue(const std::string& option);

// Every image and MSI option (each takes a value), for --list-options; and which name a file.
std::vector<std::string> InstallerOptionNames();
bool IsInstallerPathOption(const std::string& option);
// "image" for the options that shape the app image, "msi" for those only the MSI takes.
const char* InstallerOptionGroup(const std::string& option);

// Moves the image and MSI options out of `args`, leaving the pack options (`packTakesValue` says
// which of those take the next argument, so that a value is never taken for an option). Returns 0,
// or the exit status after printing why.
int TakeInstallerOptions(std::vector<Argument>& args, bool (*packTakesValue)(const std::string&),
                         InstallerRequest& request, FILE* err);

// The pack options that find the --lib jars in lib\: JAR-PATH lib\FIRST.jar unless --classes or
// --jar-path is among `packArgs`, and CLASS-PATH #/lib/... for the others unless --class-path is.
std::vector<Argument> ImageLaunchArguments(const InstallerRequest& request, const std::vector<Argument>& packArgs);

// Runs the request. `packing` says whether pack options were given; `out` is --out (a file name
// in the image) or "". `pack` writes the exe to the path it is given and returns the exit status.
int RunInstaller(const InstallerRequest& request, bool packing, const std::string& out,
                 const std::function<int(const std::string&)>& pack, FILE* stdOut, FILE* err);
