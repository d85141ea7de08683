// The launcher's own splash window and the hand-over to the runtime's splash library.
#pragma once

void ShowLauncherSplash(const char* splashOption);
void CloseLauncherSplash();
void ShowRuntimeSplash(const char* splashOption);
