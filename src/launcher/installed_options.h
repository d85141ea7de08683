// Settings an installed exe takes without repacking: the options files beside the exe and in the
// user's profile, the packed default arguments, and ${NAME} in the packed VM options and class path.
// Without their resources each step here changes nothing.
#pragma once

#include "config/options_file.h"
#include "config/resource_contract.h"

// Right after the command line: reads the options files and checks the packed texts that expand
// variables; puts the prepended class path entries after the command line's. False after a
// fatal message naming the file and line.
bool ReadInstalledOptions();
// After the configuration file: the files' heap percentages, unless the command line set them.
void ApplyInstalledHeapPercents();
// After the packed class path: the appended entries.
void AddInstalledClassPath();
// After the packed VM options: the files' VM options, then the command line's -D options again,
// so that the last one, which the VM takes, is still the command line's.
void AddInstalledVmOptions();
// The packed default arguments, then the files' arguments, then argc/argv (the user's own).
// False after a fatal message.
bool ComposeApplicationArguments(int* argc, char*** argv);

// The items read, for the packer's --check.
const OptionsFileItems& InstalledOptionsItems();

// Splits `text` in place as the C runtime splits a command line (blanks separate, "..." quotes,
// backslashes escape a quote); at most `max` items. Returns the count.
int SplitArgumentText(char* text, char** items, int max);

// A text resource expanded (null when absent); false after a fatal message naming the resource.
bool ReadExpandedResource(const LaunchResource& resource, char** text);
