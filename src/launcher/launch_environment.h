// Where the launched application works and writes: the packed log file and working folder.
#pragma once

// Before anything is printed: the LOG-FILE path (relative to the exe's folder) takes the standard
// streams. False after a fatal message.
bool StartLaunchLog();
// Right before the VM starts: the WORKING-DIR folder ("exe" for the exe's own, a relative path
// from there). False after a fatal message.
bool EnterWorkingFolder();
// The box of a GUI exe with a log file that ends before main runs, so the user learns where to look.
void ReportLaunchLog(int status);
