// Telling a first start from a later one, forwarding a later start's arguments, and the listener.
#pragma once

// True for the first instance of mainClassName in this logon session, false when one is running.
bool CheckSingleInstance(const char* mainClassName);

// A first instance holds its instance mutex until it has prepared what later starts read (the sync
// mirror); then it lets go. A later start waits for that, bounded, before it reads the mirror, so
// it does not start the application from a half-copied folder.
void ReleaseFirstInstanceHold();
void WaitForFirstInstance();

// Sends the arguments to the running instance's listener window and raises that instance; false when
// no listener window exists (then nothing is sent).
bool ForwardToRunningInstance(const char* mainClassName, int argc, char** argv);

// Starts the listener thread and its hidden window of class mainClassName; false when the thread
// could not be created. mainClassName must stay valid and unchanged for the life of the process.
bool StartInstanceListener(const char* mainClassName);
