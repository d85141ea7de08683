// Packages that can never start, or not as meant, found when packing and again by --check: a base
// that is not a launcher, no main class, no application jar, heap percentages the launcher ignores,
// and non-ASCII text that a PC in another code page reads mangled.
#pragma once

#include <string>
#include <vector>

#include "config/resource_contract.h"
#include "pack/pe_image.h"

// The launcher's own mark (in src/launcher/launcher.rc, not read at launch): the packer packs only a
// base that carries it. Packing keeps every other resource and signing changes none, so it survives both.
inline constexpr LaunchResource kLauncherMarkResource = {"QUORVIA-LAUNCHER", 1};

namespace check {
struct Report;
// Warns of heap percentages the launcher ignores, in place of their OK lines; true when it did.
bool DescribeHeapProblem(Report& report, const std::vector<Resource>& resources);
}  // namespace check

bool CarriesLauncherMark(const std::vector<Resource>& resources);

struct PackInputs {
    std::string outFolder;    // the folder of the exe being written, for # and JAR-PATH
    std::string classesFile;  // as given with --classes, to name it
};

struct PackReview {
    std::vector<std::string> notes;     // what the packer chose for the user
    std::vector<std::string> warnings;  // the package starts, but not as the user may think
    std::string refusal;                // why the package cannot start; empty when it can
    int refusalStatus = 0;              // 1 for a bad file or value, 2 for missing options
};

// Reviews the resources the packed exe is to carry; names the main class from the Main-Class of
// the application jar's manifest when none is given.
PackReview ReviewPackage(std::vector<Resource>& resources, const PackInputs& inputs);

// The same risks as --check findings, for a packed exe.
void DescribePackageRisks(check::Report& report, const std::vector<Resource>& resources);

// Why the heap percentages add no heap option; empty when they do or are not given.
std::string HeapPercentProblem(const std::vector<Resource>& resources);
