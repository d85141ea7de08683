// The launcher's process exit statuses, apart from the application's own (its System.exit code).
#pragma once

enum LauncherExitStatus : int {
    // The VM could not be created, main is missing or threw, a second instance handed its
    // arguments over, a malformed option, or the application jar could not be saved.
    kExitLaunchFailed = 1,
    kExitNoRuntime = 2,          // no Java runtime home was found
    kExitNoVmType = 3,           // the runtime's jvm.cfg names no VM type
    kExitNoVmLibrary = 5,        // no VM type of jvm.cfg has its jvm.dll
    kExitVmLibraryUnusable = 6,  // jvm.dll does not load or lacks an entry point
    kExitNoMainClass = -1,       // neither the configuration file nor MAIN-CLASS names one
};
