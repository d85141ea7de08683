#include "splash.h"

// The splash window and the runtime splash bridge are not built yet: no splash is shown.
void ShowLauncherSplash(const char*) {}
void CloseLauncherSplash() {}
void ShowRuntimeSplash(const char*) {}
