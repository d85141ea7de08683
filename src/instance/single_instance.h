// Telling a first start from a later one, forwarding a later start's arguments, and the listener.
#pragma once

bool CheckSingleInstance(const char* mainClassName);
void ForwardToRunningInstance(const char* mainClassName, int argc, char** argv);
void StartInstanceListener(const char* mainClassName);
